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
#include "platform/Paths.h"
#include "platform/Process.h"

#include <QCoreApplication>

#include <set>
#include <vector>

#ifndef DOCINDEX_VERSION
#define DOCINDEX_VERSION "0"
#endif

namespace cli {
namespace {

void print(std::FILE* stream, QByteArrayView bytes) {
    std::fwrite(bytes.data(), 1, size_t(bytes.size()), stream);
}

// One folder still to be written: as the user sees it, and as an absolute folder path.
struct Pending {
    QByteArray shown;
    QString folder; // ends with '/'
};

QByteArray joinShown(const QByteArray& parent, const QByteArray& name) {
    return parent.endsWith('/') ? parent + name : parent + '/' + name;
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
        QString folder = NormalizeLocation(platform::fromFsBytes(dir));
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');

        // The folder the user named may be a link to one; below it links are not followed.
        platform::FolderId id;
        const QByteArray path = platform::toFsBytes(folder);
        if (const int err = platform::folderIdentity(path, true, id)) {
            report(shown, EInOutError(platform::ioErrorCode(err, path)).Message());
            return false;
        }
        // With --recursive a folder is written once, also when given twice or below another.
        if (options_.recursive && !visited_.insert(id).second)
            return true;
        bool ok = true;
        std::vector<Pending> stack{{shown, folder}};
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

private:
    bool writeFolder(const Pending& pending, std::vector<Pending>& below) {
        if (hooks_.onFolder)
            hooks_.onFolder(pending.shown, pending.folder);
        try {
            QList<IndexEntry> entries;
            int documents = 0;
            {
                // As the window lists it: mask *_.txt, its file type, sorted by name.
                TDirectory listing;
                listing.SetFileMask(QStringLiteral("*_.txt"));
                listing.SetLocation(pending.folder);
                entries.reserve(listing.Count());
                for (int i = 0; i < listing.Count(); ++i) {
                    const TFileInfo& entry = *listing.Entry(i);
                    IndexEntry indexEntry = IndexEntry::fromSearchRec(entry);
                    if (indexEntry.kind == EntryKind::RegularFile)
                        ++documents;
                    if (options_.recursive && indexEntry.kind == EntryKind::Folder)
                        addBelow(pending, entry.Name, below);
                    entries.append(std::move(indexEntry));
                }
            }
            if (hooks_.progress)
                hooks_.progress->addFolder(documents);
            if (options_.recursive && documents == 0 && !options_.empty)
                return true;
            const PageOptions pageOptions{options_.escapeHtml};
            if (options_.toStdout) {
                print(out_, IndexPageWriter::pageBytes(pending.folder, entries, pageOptions));
                std::fflush(out_);
                return true;
            }
            const int written = IndexPageWriter::write(pending.folder, entries, pageOptions);
            if (options_.quiet)
                return true;
            if (hooks_.progress)
                hooks_.progress->clear();
            print(out_, joinShown(pending.shown, IndexPageWriter::PageName) + ": " +
                            QByteArray::number(written) +
                            (written == 1 ? " document\n" : " documents\n"));
            std::fflush(out_);
            return true;
        } catch (const Exception& e) {
            report(pending.shown, e.Message());
        } catch (const std::exception& e) {
            report(pending.shown, QString::fromLocal8Bit(e.what()));
        }
        return false;
    }

    // A real folder (not a link to one) not seen before is written after its parent.
    void addBelow(const Pending& parent, const QByteArray& name, std::vector<Pending>& below) {
        const QString folder = parent.folder + platform::fromFsBytes(name) + QLatin1Char('/');
        platform::FolderId id;
        if (platform::folderIdentity(platform::toFsBytes(folder), false, id) != 0)
            return;
        if (!visited_.insert(id).second)
            return;
        below.push_back(Pending{joinShown(parent.shown, name), folder});
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
