#pragma once
// The index page of a folder: a table with one numbered row per listed document, linking to
// the document's ".rtf" and ".txt" companions, the link's caption being the document's text.
// Driven by a folder and the list's entries only; it knows nothing of widgets, so the main
// window and the command line both use it.
#include "platform/SearchRec.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <fcntl.h>

enum class EntryKind {
    Parent,      // the parent entry ".."
    Folder,      // a subfolder
    RegularFile, // a document (also a dangling link, which then is "File not found")
    Other,       // a device, FIFO, socket or drive: never a document
};

// One entry of the list, as the page needs it.
struct IndexEntry {
    QByteArray name; // the name as listed (file-system bytes), without the folder
    EntryKind kind = EntryKind::RegularFile;

    // The entry for a listed record, its kind from the attribute bits.
    static IndexEntry fromSearchRec(const TSearchRec& rec);
    // The same sharing the record's name, which must outlive the entry (a listing's name
    // storage kept by its TakeNames()).
    static IndexEntry fromListed(const TSearchRec& rec);
};

// How a page is written beyond what every page has in common.
struct PageOptions {
    // '<', '>' and '&' in the title and the captions as entities, for pages published where
    // the documents are not trusted; off, the page holds them as they are.
    bool escapeHtml = false;
    // The charset the page is written in and declares: a code page of
    // platform::supportedCodePages() or platform::kUtf8CodePage; 0 for the conversion code
    // page. Documents that are not UTF-8 are read in the conversion code page either way.
    int charset = 0;
};

// The folder a page is written for, as its caller holds it.
struct PageFolder {
    // The open folder that was listed; AT_FDCWD: the folder is reached by `path`.
    int fd = AT_FDCWD;
    // Its path (file-system bytes) ending with '/', or empty for the working folder: it names
    // the documents and the page in errors, and reaches them when `fd` is AT_FDCWD.
    QByteArray path;
    QString title; // the folder as the page's title shows it
};

class IndexPageWriter {
public:
    struct Page {
        QByteArray text;   // every line followed by CR LF
        int documents = 0; // the number of rows
    };

    // Reads every listed document of `folder` and builds the page (lines ended by CR LF).
    // Raises EInOutError for a document that cannot be read, naming it (FailedPath).
    static Page build(const PageFolder& folder, const QList<IndexEntry>& entries,
                      PageOptions options = {});

    // Builds the page and saves it as "index.htm" in `folder`, replacing an older one;
    // answers the number of documents on it. Raises EInOutError, EFCreateError or
    // EWriteError; on any failure the folder is left as it was.
    static int writeAt(const PageFolder& folder, const QList<IndexEntry>& entries,
                       PageOptions options = {});
    // The same for the folder at `path` (file-system bytes ending with '/', empty for the
    // working folder), titled `title`: it is opened once (a final link to it under the link
    // rule) and everything else is reached relative to it.
    static int write(const QByteArray& path, const QString& title, const QList<IndexEntry>& entries,
                     PageOptions options = {});

    // A name as it goes into an href of a page in `charset` (a code page or
    // platform::kUtf8CodePage), so that the link reaches the file whatever the name holds:
    // what the charset lacks, and what a browser would misread, percent-encoded.
    static QString hrefFor(QByteArrayView name, int charset);

    static constexpr char PageName[] = "index.htm";
};
