#include "main/CommandLine.h"

#include "filectrls/Directory.h"
#include "index/Exception.h"
#include "index/IndexPageWriter.h"
#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/FsString.h"
#include "platform/HeldFolder.h"
#include "platform/Paths.h"

#include <QCoreApplication>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <set>
#include <vector>

#ifndef DOCINDEX_VERSION
#define DOCINDEX_VERSION "0"
#endif

namespace cli {
namespace {

constexpr char kHelp[] =
    "Usage: docindex --write [OPTION]... DIR...\n"
    "       docindex [FOLDER]\n"
    "Writes DIR/index.htm for each folder DIR, exactly as the window's button does: a table\n"
    "with a numbered link per document (*_.txt) whose caption is the document's text.\n"
    "Without --write, --help or --version, docindex opens its window at FOLDER (made\n"
    "absolute; at worst its deepest existing ancestor), else at its design-time folder.\n"
    "\n"
    "  --write          write the index page of each DIR\n"
    "  -r, --recursive  also every folder below each DIR, each its own page (symbolic links\n"
    "                   to folders are not followed, hidden folders are skipped); a folder\n"
    "                   without documents then gets no page unless --empty is given\n"
    "  --empty          with --recursive, write pages for folders without documents too\n"
    "  --stdout         print the page instead of writing it (one DIR only)\n"
    "  --codepage N     write the page in code page N (874, 932, 936, 949, 950, 1250 to\n"
    "                   1258) instead of the one of the locale\n"
    "  -h, --help       show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Exit status: 0 when every page was written, 1 when some folder failed, 2 for bad usage.\n";

struct Options {
    bool write = false;
    bool recursive = false;
    bool empty = false;
    bool toStdout = false;
    bool help = false;
    bool version = false;
    int codePage = 0;
    QList<QByteArray> dirs;
};

bool isSupportedCodePage(int codePage) {
    static const std::set<int> pages{874,  932,  936,  949,  950,  1250, 1251,
                                     1252, 1253, 1254, 1255, 1256, 1257, 1258};
    return pages.count(codePage) != 0;
}

// Parses the arguments; an empty answer means they are fine, else the complaint.
QByteArray parse(const QList<QByteArray>& arguments, Options& options) {
    bool onlyDirs = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray& a = arguments[i];
        if (onlyDirs || !a.startsWith('-') || a == "-") {
            options.dirs.append(a);
        } else if (a == "--") {
            onlyDirs = true;
        } else if (a == "--write") {
            options.write = true;
        } else if (a == "-r" || a == "--recursive") {
            options.recursive = true;
        } else if (a == "--empty") {
            options.empty = true;
        } else if (a == "--stdout") {
            options.toStdout = true;
        } else if (a == "-h" || a == "--help") {
            options.help = true;
        } else if (a == "--version") {
            options.version = true;
        } else if (a == "--codepage" || a.startsWith("--codepage=")) {
            QByteArray value;
            if (a == "--codepage") {
                if (i + 1 >= arguments.size())
                    return "option '--codepage' needs a code page";
                value = arguments[++i];
            } else {
                value = a.mid(qsizetype(sizeof("--codepage=")) - 1);
            }
            bool ok = false;
            options.codePage = value.toInt(&ok);
            if (!ok || !isSupportedCodePage(options.codePage))
                return "unknown code page '" + value + "'";
        } else {
            return "unknown option '" + a + "'";
        }
    }
    if (options.help || options.version)
        return {};
    if (!options.write)
        return "nothing to do: give --write DIR...";
    if (options.dirs.isEmpty())
        return "--write needs at least one folder";
    if (options.dirs.contains(QByteArray()))
        return "a folder name is empty"; // never taken as the working folder or "/"
    if (options.toStdout && (options.dirs.size() != 1 || options.recursive))
        return "--stdout prints the page of one folder only (and not with --recursive)";
    return {};
}

// False when the stream failed (errno then says why).
bool print(std::FILE* stream, QByteArrayView bytes) {
    return std::fwrite(bytes.data(), 1, size_t(bytes.size()), stream) == size_t(bytes.size());
}

// One folder still to be written: as the user sees it, as an absolute folder path, and where
// it is reached: its name in the held parent folder, or at the top its path.
struct Pending {
    QByteArray shown;
    QString folder; // ends with '/'
    std::shared_ptr<platform::FileHandle> parent;
    QByteArray name;
};

QByteArray joinShown(const QByteArray& parent, const QByteArray& name) {
    return parent.endsWith('/') ? parent + name : parent + '/' + name;
}

// The table's message for a failure of a folder, followed by the system's text.
QString folderFailure(int err, const QByteArray& path) {
    return EInOutError::messageFor(platform::ioErrorCode(err, path)) + QLatin1String(": ") +
           platform::systemErrorText(err);
}

class Writer {
public:
    Writer(const Options& options, std::FILE* out, std::FILE* err)
        : options_(options), out_(out), err_(err) {}

    // Writes the page of `dir` (and with --recursive of every folder below); false when any
    // folder failed.
    bool writeTree(const QByteArray& dir) {
        QByteArray shown = dir;
        while (shown.size() > 1 && shown.endsWith('/'))
            shown.chop(1);
        if (!dir.startsWith('/')) {
            // Relative to a working folder that was removed would mean relative to "/".
            if (const int err = platform::workingFolderError()) {
                report(shown, folderFailure(err, dir));
                return false;
            }
        }
        QString folder = NormalizeLocation(platform::fromFsBytes(dir));
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        QByteArray path = platform::toFsBytes(folder);
        if (path.size() > 1)
            path.chop(1); // a trailing '/' would follow a final link whoever owns it
        std::vector<Pending> stack{{shown, folder, nullptr, path}};
        bool ok = true;
        while (!stack.empty()) {
            const Pending next = std::move(stack.back());
            stack.pop_back();
            std::vector<Pending> below;
            ok = writeFolder(next, below) && ok;
            // Depth first, in the listing's order.
            stack.insert(stack.end(), std::make_move_iterator(below.rbegin()),
                         std::make_move_iterator(below.rend()));
        }
        return ok;
    }

    // Writes the page of the open folder `folderFd` (listed there, its documents read and its
    // page saved there); `shown` names it in reports and `folder` is its title (ends with '/').
    // Folders found below it are added to `below` with --recursive. False on a failure.
    bool writeHeldFolder(const std::shared_ptr<platform::FileHandle>& held, const QByteArray& shown,
                         const QString& folder, std::vector<Pending>& below) {
        try {
            QList<IndexEntry> entries;
            int documents = 0;
            {
                // As the window lists it: mask *_.txt, its file type, sorted by name; listed
                // through the descriptor, so it is the folder held, whatever its path is now.
                TDirectory listing;
                listing.SetFileMask(QStringLiteral("*_.txt"));
                listing.SetLocation(QString::fromLatin1(platform::heldFolderPath(held->get())));
                if (const int err = listing.ListingError()) {
                    // Never an empty page for a folder that could not be read.
                    report(shown, folderFailure(err, platform::toFsBytes(folder)));
                    return false;
                }
                entries.reserve(listing.Count());
                for (int i = 0; i < listing.Count(); ++i) {
                    const TFileInfo& entry = *listing.Entry(i);
                    IndexEntry indexEntry = IndexEntry::fromSearchRec(entry);
                    if (indexEntry.kind == EntryKind::RegularFile)
                        ++documents;
                    if (options_.recursive && indexEntry.kind == EntryKind::Folder)
                        below.push_back(
                            Pending{joinShown(shown, entry.Name),
                                    folder + platform::fromFsBytes(entry.Name) + QLatin1Char('/'),
                                    held, entry.Name});
                    entries.append(std::move(indexEntry));
                }
            }
            if (options_.recursive && documents == 0 && !options_.empty)
                return true;
            if (options_.toStdout) {
                const QByteArray page = IndexPageWriter::buildAt(held->get(), folder, entries).text;
                if (print(out_, page) && std::fflush(out_) == 0)
                    return true;
                const int err = errno;
                if (err != EPIPE) { // a closed pipe (| head) ends quietly, as other tools do
                    EWriteError error;
                    error.SetReason(platform::systemErrorText(err));
                    report(shown, error);
                }
                return false;
            }
            const int written = IndexPageWriter::writeAt(held->get(), folder, entries);
            print(out_, joinShown(shown, IndexPageWriter::PageName) + ": " +
                            QByteArray::number(written) +
                            (written == 1 ? " document\n" : " documents\n"));
            std::fflush(out_);
            return true;
        } catch (const Exception& e) {
            report(shown, e, platform::toFsBytes(folder));
        } catch (const std::exception& e) {
            report(shown, QString::fromLocal8Bit(e.what()));
        }
        return false;
    }

private:
    bool writeFolder(const Pending& pending, std::vector<Pending>& below) {
        auto held = std::make_shared<platform::FileHandle>();
        // The folder named at the top may be a link to one (under the link rule); below it a
        // folder is entered only as itself, relative to its parent: one swapped for a link
        // since the listing is not entered, and paths of any length are reached.
        const bool top = !pending.parent;
        const int err =
            platform::openFolder(top ? AT_FDCWD : pending.parent->get(), pending.name, top, *held);
        if (err != 0) {
            if (!top && (err == ELOOP || err == ENOTDIR || err == ENOENT))
                return true; // no longer a folder of the tree (a link now, or gone)
            report(pending.shown, folderFailure(err, platform::toFsBytes(pending.folder)));
            return false;
        }
        // With --recursive a folder is written once, also when given twice or below another.
        platform::FolderId id;
        if (options_.recursive && platform::folderIdentityOf(held->get(), id) == 0 &&
            !visited_.insert(id).second)
            return true;
        return writeHeldFolder(held, pending.shown, pending.folder, below);
    }

    // docindex: DIR: NAME: message[: reason], NAME being what failed within the folder
    // (a document), left out where the message names it already or it is the folder.
    void report(const QByteArray& shown, const Exception& e, const QByteArray& folder = {}) {
        QByteArray name = e.FailedPath();
        if (name + '/' == folder)
            name.clear(); // the folder itself: DIR names it
        else if (!folder.isEmpty() && name.startsWith(folder))
            name = name.sliced(folder.size());
        QString text = e.Message();
        if (!e.Reason().isEmpty())
            text += QLatin1String(": ") + e.Reason();
        if (!name.isEmpty() && !e.Message().contains(platform::fromFsBytes(e.FailedPath())))
            text = platform::fromFsBytes(name) + QLatin1String(": ") + text;
        report(shown, text);
    }

    void report(const QByteArray& shown, const QString& message) {
        print(err_, "docindex: " + shown + ": " + platform::toFsBytes(message) + "\n");
        std::fflush(err_);
    }

    const Options& options_;
    std::FILE* out_;
    std::FILE* err_;
    std::set<platform::FolderId> visited_;
};

} // namespace

bool isCommandLine(const QList<QByteArray>& arguments) {
    for (const QByteArray& a : arguments) {
        if (a == "--")
            break;
        if (a == "--write" || a == "--help" || a == "-h" || a == "--version")
            return true;
    }
    return false;
}

int run(const QList<QByteArray>& arguments, std::FILE* out, std::FILE* err) {
    Options options;
    const QByteArray complaint = parse(arguments, options);
    if (!complaint.isEmpty()) {
        print(err, "docindex: " + complaint + "\nTry 'docindex --help' for more information.\n");
        return kBadUsage;
    }
    if (options.help) {
        print(out, kHelp);
        return kAllWritten;
    }
    if (options.version) {
        print(out, "docindex " DOCINDEX_VERSION "\n");
        return kAllWritten;
    }
    if (options.codePage != 0)
        platform::setConversionCodePage(options.codePage);
    Writer writer(options, out, err);
    bool ok = true;
    for (const QByteArray& dir : options.dirs)
        ok = writer.writeTree(dir) && ok;
    return ok ? kAllWritten : kSomeFailed;
}

namespace {
QList<QByteArray> argumentsOf(int argc, char** argv) {
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    return arguments;
}
} // namespace

bool isCommandLine(int argc, char** argv) {
    return isCommandLine(argumentsOf(argc, argv));
}

int runCommandLine(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return run(argumentsOf(argc, argv), stdout, stderr);
}

} // namespace cli
