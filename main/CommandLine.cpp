#include "main/CommandLine.h"

#include "filectrls/Directory.h"
#include "index/Exception.h"
#include "index/IndexPageWriter.h"
#include "main/CommandLineOptions.h"
#include "main/Progress.h"
#include "main/WatchMode.h"
#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/FsString.h"
#include "platform/HeldFolder.h"
#include "platform/Paths.h"
#include "platform/Process.h"

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
    Writer(const Options& options, std::FILE* out, std::FILE* err, const WriteHooks& hooks)
        : options_(options), out_(out), err_(err), hooks_(hooks) {}

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
        if (hooks_.onFolder)
            hooks_.onFolder(shown, folder);
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
            if (hooks_.progress)
                hooks_.progress->addFolder(documents);
            if (options_.recursive && documents == 0 && !options_.empty)
                return true;
            const PageOptions pageOptions{options_.escapeHtml};
            if (options_.toStdout) {
                const QByteArray page =
                    IndexPageWriter::buildAt(held->get(), folder, entries, pageOptions).text;
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
            const int written = IndexPageWriter::writeAt(held->get(), folder, entries, pageOptions);
            if (options_.quiet)
                return true;
            if (hooks_.progress)
                hooks_.progress->clear();
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
        if (hooks_.progress)
            hooks_.progress->clear();
        print(err_, "docindex: " + shown + ": " + platform::toFsBytes(message) + "\n");
        std::fflush(err_);
    }

    const Options& options_;
    std::FILE* out_;
    std::FILE* err_;
    const WriteHooks& hooks_;
    std::set<platform::FolderId> visited_;
};

} // namespace

bool writeTrees(const Options& options, const QList<QByteArray>& dirs, std::FILE* out,
                std::FILE* err, const WriteHooks& hooks) {
    Writer writer(options, out, err, hooks);
    bool ok = true;
    for (const QByteArray& dir : dirs)
        ok = writer.writeTree(dir) && ok;
    return ok;
}

int run(const QList<QByteArray>& arguments, std::FILE* out, std::FILE* err) {
    Options options;
    const QByteArray complaint = parse(arguments, options);
    if (!complaint.isEmpty()) {
        print(err, "docindex: " + complaint + "\nTry 'docindex --help' for more information.\n");
        return kBadUsage;
    }
    if (options.help) {
        print(out, helpText());
        return kAllWritten;
    }
    if (options.version) {
        print(out, "docindex " DOCINDEX_VERSION "\n");
        return kAllWritten;
    }
    if (options.codePage != 0)
        platform::setConversionCodePage(options.codePage);
    if (options.watch)
        return runWatch(options, out, err);
    Progress progress(err, options.recursive && !options.quiet && platform::isTerminal(err));
    WriteHooks hooks;
    hooks.progress = &progress;
    return writeTrees(options, options.dirs, out, err, hooks) ? kAllWritten : kSomeFailed;
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
