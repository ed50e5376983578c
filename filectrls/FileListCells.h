#pragma once
// The texts of the file list's cells and hints, computed from an entry when asked.
#include "filectrls/FileInfo.h"

#include <QDate>
#include <QString>
#include <QTime>

// The type text of an entry, for column 2 and the hint. Replaceable; initially FileTypeText.
using TFileTypeTextProc = QString (*)(TFileInfo& entry);
extern TFileTypeTextProc FileTypeTextProc;

// Cell texts, as painted. The date: the locale's short date, a blank and its long time; the
// time is left out at exactly midnight. Empty for a packed value that is no date.
QString FileDateText(quint32 dosDateTime);
QString FileDateTimeText(const QDate& date, const QTime& time);
// A drive's size or free space, in megabytes.
QString FileMegaBytesText(qint64 units);
// Column 1 to 4 of an entry ("???" for any other column); drives show megabytes.
QString FileListCellText(TFileInfo* entry, int column, bool showingDrives);
