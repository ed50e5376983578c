#pragma once
// Every user-interface text of the components, in one place. Where a text takes arguments it
// marks them printf-style (%s, %d, %p); fill them with rs::format, never with printf, which
// would send names through UTF-8 and turn their bytes that are not UTF-8 into '?'.
#include <QString>

#include <initializer_list>
#include <utility>

namespace rs {

// Column captions and labels of the file list and the hint.
inline constexpr char SName[] = "Name";
inline constexpr char SSize[] = "Size";
inline constexpr char SType[] = "Type";
inline constexpr char SDateModified[] = "Date Modified";
inline constexpr char SAttributes[] = "Attributes";
inline constexpr char SFreeSpace[] = "Free Space";
inline constexpr char SMegaBytes[] = "%d MB";

// Type texts of entries.
inline constexpr char SDirectory[] = "Directory";
inline constexpr char SFile[] = "File";
inline constexpr char SVolume[] = "Volume";

// Error box of the components, and the rename refusals it shows.
inline constexpr char SError[] = "Error";
inline constexpr char SFileNameTaken[] =
    "A file with that name already exists. Please specify a different filename.";
inline constexpr char SAccessDeniedTo[] = "Access denied to \"%s\"";

// Folder tree errors.
inline constexpr char SCannotReadDirectory[] = "Cannot read directory:\r\n\"%s\"";
inline constexpr char SNotSubdirectory[] = "\"%s\" is not a subdirectory of \"%s\"";
inline constexpr char SAnyKnownDrive[] = " any known drive";

// Input/output errors by code.
inline constexpr char SFileNotFound[] = "File not found";
inline constexpr char SInvalidFileName[] = "Invalid filename";
inline constexpr char STooManyOpenFiles[] = "Too many open files";
inline constexpr char SAccessDenied[] = "File access denied";
inline constexpr char SEndOfFile[] = "Read beyond end of file";
inline constexpr char SDiskFull[] = "Disk full";
inline constexpr char SInvalidInput[] = "Invalid numeric input";
inline constexpr char SInOutError[] = "I/O error %d";

// Streams, lists and assignment.
inline constexpr char SFCreateError[] = "Cannot create file \"%s\". %s";
inline constexpr char SWriteError[] = "Stream write error";
inline constexpr char SListIndexError[] = "List index out of bounds (%d)";
inline constexpr char SAssignError[] = "Cannot assign a %s to a %s";
inline constexpr char SOutOfMemory[] = "Out of memory";

// The runtime's start-up failure box.
inline constexpr char SApplicationError[] = "Application Error";
inline constexpr char SExceptionInModule[] = "Exception %s in module %s at %p.\r\n%s%s\r\n";

// Hint of a name whose bytes are not UTF-8 (in the window's language, Russian).
inline constexpr char SNotUtf8Name[] =
    "Имя записано не в UTF-8; буквы показаны по кодовой странице %d";

// Status bar of the window (Russian, the window's own language). Document counts take the
// word in its plural form: one (1, 21), few (2..4, 22..24), many (0, 5..20, 25..30, 111).
inline constexpr char SPageWritten[] = "Записан файл %s: %s";
inline constexpr char SDocumentOne[] = "документ";
inline constexpr char SDocumentFew[] = "документа";
inline constexpr char SDocumentMany[] = "документов";
inline constexpr char SPageFailed[] = "Страница не записана: %s (%s)";
inline constexpr char SStartFolderMissing[] = "Папки %s нет; открыта %s";
inline constexpr char SFolderGone[] = "Папки %s больше нет; открыта %s";
inline constexpr char SFolderUnreadable[] = "Папку %s не прочитать: %s";

inline QString text(const char* resource) {
    return QString::fromUtf8(resource);
}

// One argument of a text: a wide string as it is (the escapes of name bytes kept), or a number
// in decimal. A pointer is passed as the text it should show.
class Arg {
public:
    Arg(QString text) : text_(std::move(text)) {}
    Arg(QStringView text) : text_(text.toString()) {}
    Arg(const char* utf8) : text_(QString::fromUtf8(utf8)) {}
    Arg(int number) : Arg(qint64(number)) {}
    Arg(qint64 number);
    const QString& text() const { return text_; }

private:
    QString text_;
};

// The resource text with its %s, %d and %p filled by `args` in order; "%%" is one '%'.
QString format(const char* resource, std::initializer_list<Arg> args);

} // namespace rs
