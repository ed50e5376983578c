#pragma once
// The index page of a folder: a table with one numbered row per listed document, linking to
// the document's ".rtf" and ".txt" companions, the link's caption being the document's text.
// Driven by a folder and the list's entries only; it knows nothing of widgets, so the main
// window and the command line both use it.
#include "platform/SearchRec.h"

#include <QByteArray>
#include <QList>
#include <QString>

enum class EntryKind {
    Parent,      // the parent entry ".."
    Folder,      // a subfolder
    RegularFile, // a document (also a dangling link, which then is "File not found")
    Other,       // a device, FIFO, socket or drive: never a document
};

// One entry of the list, as the page needs it.
struct IndexEntry {
    QString caption; // the name as listed, without the folder
    EntryKind kind = EntryKind::RegularFile;

    // The entry for a listed record, its kind from the attribute bits.
    static IndexEntry fromSearchRec(const TSearchRec& rec);
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

class IndexPageWriter {
public:
    struct Page {
        QByteArray text;   // every line followed by CR LF
        int documents = 0; // the number of rows
    };

    // Reads every listed document of `folder` (a folder path ending with '/', or empty for
    // the working folder) and builds the page. Raises EInOutError for a document that cannot
    // be read.
    static Page build(const QString& folder, const QList<IndexEntry>& entries,
                      PageOptions options = {});
    // The same with the documents read relative to `folderFd`, the open folder that was
    // listed (`folder` then only gives the title and the names in errors). A failure names
    // the document (Exception::FailedPath).
    static Page buildAt(int folderFd, const QString& folder, const QList<IndexEntry>& entries,
                        PageOptions options = {});

    // The page as it would be saved (lines ended by CR LF).
    static QByteArray pageBytes(const QString& folder, const QList<IndexEntry>& entries,
                                PageOptions options = {});

    // Builds the page and saves it as folder + "index.htm", replacing an older one; answers
    // the number of documents on it. Raises EInOutError, EFCreateError or EWriteError; on
    // any failure the folder is left as it was.
    // The folder is opened once (a final link to it under the link rule) and everything else
    // is reached relative to it.
    static int write(const QString& folder, const QList<IndexEntry>& entries,
                     PageOptions options = {});
    // The same in the open folder `folderFd` that was listed.
    static int writeAt(int folderFd, const QString& folder, const QList<IndexEntry>& entries,
                       PageOptions options = {});

    // A caption as it goes into an href of a page in `charset` (a code page or
    // platform::kUtf8CodePage), so that the link reaches the file whatever its name holds:
    // what the charset lacks, and what a browser would misread, percent-encoded.
    static QString hrefFor(QStringView caption, int charset);

    // The charset a page with `options` is written in and declares.
    static int charsetOf(PageOptions options);

    static constexpr char PageName[] = "index.htm";
};
