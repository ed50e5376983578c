#include "filectrls/FileListCells.h"

#include "base/ResourceStrings.h"
#include "filectrls/FileListView.h"

#include <QDateTime>
#include <QLocale>

TFileTypeTextProc FileTypeTextProc = FileTypeText;

namespace {

QString longTimeFormat(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        result += c;
    }
    return result.trimmed();
}

} // namespace

QString FileMegaBytesText(qint64 units) {
    return rs::format(rs::SMegaBytes, {units});
}

QString FileDateTimeText(const QDate& date, const QTime& time) {
    const QLocale locale;
    QString text = locale.toString(date, QLocale::ShortFormat);
    if (time != QTime(0, 0))
        text += u' ' + locale.toString(time, longTimeFormat(locale));
    return text;
}

QString FileDateText(quint32 dosDateTime) {
    const quint32 date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
    const QDate d(int(1980 + (date >> 9)), int((date >> 5) & 15), int(date & 31));
    const QTime t(int(time >> 11), int((time >> 5) & 63), int((time & 31) * 2));
    if (!d.isValid() || !t.isValid())
        return {};
    return FileDateTimeText(d, t);
}

QString FileListCellText(TFileInfo* entry, int column, bool showingDrives) {
    if (!entry)
        return {};
    switch (column) {
    case TFileListView::ColSize:
        return showingDrives ? FileMegaBytesText(entry->Size) : QString::number(entry->Size);
    case TFileListView::ColType:
        return FileTypeTextProc(*entry);
    case TFileListView::ColDate:
        return showingDrives ? FileMegaBytesText(entry->Time) : FileDateText(entry->Time);
    case TFileListView::ColAttributes:
        return AttributeLetters(entry->Attr);
    default:
        return QStringLiteral("???");
    }
}
