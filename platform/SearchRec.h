#pragma once
// One entry as the enumeration describes it: a file, a folder or (for the drive list) a
// mounted volume.
#include <QByteArray>
#include <QtGlobal>

// Attribute bits.
inline constexpr quint32 faReadOnly = 0x01;
inline constexpr quint32 faHidden = 0x02;
inline constexpr quint32 faSysFile = 0x04;
inline constexpr quint32 faVolumeID = 0x08;
inline constexpr quint32 faDirectory = 0x10;
inline constexpr quint32 faArchive = 0x20;
inline constexpr quint32 faAnyFile = 0x3F;

// A name with bytes of its own. A listing keeps its names in blocks it owns and hands them out
// as views (QByteArray::fromRawData) that are valid until it is read again or destroyed:
// whatever keeps a name longer keeps this copy.
inline QByteArray OwnedName(const QByteArray& name) {
    if (name.isEmpty())
        return name.isNull() ? QByteArray() : QByteArray("");
    return QByteArray(name.constData(), name.size());
}

struct TSearchRec {
    // Last-write time in local time packed as a DOS date-time (date high, time low); compare
    // as unsigned. For a drive: the space available to the user in units of 1,000,000 bytes.
    quint32 Time = 0;
    // Attribute bits above; a drive entry has exactly faVolumeID.
    quint32 Attr = 0;
    // Full 64-bit size, 0 for folders. For a drive: total capacity in units of 1,000,000 bytes.
    qint64 Size = 0;
    // The name as file-system bytes; for a drive its label or mount path.
    QByteArray Name;
    // The find record's file name: a drive's root path ("/media/usb/"); for every other entry
    // it repeats Name, so it is kept empty and FindName() answers Name (saves memory).
    QByteArray FileName;

    const QByteArray& FindName() const { return FileName.isEmpty() ? Name : FileName; }
};
