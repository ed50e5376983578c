#pragma once
// The command line's arguments: which mode they ask for, what they mean, and the help.
// Qt Core only.
#include <QByteArray>
#include <QList>

#include <cstdio>
#include <functional>

class QString;

namespace cli {

class Progress;

struct Options {
    bool write = false; // any writing option given: the command-line mode
    bool recursive = false;
    bool empty = false;
    bool toStdout = false;
    bool watch = false;
    bool escapeHtml = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    int codePage = 0;
    int charset = 0;        // --charset: the page's code page or platform::kUtf8CodePage, 0 unset
    QList<QByteArray> dirs; // file-system bytes, as given
};

// Parses the arguments (raw bytes; names that are not UTF-8 come through byte for byte);
// an empty answer means they are fine, else the complaint for "docindex: COMPLAINT".
QByteArray parse(const QList<QByteArray>& arguments, Options& options);

QByteArray helpText();

// Hooks of one write of folder trees (the command line's and the watch mode's).
struct WriteHooks {
    // Called for every folder the walk reaches, before it is read (its page may then not be
    // written: -r without documents, a failure): shown as the user sees it, and the
    // absolute folder ending with '/'.
    std::function<void(const QByteArray& shown, const QString& folder)> onFolder;
    // Takes each error line ("docindex: DIR: message", without its newline) instead of
    // printing it.
    std::function<void(const QByteArray& line)> onError;
    Progress* progress = nullptr;
};

// Writes the page of each dir (with -r every folder below), printing as --write does; false
// when any folder failed. Folders are written once per call.
bool writeTrees(const Options& options, const QList<QByteArray>& dirs, std::FILE* out,
                std::FILE* err, const WriteHooks& hooks = {});

} // namespace cli
