#include "filectrls/FileIconProvider.h"

#include "platform/FsString.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QMimeDatabase>
#include <QPainter>
#include <QStyle>

#include <array>
#include <filesystem>
#include <system_error>

// The program's bitmaps live in a static library: make sure its resources are registered.
static void initFileCtrlsResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(filectrls);
        return true;
    }();
    (void)done;
}

namespace {

const std::array<const char*, 7> kStandardBitmaps = {
    "QFC_FLDCLOSED",     "QFC_FLDOPEN", "QFC_HIDDENFLDCLOSED", "QFC_HIDDENFLDOPEN", "QFC_DEFFILE",
    "QFC_HIDDENDEFFILE", "QFC_LINK"};

// The theme's names for the six standard images, in their fixed order.
const std::array<const char*, 6> kStandardThemeIcons = {
    "folder", "folder-open", "folder", "folder-open", "text-x-generic", "text-x-generic"};

// The extension with its dot, taken from the last '.' after the last '/'; empty when none.
QString extractFileExt(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0 || dot < name.lastIndexOf(u'/'))
        return {};
    return name.mid(dot);
}

bool themeIcon(const QString& name, QIcon& icon) {
    if (name.isEmpty() || !QIcon::hasThemeIcon(name))
        return false;
    icon = QIcon::fromTheme(name);
    return !icon.isNull();
}

bool iconForMimeType(const QMimeType& type, QIcon& icon) {
    if (!type.isValid() || type.isDefault())
        return false;
    return themeIcon(type.iconName(), icon) || themeIcon(type.genericIconName(), icon);
}

bool isExecutableType(const QMimeType& type) {
    for (const char* name :
         {"application/x-executable", "application/x-pie-executable", "application/x-sharedlib",
          "application/x-shellscript", "application/x-ms-dos-executable"}) {
        if (type.inherits(QString::fromLatin1(name)))
            return true;
    }
    return false;
}

// Qt opens files through the local 8-bit encoding; a name that is not valid UTF-8 then cannot
// be reached by Qt, and such a file is looked up by its name only.
bool qtCanOpen(const QString& path) {
    return QFile::encodeName(path) == platform::toFsBytes(path);
}

} // namespace

int SystemIconWidth(TIconScale scale) {
    QStyle* style =
        qobject_cast<QApplication*>(QCoreApplication::instance()) ? QApplication::style() : nullptr;
    switch (scale) {
    case iscSmall:
        return style ? style->pixelMetric(QStyle::PM_SmallIconSize) : 16;
    case iscLarge:
    case iscExtraLarge:
        return style ? style->pixelMetric(QStyle::PM_LargeIconSize) : 32;
    }
    return 0;
}

bool IsProgramFile(const QString& path) {
    std::error_code error;
    const QByteArray bytes = platform::toFsBytes(path);
    const auto status =
        std::filesystem::status(std::string(bytes.constData(), bytes.size()), error);
    if (error || !std::filesystem::is_regular_file(status))
        return false;
    using std::filesystem::perms;
    if ((status.permissions() & (perms::owner_exec | perms::group_exec | perms::others_exec)) ==
        perms::none)
        return false;
    // File systems without modes (FAT, NTFS) often mark every file executable: only a file
    // whose content is a program counts.
    if (!qtCanOpen(path))
        return false;
    static const QMimeDatabase db;
    return isExecutableType(db.mimeTypeForFile(path, QMimeDatabase::MatchContent));
}

// --- TFileIconProvider ---------------------------------------------------------------------

TFileIconProvider::TFileIconProvider(TIconScale scale, NoStandardImages)
    : iconScale_(scale), size_(SystemIconWidth(scale)) {
    IconCache.reserve(512);
}

TFileIconProvider::TFileIconProvider(TIconScale scale)
    : TFileIconProvider(scale, NoStandardImages{}) {
    TFileIconProvider::LoadStandardImages();
}

TFileIconProvider::~TFileIconProvider() = default;

int TFileIconProvider::Width() const {
    return size_;
}
int TFileIconProvider::Height() const {
    return size_;
}
int TFileIconProvider::Count() const {
    return int(images_.size());
}

void TFileIconProvider::Draw(QPainter& canvas, int x, int y, int index) const {
    if (index < 0 || index >= Count())
        return;
    canvas.drawPixmap(x, y, images_[size_t(index)]);
}

QPixmap TFileIconProvider::Image(int index) const {
    if (index < 0 || index >= Count())
        return {};
    return images_[size_t(index)];
}

int TFileIconProvider::IconIndexOf(TFileInfo* entry, const QString& /*folder*/) {
    if (!entry)
        return ClosedFolder;
    if (entry->Attr & faDirectory)
        return (entry->Attr & faHidden) ? HiddenClosedFolder : ClosedFolder;
    return (entry->Attr & faHidden) ? HiddenFile : File;
}

void TFileIconProvider::DrawLinkOverlay(QPainter& canvas, int x, int y) {
    Draw(canvas, x, y, LinkOverlay);
}

QPixmap TFileIconProvider::StandardBitmap(const QString& name, int size) {
    initFileCtrlsResources();
    const QString base = QStringLiteral(":/filectrls/") + name;
    QPixmap exact(base + QString::number(size));
    if (!exact.isNull() || size <= 0)
        return exact;
    // The nearest size at or above the wanted one scales down best; else the largest.
    int from = 48;
    for (int candidate : {16, 32, 48}) {
        if (candidate >= size) {
            from = candidate;
            break;
        }
    }
    QPixmap source(base + QString::number(from));
    if (source.isNull())
        return source;
    return source.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void TFileIconProvider::LoadStandardImages() {
    for (const char* name : kStandardBitmaps)
        AddImage(StandardBitmap(QString::fromLatin1(name), size_));
}

int TFileIconProvider::AddImage(const QPixmap& image) {
    QPixmap fitted = image;
    if (image.isNull() || image.size() != QSize(size_, size_)) {
        // Fit into the list's image size, centred, aspect kept, the rest transparent.
        fitted = QPixmap(size_, size_);
        fitted.fill(Qt::transparent);
        if (!image.isNull()) {
            const QPixmap scaled =
                image.width() > size_ || image.height() > size_
                    ? image.scaled(size_, size_, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                    : image;
            QPainter painter(&fitted);
            painter.drawPixmap((size_ - scaled.width()) / 2, (size_ - scaled.height()) / 2, scaled);
        }
    }
    images_.push_back(fitted);
    return int(images_.size()) - 1;
}

// --- TWindowsFileIconProvider --------------------------------------------------------------

TWindowsFileIconProvider::TWindowsFileIconProvider(TIconScale scale)
    : TFileIconProvider(scale, NoStandardImages{}) {
    TWindowsFileIconProvider::LoadStandardImages();
}

void TWindowsFileIconProvider::LoadStandardImages() {
    // Always six images, so that the fixed indexes 0 to 5 hold whatever the theme offers:
    // where it has nothing, our own bitmap of that slot stands in.
    for (size_t i = 0; i < kStandardThemeIcons.size(); ++i) {
        QIcon icon;
        int index = -1;
        if (themeIcon(QString::fromLatin1(kStandardThemeIcons[i]), icon)) {
            const QPixmap pixmap = icon.pixmap(QSize(size_, size_));
            if (!pixmap.isNull())
                index = AddImage(pixmap);
        }
        if (index < 0)
            AddImage(StandardBitmap(QString::fromLatin1(kStandardBitmaps[i]), size_));
    }
}

bool TWindowsFileIconProvider::DriveIcon(const QString& rootPath, QIcon& icon) {
    const bool removable = rootPath.startsWith(QStringLiteral("/media/")) ||
                           rootPath.startsWith(QStringLiteral("/run/media/"));
    if (removable && themeIcon(QStringLiteral("drive-removable-media"), icon))
        return true;
    return themeIcon(QStringLiteral("drive-harddisk"), icon);
}

bool TWindowsFileIconProvider::FindDefaultIcon(const QString& key, QIcon& icon) {
    static const QMimeDatabase db;
    if (key.startsWith(u'.'))
        return iconForMimeType(
            db.mimeTypeForFile(QStringLiteral("x") + key, QMimeDatabase::MatchExtension), icon);
    // A full path: the content decides, the name where the content says nothing.
    const QMimeType type = qtCanOpen(key) ? db.mimeTypeForFile(key, QMimeDatabase::MatchDefault)
                                          : db.mimeTypeForFile(QFileInfo(key).fileName(),
                                                               QMimeDatabase::MatchExtension);
    return iconForMimeType(type, icon);
}

int TWindowsFileIconProvider::AddIconFromFile(const QIcon& icon) {
    if (icon.isNull())
        return -1;
    const QPixmap pixmap = icon.pixmap(QSize(size_, size_));
    if (pixmap.isNull())
        return -1;
    return AddImage(pixmap);
}

int TWindowsFileIconProvider::IconIndexOf(TFileInfo* entry, const QString& folder) {
    if (!entry)
        return -1;
    if (entry->ImageIndex != -2)
        return entry->ImageIndex;
    if (entry->Attr & faVolumeID)
        return DriveIndexOf(*entry);
    if (entry->Attr & faDirectory) {
        entry->ImageIndex = ClosedFolder;
        return ClosedFolder;
    }
    return FileIndexOf(*entry, folder);
}

int TWindowsFileIconProvider::DriveIndexOf(TFileInfo& entry) {
    const QString key = platform::fromFsBytes(entry.FindName());
    int index = CachedIndex(key);
    entry.ImageIndex = index;
    if (index != -1)
        return index;
    QIcon icon;
    if (DriveIcon(key, icon))
        index = AddIconFromFile(icon);
    if (index < 0) {
        // The theme knows no drive icon: our own, never a document's image.
        if (ownDriveImage_ < 0)
            ownDriveImage_ = AddImage(StandardBitmap(QStringLiteral("QFC_DRIVE"), size_));
        index = ownDriveImage_;
    }
    entry.ImageIndex = index;
    IconCache.insert(key, index);
    return index;
}

int TWindowsFileIconProvider::FileIndexOf(TFileInfo& entry, const QString& folder) {
    const QString name = platform::fromFsBytes(entry.Name);
    const QString ext = extractFileExt(name);
    const QString path = platform::withTrailingSlash(folder) + name;
    // Program files and files without extension each show their own icon: keyed by path.
    // Devices, FIFOs and drives the theme knows nothing about: never read, only named.
    const bool nameOnly = (entry.Attr & faSysFile) || (entry.Attr & faVolumeID);
    const bool byPath = ext.isEmpty() || ext.toLower() == QLatin1String(".exe") ||
                        (!nameOnly && IsProgramFile(path));
    const QString key = byPath ? path : ext;

    int index = CachedIndex(key);
    entry.ImageIndex = index;
    if (index != -1)
        return index;

    if (!noIcon_.contains(key)) {
        QIcon icon;
        const bool found =
            byPath && nameOnly
                ? iconForMimeType(
                      QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension), icon)
                : FindDefaultIcon(key, icon);
        if (found) {
            index = AddIconFromFile(icon);
            entry.ImageIndex = index;
            IconCache.insert(key, index); // also -1: that counts as absent
            return index;
        }
        // Linux files carry no icons of their own; nothing more to ask.
        noIcon_.insert(key);
    }
    index = TFileIconProvider::IconIndexOf(&entry, folder);
    entry.ImageIndex = index;
    return index;
}

// --- the shared provider -------------------------------------------------------------------

TFileIconProviderClass FileIconProviderClass = nullptr;

TFileIconProvider* CreateWindowsFileIconProvider(TIconScale scale) {
    return new TWindowsFileIconProvider(scale);
}

TFileIconProvider* CreateFileIconProvider(TIconScale scale) {
    return new TFileIconProvider(scale);
}

namespace {
TFileIconProvider* sharedProvider = nullptr;
}

TFileIconProvider* WindowsIconProvider() {
    if (!sharedProvider) {
        if (!FileIconProviderClass)
            FileIconProviderClass = CreateWindowsFileIconProvider;
        sharedProvider = FileIconProviderClass(iscSmall);
        qAddPostRoutine(FreeSharedIconProvider);
    }
    return sharedProvider;
}

void FreeSharedIconProvider() {
    delete sharedProvider;
    sharedProvider = nullptr;
}
