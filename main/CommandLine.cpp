#include "main/CommandLine.h"

#include "base/Exception.h"
#include "filectrls/Directory.h"
#include "index/IndexPageWriter.h"
#include "index/LinkTargets.h"
#include "main/CommandLineOptions.h"
#include "main/LogLines.h"
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
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
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

// "12 documents", and how many links lead nowhere when any do.
QByteArray pageSummary(int documents, int missingLinks) {
    QByteArray text = QByteArray::number(documents) + (documents == 1 ? " document" : " documents");
    if (missingLinks > 0)
        text +=
            ", " + QByteArray::number(missingLinks) +
            (missingLinks == 1 ? " link leads to a missing file" : " links lead to missing files");
    return text;
}

// Writes and flushes; 0 or the errno of the first call that failed (taken at once, as a later
// call may change errno).
int writeOut(std::FILE* stream, QByteArrayView bytes) {
    errno = 0;
    if (!print(stream, bytes))
        return errno ? errno : EIO;
    if (std::fflush(stream) != 0)
        return errno ? errno : EIO;
    return 0;
}

// What was printed to `out` must have arrived: a failure there (a full disk, a closed
// descriptor) turns the exit code into a failure, with its reason on `err`.
int finishOutput(int code, std::FILE* out, std::FILE* err) {
    errno = 0;
    if (std::fflush(out) == 0 && !std::ferror(out))
        return code;
    const int why = errno ? errno : EIO;
    if (why != EPIPE)
        print(err, "docindex: write error: " + platform::toFsBytes(platform::systemErrorText(why)) +
                       "\n");
    std::fflush(err);
    return code == kAllWritten ? kSomeFailed : code;
}

// One folder still to be written: as the user sees it, as an absolute folder path, and where
// it is reached: its name in the held parent folder, or at the top its path.
struct Pending {
    QByteArray shown;
    QString folder; // ends with '/'
    std::shared_ptr<platform::FileHandle> parent;
    QByteArray name;
    QByteArray path; // `folder` as file-system bytes
};

// The table's message for a failure of a folder, followed by the system's text.
QString folderFailure(int err, const QByteArray& path) {
    return EInOutError::messageFor(platform::ioErrorCode(err, path)) + QLatin1String(": ") +
           platform::systemErrorText(err);
}

// Lets a listing read only the folder: the mask is set before the location, and a listing
// without a location would list the drives (mount table, a statfs per mount) for nothing.
// Entries are described by name and kind alone, all a page needs.
struct OneListing : IDirectoryClient {
    bool armed = false;
    bool EntryFound(const TSearchRec&) override { return true; }
    bool WantsEntryDetails() const override { return false; }
    void ListingEnded() override {}
    bool ListingStarting() override { return armed; }
    void LocationChanged(const QString&) override {}
    void MaskChanged(const QString&) override {}
};

// One folder's work: what the walk found (in the walk's order) and what its page came to.
// The page may be written on another thread; what it prints is printed in walk order.
struct Job {
    std::shared_ptr<platform::FileHandle> held;
    QByteArray shown;
    QString folder;
    QByteArray path;                   // `folder` as file-system bytes
    std::shared_ptr<const void> names; // the storage of the entries' names
    QList<IndexEntry> entries;
    bool needsPage = false;
    bool ok = true;
    QString failure; // reported when !ok (empty: nothing to say)
    QByteArray page; // --stdout
    int written = 0;
    int missingLinks = 0; // links of the page written that lead to no file
    bool done = false;    // guarded by Writer::mutex_ while a worker runs
};

class Writer {
public:
    Writer(const Options& options, std::FILE* out, std::FILE* err, const WriteHooks& hooks)
        : options_(options), out_(out), err_(err), hooks_(hooks) {
        // Pages are written beside the walk only where nothing depends on when they are:
        // the watch mode watches each folder in step with its page.
        parallel_ = options_.recursive && !hooks_.onFolder &&
                    !qEnvironmentVariableIsSet("DOCINDEX_ONE_THREAD") &&
                    std::thread::hardware_concurrency() > 1;
    }

    ~Writer() { finishAll(); }

    // Writes the page of `dir` (and with --recursive of every folder below).
    void writeTree(const QByteArray& dir) {
        const QByteArray shown = platform::withoutTrailingSlash(dir);
        if (!dir.startsWith('/')) {
            // Relative to a working folder that was removed would mean relative to "/".
            if (const int err = platform::workingFolderError()) {
                fail(shown, folderFailure(err, dir));
                return;
            }
        }
        // Made absolute on its bytes, as given; its text is only the page's title. A trailing
        // '/' would follow a final link whoever owns it.
        const QByteArray bytes =
            platform::withTrailingSlash(platform::normalizePath(dir, platform::currentFolder()));
        std::vector<Pending> stack{{shown, platform::fromFsBytes(bytes), nullptr,
                                    platform::withoutTrailingSlash(bytes), bytes}};
        // A stop request (SIGINT, SIGTERM under --watch) ends the walk after this folder.
        while (!stack.empty() && !platform::StopSignals::requested()) {
            const Pending next = std::move(stack.back());
            stack.pop_back();
            more_ = !stack.empty();
            std::vector<Pending> below;
            writeFolder(next, below);
            // Depth first, in the listing's order.
            stack.insert(stack.end(), std::make_move_iterator(below.rbegin()),
                         std::make_move_iterator(below.rend()));
        }
        more_ = false;
    }

    // Waits for every page and prints what is left; true when no folder failed.
    bool finishAll() {
        if (!workers_.empty()) {
            for (;;) {
                std::unique_lock lock(mutex_);
                if (!queue_.empty()) {
                    runNextJob(lock);
                    continue;
                }
                if (order_.empty())
                    break;
                changed_.wait(lock, [&] { return order_.front()->done; });
                lock.unlock();
                printDone();
            }
            {
                std::lock_guard lock(mutex_);
                stop_ = true;
            }
            changed_.notify_all();
            for (std::thread& worker : workers_)
                worker.join();
            workers_.clear();
        }
        printDone();
        return !failed_;
    }

private:
    void writeFolder(const Pending& pending, std::vector<Pending>& below) {
        auto held = std::make_shared<platform::FileHandle>();
        // The folder named at the top may be a link to one (under the link rule); below it a
        // folder is entered only as itself, relative to its parent: one swapped for a link
        // since the listing is not entered, and paths of any length are reached.
        const bool top = !pending.parent;
        const int err =
            platform::openFolder(top ? AT_FDCWD : pending.parent->get(), pending.name, top, *held);
        if (err != 0) {
            if (!top && (err == ELOOP || err == ENOTDIR || err == ENOENT))
                return; // no longer a folder of the tree (a link now, or gone)
            fail(pending.shown, folderFailure(err, pending.path));
            return;
        }
        // With --recursive a folder is written once, also when given twice or below another.
        platform::FolderId id;
        if (options_.recursive && platform::folderIdentityOf(held->get(), id) == 0 &&
            !visited_.insert(id).second)
            return;
        if (auto job = listFolder(held, pending, below))
            settle(std::move(job));
    }

    // Lists the open folder of `pending` (through its descriptor, so it is the folder held,
    // whatever its path is now). Folders found below it are added to `below` with
    // --recursive. Null when there is nothing to write or report.
    std::unique_ptr<Job> listFolder(const std::shared_ptr<platform::FileHandle>& held,
                                    const Pending& pending, std::vector<Pending>& below) {
        const QByteArray& shown = pending.shown;
        const QString& folder = pending.folder;
        if (hooks_.onFolder)
            hooks_.onFolder(shown, folder);
        auto job = std::make_unique<Job>();
        job->shown = shown;
        job->folder = folder;
        job->path = pending.path;
        int documents = 0;
        try {
            // As the window lists it: mask *_.txt, its file type, sorted by name.
            OneListing client;
            TDirectory listing(&client);
            listing.SetFileMask(QStringLiteral("*_.txt"));
            client.armed = true;
            listing.SetLocation(QString::fromLatin1(platform::heldFolderPath(held->get())));
            if (const int err = listing.ListingError()) {
                // Never an empty page for a folder that could not be read.
                job->ok = false;
                job->failure = folderFailure(err, pending.path);
                return job;
            }
            job->entries.reserve(listing.Count());
            for (int i = 0; i < listing.Count(); ++i) {
                // Name and kind are all a page needs: no stat per entry.
                const TSearchRec& entry = listing.ListedEntry(i);
                IndexEntry indexEntry = IndexEntry::fromListed(entry);
                if (indexEntry.kind == EntryKind::RegularFile)
                    ++documents;
                if (options_.recursive && indexEntry.kind == EntryKind::Folder)
                    below.push_back(
                        Pending{platform::withTrailingSlash(shown) + entry.Name,
                                folder + platform::fromFsBytes(entry.Name) + QLatin1Char('/'), held,
                                OwnedName(entry.Name), pending.path + entry.Name + '/'});
                job->entries.append(std::move(indexEntry));
            }
            job->names = listing.TakeNames(); // the entries share the listing's names
        } catch (...) {
            job->entries.clear(); // their names went with the listing
            failWith(*job);
            return job;
        }
        if (hooks_.progress)
            hooks_.progress->addFolder(documents);
        if (options_.recursive && documents == 0 && !options_.empty)
            return nullptr;
        job->held = held;
        job->needsPage = true;
        return job;
    }

    // Builds or saves the page; touches nothing but the job, so it runs on either thread.
    void makePage(Job& job) const noexcept {
        try {
            const PageOptions pageOptions{options_.escapeHtml, options_.charset};
            const PageFolder folder{job.held->get(), job.path, job.folder};
            if (options_.toStdout)
                job.page = IndexPageWriter::build(folder, job.entries, pageOptions).text;
            else {
                job.written = IndexPageWriter::writeAt(folder, job.entries, pageOptions);
                job.missingLinks = missingLinkTargetsAt(job.held->get(), job.entries);
            }
        } catch (...) {
            failWith(job);
        }
        job.entries = {};
        job.held.reset(); // the descriptor is not kept open while the job waits to be printed
    }

    // Turns the exception being handled into the job's failure.
    static void failWith(Job& job) noexcept {
        job.ok = false;
        try {
            throw;
        } catch (const Exception& e) {
            job.failure = failureText(e, job.path);
        } catch (const std::exception& e) {
            job.failure = QString::fromLocal8Bit(e.what());
        } catch (...) {
            job.failure = QStringLiteral("unknown error");
        }
    }

    void fail(const QByteArray& shown, const QString& message) {
        auto job = std::make_unique<Job>();
        job->shown = shown;
        job->ok = false;
        job->failure = message;
        settle(std::move(job));
    }

    // Prints the job now, or queues it behind the folders before it.
    void settle(std::unique_ptr<Job> job) {
        if (workers_.empty()) {
            // The first page that has more folders after it starts the page threads.
            if (!parallel_ || !job->needsPage || !more_) {
                if (job->needsPage)
                    makePage(*job);
                print(*job);
                return;
            }
            for (int i = 0; i < kPageWorkers; ++i)
                workers_.emplace_back([this] { work(); });
        }
        {
            std::unique_lock lock(mutex_);
            if (job->needsPage)
                queue_.push_back(job.get());
            else
                job->done = true;
            order_.push_back(std::move(job));
            changed_.notify_all();
            // Beyond one page waiting for the worker, this thread writes one too, so the
            // walk does not run far ahead holding listings and descriptors.
            if (queue_.size() > 1)
                runNextJob(lock);
        }
        printDone();
    }

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            runNextJob(lock);
        }
    }

    // Takes the next queued page and makes it outside the lock (held on entry and on return);
    // the printing thread hears that it is done.
    void runNextJob(std::unique_lock<std::mutex>& lock) {
        Job* job = queue_.front();
        queue_.pop_front();
        lock.unlock();
        makePage(*job);
        lock.lock();
        job->done = true;
        changed_.notify_all();
    }

    // Prints the finished jobs at the head of the walk order (main thread only).
    void printDone() {
        for (;;) {
            std::unique_ptr<Job> job;
            {
                std::lock_guard lock(mutex_);
                if (order_.empty() || !order_.front()->done)
                    return;
                job = std::move(order_.front());
                order_.pop_front();
            }
            print(*job);
        }
    }

    void print(Job& job) {
        if (!job.ok) {
            report(job.shown, job.failure);
            failed_ = true;
            return;
        }
        if (options_.toStdout) {
            printOut(job.shown, job.page);
            return;
        }
        if (options_.quiet)
            return;
        if (hooks_.progress)
            hooks_.progress->clear();
        printOut(job.shown, priorityPrefix(out_, Priority::Info) +
                                platform::withTrailingSlash(job.shown) + IndexPageWriter::PageName +
                                ": " + pageSummary(job.written, job.missingLinks) + '\n');
    }

    // Output that cannot be written is a failure, reported once (every later line would fail
    // alike); a closed pipe (| head) ends quietly, as other tools do.
    void printOut(const QByteArray& shown, QByteArrayView bytes) {
        if (outFailed_) {
            failed_ = true;
            return;
        }
        const int err = writeOut(out_, bytes);
        if (err == 0)
            return;
        failed_ = true;
        outFailed_ = true;
        if (err != EPIPE) {
            EWriteError error;
            error.SetReason(platform::systemErrorText(err));
            report(shown, failureText(error));
        }
    }

    // docindex: DIR: NAME: message[: reason], NAME being what failed within the folder
    // (a document), left out where the message names it already or it is the folder.
    static QString failureText(const Exception& e, const QByteArray& folder = {}) {
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
        return text;
    }

    void report(const QByteArray& shown, const QString& message) {
        if (hooks_.progress)
            hooks_.progress->clear();
        const QByteArray line = "docindex: " + shown + ": " + platform::toFsBytes(message);
        if (hooks_.onError) {
            hooks_.onError(line);
            return;
        }
        cli::print(err_, priorityPrefix(err_, Priority::Error) + line + '\n');
        std::fflush(err_);
    }

    const Options& options_;
    std::FILE* out_;
    std::FILE* err_;
    const WriteHooks& hooks_;
    std::set<platform::FolderId> visited_;
    bool failed_ = false;
    bool outFailed_ = false;
    bool parallel_ = false;
    bool more_ = false; // folders beside the one being listed are still to be walked

    // With page threads: jobs in walk order until printed, and those waiting for their page.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Job>> order_;
    std::deque<Job*> queue_;
    bool stop_ = false;
    // Pages are written by a few threads: while one waits for its page to reach the disk
    // (fdatasync), the others build the next pages.
    static constexpr int kPageWorkers = 3;
    std::vector<std::thread> workers_;
};

} // namespace

bool writeTrees(const Options& options, const QList<QByteArray>& dirs, std::FILE* out,
                std::FILE* err, const WriteHooks& hooks) {
    Writer writer(options, out, err, hooks);
    for (const QByteArray& dir : dirs)
        writer.writeTree(dir);
    return writer.finishAll();
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
        return finishOutput(kAllWritten, out, err);
    }
    if (options.version) {
        print(out, "docindex " DOCINDEX_VERSION "\n");
        return finishOutput(kAllWritten, out, err);
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
