#include "filectrls/FileInfo.h"

#include "base/ResourceStrings.h"
#include "platform/CodePage.h"
#include "platform/FsString.h"
#include "platform/Mounts.h"
#include "platform/Paths.h"

TFileInfo NewFileInfo(const TSearchRec& rec) {
    return TFileInfo(rec);
}

QString NotUtf8NameHint() {
    return rs::format(rs::SNotUtf8Name, {platform::conversionCodePage()});
}

QString FileTypeText(TFileInfo& entry) {
    if (!entry.TypeName.isEmpty())
        return entry.TypeName;
    if (entry.Attr & faVolumeID)
        return rs::text(rs::SVolume);
    entry.TypeName = rs::text((entry.Attr & faDirectory) ? rs::SDirectory : rs::SFile);
    return entry.TypeName;
}

QString AttributeLetters(quint32 attr) {
    QString letters;
    if (attr & faReadOnly)
        letters += QLatin1Char('R');
    if (attr & faHidden)
        letters += QLatin1Char('H');
    if (attr & faSysFile)
        letters += QLatin1Char('S');
    if (attr & faArchive)
        letters += QLatin1Char('A');
    return letters;
}

bool HasDriveLetter(QStringView s) {
    if (s.size() < 2)
        return false;
    const char16_t c = s[0].unicode();
    return ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) && s[1] == u':';
}

bool IsDriveRoot(QStringView path) {
    return path == u"/";
}

QString NormalizeLocation(const QString& dir) {
    if (IsDriveRoot(dir))
        return dir;
    // Like the full-path service: an empty path has no folder, so it becomes the root.
    if (dir.isEmpty())
        return QStringLiteral("/");
    return platform::fromFsBytes(
        platform::normalizePath(platform::toFsBytes(dir), platform::currentFolder()));
}

void FillDriveEntry(const QString& drive, TSearchRec& rec) {
    platform::fillDriveEntry(platform::toFsBytes(drive), rec);
}

bool SameNameIgnoringCase(QStringView a, QStringView b) {
    return a.size() == b.size() && a.compare(b, Qt::CaseInsensitive) == 0;
}

TreePathWalk SplitTreePath(QStringView path, const QList<QString>& roots) {
    // Mounted volumes nest ("/" holds every other mount path), so the longest match wins; a
    // root matches only whole components.
    TreePathWalk walk;
    qsizetype matched = -1;
    for (qsizetype i = 0; i < roots.size(); ++i) {
        QStringView prefix = roots[i];
        if (prefix.isEmpty())
            continue;
        if (prefix.size() > 1 && prefix.endsWith(u'/'))
            prefix.chop(1);
        if (prefix.size() <= matched || path.size() < prefix.size() ||
            !SameNameIgnoringCase(path.left(prefix.size()), prefix))
            continue;
        if (!prefix.endsWith(u'/') && path.size() > prefix.size() && path[prefix.size()] != u'/')
            continue;
        walk.root = i;
        matched = prefix.size();
    }
    if (walk.root < 0)
        return walk;
    QStringView rest = path.mid(matched);
    if (rest.startsWith(u'/'))
        rest = rest.mid(1);
    for (QStringView component : rest.tokenize(u'/')) {
        if (component.isEmpty())
            break;
        walk.components.append(component);
    }
    return walk;
}
