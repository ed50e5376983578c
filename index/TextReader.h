#pragma once
// Reads a text document line by line through a 128-byte buffer. Lines end with LF or CR LF
// (also when the pair is split between two buffer loads); a lone CR is dropped; Ctrl+Z ends
// the text; every other byte, zero and high bytes too, belongs to the line. Every failing
// call raises EInOutError with the code of the message table (and the system's reason where
// the table has no text of its own for the code).
#include "platform/DocumentFile.h"

#include <QByteArray>

class TextReader {
public:
    static constexpr qsizetype BufferSize = 128;

    TextReader() = default;
    TextReader(const TextReader&) = delete;
    TextReader& operator=(const TextReader&) = delete;
    // Closes a document still open, without raising.
    ~TextReader() = default;

    // Opens an existing regular file (file-system bytes) for reading; the buffer starts empty.
    void Open(const QByteArray& path);
    // The same for `name` in the open folder `folderFd`.
    void OpenAt(int folderFd, const QByteArray& name);
    // True when no more text can be read; consumes nothing.
    bool AtEnd();
    // The next line without its line end; the line end is consumed.
    QByteArray ReadLine();
    // The same, appending the line to `line` (saves an allocation per line).
    void ReadLineInto(QByteArray& line);
    void Close();

    // Appends each line of a whole document in memory to `text`, each after a space: the
    // lines a reader would give for `data`, in one pass without the buffer.
    static void AppendLines(QByteArrayView data, QByteArray& text);

    bool isOpen() const { return file_.isOpen(); }

private:
    static constexpr char CtrlZ = 26;

    void refill();
    // Makes sure a byte is available at pos_ (refilling when the buffer is used up).
    char peek() {
        if (pos_ >= end_)
            refill();
        return buffer_[pos_];
    }

    platform::DocumentFile file_;
    char buffer_[BufferSize];
    qsizetype pos_ = 0;
    qsizetype end_ = 0;
};
