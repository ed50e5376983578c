#include "main/WatchMode.h"

#include "main/CommandLine.h"
#include "main/CommandLineOptions.h"
#include "main/LogLines.h"
#include "main/Progress.h"
#include "platform/Enumerate.h"
#include "platform/Errors.h"
#include "platform/FolderWatch.h"
#include "platform/FsString.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Service.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <set>
#include <unordered_map>

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A page is written once its folder has been quiet this long, so that a burst of changes
// (a copy of many documents) gives one page, not one per document...
constexpr milliseconds kQuiet{80};
// ...but never later than this after the first change, however long the burst goes on.
constexpr milliseconds kLongest{500};

class Watcher {
public:
    Watcher(const Options& options, std::FILE* out, std::FILE* err)
        : options_(options), single_(options), out_(out), err_(err) {
        single_.recursive = false; // a folder's own page, without the walk
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { writeDue(); });
        repeatTimer_.setSingleShot(true);
        QObject::connect(&repeatTimer_, &QTimer::timeout, [this] { sayRepeats(); });
        hooks_.onError = [this](const QByteArray& line) { sayLine(line, Priority::Error); };
    }

    int exec() {
        if (!watch_.isValid()) {
            say(Priority::Error,
                "cannot watch folders: " +
                    platform::toFsBytes(platform::systemErrorText(watch_.error())) +
                    (watch_.error() == EMFILE
                         ? QByteArray(" (the per-user limit fs.inotify.max_user_instances)")
                         : QByteArray()));
            return kSomeFailed;
        }
        platform::StopSignals stop(true); // SIGHUP: every page again
        if (!stop.isValid()) {
            say(Priority::Error, "cannot wait for SIGINT and SIGTERM: " +
                                     platform::toFsBytes(platform::systemErrorText(errno)));
            return kSomeFailed;
        }
        {
            Progress progress(err_,
                              options_.recursive && !options_.quiet && platform::isTerminal(err_));
            adopt(options_.dirs, true, &progress);
            documentCount_ = progress.documents();
        }
        if (folders_.empty())
            return kSomeFailed; // nothing left to keep current
        platform::notifyServiceManager("READY=1\n" + status());

        QEventLoop loop;
        loop_ = &loop;
        QSocketNotifier changes(watch_.fd(), QSocketNotifier::Read);
        QObject::connect(&changes, &QSocketNotifier::activated, [this] { readChanges(); });
        QSocketNotifier stopping(stop.fd(), QSocketNotifier::Read);
        QObject::connect(&stopping, &QSocketNotifier::activated, [&] {
            const platform::StopSignals::Requests requests = stop.takeRequests();
            if (requests.stop)
                loop.quit();
            else if (requests.reload)
                reload();
        });
        loop.exec();
        loop_ = nullptr;
        platform::notifyServiceManager("STOPPING=1");
        return exitCode_;
    }

private:
    struct Folder {
        QByteArray shown; // as printed, relative to the working folder when DIR was
        QByteArray path;  // absolute, ending with '/'
        platform::FolderId id;
        bool root = false; // a DIR as given: may be a link to the folder
    };
    struct Dirty {
        Clock::time_point first;
        Clock::time_point last;
    };
    // A folder named on the command line that went away: its nearest existing ancestor is
    // watched until it is back.
    struct Waiting {
        QByteArray shown;
        QByteArray path; // absolute, ending with '/'
        QByteArray at;   // the ancestor watched
        int watch = -1;
    };

    // Writes the pages of folders (with -r, of their trees), watching every folder reached
    // before it is read, so that no change after the read is missed.
    void adopt(const QList<QByteArray>& dirs, bool roots, Progress* progress = nullptr) {
        QList<QByteArray> shownRoots;
        for (const QByteArray& dir : dirs)
            shownRoots.append(platform::withoutTrailingSlash(dir));
        WriteHooks hooks = hooks_;
        hooks.progress = progress;
        hooks.onFolder = [&](const QByteArray& shown, const QString& folder) {
            watchFolder(shown, platform::toFsBytes(folder), roots && shownRoots.contains(shown));
        };
        // One walk for all, so that a folder named twice or below another is written once.
        writeTrees(options_, dirs, out_, err_, hooks);
    }

    void watchFolder(const QByteArray& shown, const QByteArray& path, bool root) {
        int err = 0;
        const int wd = watch_.add(path, root, err);
        platform::FolderId id;
        if (wd < 0 || platform::folderIdentity(path, root, id) != 0) {
            if (wd >= 0)
                err = ENOENT;
            if (err == ENOSPC) {
                if (!limitReported_)
                    say(Priority::Warning,
                        "cannot watch every folder: the per-user limit of inotify watches is "
                        "reached (sysctl fs.inotify.max_user_watches); going on with the "
                        "folders watched so far");
                limitReported_ = true;
            } else if (err != ENOENT) {
                say(Priority::Error, shown + ": cannot watch: " +
                                         platform::toFsBytes(platform::systemErrorText(err)));
            }
            return;
        }
        Folder& folder = folders_[wd];
        byId_.erase(folder.id);
        folder = Folder{shown, path, id, root};
        byId_[id] = wd;
    }

    void readChanges() {
        events_.clear();
        if (!watch_.read(events_)) {
            say(Priority::Error,
                "cannot read changes: " +
                    platform::toFsBytes(platform::systemErrorText(watch_.error())));
            return;
        }
        std::set<int> waits; // watches of ancestors that something happened in
        for (const platform::FolderWatch::Event& e : events_) {
            if (e.kind == platform::FolderWatch::Event::Overflow) {
                rescan();
                continue;
            }
            if (waitedOn(e.watch))
                waits.insert(e.watch);
            const auto found = folders_.find(e.watch);
            if (found == folders_.end())
                continue; // a watch already dropped
            const Folder& folder = found->second;
            switch (e.kind) {
            case platform::FolderWatch::Event::Entry:
                if (documents_.matches(e.name))
                    markDirty(e.watch);
                break;
            case platform::FolderWatch::Event::SubfolderIn:
                if (options_.recursive && !e.name.startsWith('.'))
                    adoptSubfolder(folder, e.name);
                break;
            case platform::FolderWatch::Event::SubfolderOut:
                if (options_.recursive)
                    dropGone(folder.path + e.name + '/');
                break;
            case platform::FolderWatch::Event::Moved:
                dropGone(folder.path);
                break;
            case platform::FolderWatch::Event::Gone:
                forget(e.watch);
                break;
            case platform::FolderWatch::Event::Overflow:
                break;
            }
        }
        for (int wd : waits)
            lookAgain(wd);
    }

    void adoptSubfolder(const Folder& parent, const QByteArray& name) {
        const QByteArray path = parent.path + name + '/';
        platform::FolderId id;
        // A real folder (not a link put in its place) that is not watched yet.
        if (platform::folderIdentity(path, false, id) != 0 || byId_.count(id) != 0)
            return;
        adopt({platform::withTrailingSlash(parent.shown) + name}, false);
    }

    // Stops watching the folders at or below `prefix` that are no longer what was watched
    // there (removed, moved away, replaced).
    void dropGone(const QByteArray& prefix) {
        std::vector<int> gone;
        for (const auto& [wd, folder] : folders_) {
            platform::FolderId id;
            if (folder.path.startsWith(prefix) &&
                (platform::folderIdentity(folder.path, folder.root, id) != 0 || !(id == folder.id)))
                gone.push_back(wd);
        }
        for (int wd : gone) {
            forget(wd);
            release(wd);
        }
    }

    void forget(int wd) {
        const auto found = folders_.find(wd);
        if (found == folders_.end())
            return;
        const Folder folder = found->second;
        const auto byId = byId_.find(folder.id);
        if (byId != byId_.end() && byId->second == wd)
            byId_.erase(byId);
        folders_.erase(found);
        dirty_.erase(wd);
        if (folder.root)
            startWaiting(folder);
    }

    // Stops a watch that neither a folder nor a wait uses any more.
    void release(int wd) {
        if (wd >= 0 && folders_.count(wd) == 0 && !waitedOn(wd))
            watch_.remove(wd);
    }

    bool waitedOn(int wd) const {
        return std::any_of(waiting_.begin(), waiting_.end(),
                           [&](const Waiting& w) { return w.watch == wd; });
    }

    bool isWatched(const QByteArray& shown) const {
        return std::any_of(folders_.begin(), folders_.end(), [&](const auto& entry) {
            return entry.second.root && entry.second.shown == shown;
        });
    }

    bool isWaiting(const QByteArray& shown) const {
        return std::any_of(waiting_.begin(), waiting_.end(),
                           [&](const Waiting& w) { return w.shown == shown; });
    }

    void startWaiting(const Folder& folder) {
        if (isWaiting(folder.shown))
            return;
        say(Priority::Warning,
            folder.shown + ": the folder went away; waiting for it to come back");
        waiting_.push_back(Waiting{folder.shown, folder.path, {}, -1});
        platform::notifyServiceManager(status());
        lookAgain(waiting_.back().watch);
    }

    // Something happened where folders are waited for: each one that is back is written and
    // watched again; for the others the nearest existing ancestor is watched (deeper, when a
    // folder on the way came back; higher, when the ancestor went too).
    void lookAgain(int wd) {
        std::vector<Waiting> back;
        for (auto it = waiting_.begin(); it != waiting_.end();) {
            if (it->watch != wd) {
                ++it;
            } else if (waitCloser(*it)) {
                ++it;
            } else {
                back.push_back(std::move(*it));
                it = waiting_.erase(it);
            }
        }
        release(wd);
        for (const Waiting& w : back) {
            if (platform::isOnReadOnlyMount(w.path)) {
                // Its pages could never be written again; a restart by the service manager
                // makes the folder writable afresh.
                say(Priority::Error, w.shown + ": the folder is back on a read-only file system "
                                               "(outside a service's writable paths); ending");
                exitCode_ = kSomeFailed;
                if (loop_)
                    loop_->quit();
                return;
            }
            say(Priority::Info, w.shown + ": the folder is back; watching it again");
            adopt({w.shown}, true);
            platform::FolderId id;
            if (!isWatched(w.shown) && platform::folderIdentity(w.path, true, id) != 0) {
                // Gone again before it could be watched: wait once more.
                waiting_.push_back(Waiting{w.shown, w.path, {}, -1});
                lookAgain(-1);
            }
        }
        if (!back.empty())
            platform::notifyServiceManager(status());
    }

    // Watches the nearest existing ancestor of a folder waited for; false once the folder is
    // there again. A folder on the way may appear while the watch is added: look again then.
    bool waitCloser(Waiting& w) {
        for (;;) {
            platform::FolderId id;
            if (platform::folderIdentity(w.path, true, id) == 0)
                return false;
            QByteArray at = platform::withoutTrailingSlash(w.path);
            do
                at.truncate(std::max<qsizetype>(at.lastIndexOf('/'), 1));
            while (at.size() > 1 && platform::folderIdentity(at, true, id) != 0);
            if (at == w.at && w.watch >= 0)
                return true;
            int err = 0;
            const int previous = w.watch;
            w.at = at;
            w.watch = watch_.add(at, true, err);
            if (previous != w.watch)
                release(previous);
            if (w.watch < 0) {
                say(Priority::Error, w.shown + ": cannot wait for the folder: " +
                                         platform::toFsBytes(platform::systemErrorText(err)));
                return true; // looked at again with the next lost queue or reload
            }
        }
    }

    // Events were lost: look at everything again.
    void rescan() {
        dropGone(QByteArray());
        dirty_.clear();
        QList<QByteArray> present;
        for (const QByteArray& dir : options_.dirs) {
            if (!isWaiting(platform::withoutTrailingSlash(dir)))
                present.append(dir);
        }
        Progress counted(err_, false);
        adopt(present, true, &counted);
        documentCount_ = counted.documents();
        std::set<int> waits; // whatever happened, each folder waited for is looked at again
        for (const Waiting& w : waiting_)
            waits.insert(w.watch);
        for (int wd : waits)
            lookAgain(wd);
        armTimer();
    }

    // SIGHUP: every page written again, as at the start; the watch goes on.
    void reload() {
        const auto now =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch());
        platform::notifyServiceManager("RELOADING=1\nMONOTONIC_USEC=" +
                                       QByteArray::number(qint64(now.count())));
        rescan();
        platform::notifyServiceManager("READY=1\n" + status());
    }

    // The service manager's one-line status.
    QByteArray status() const {
        QByteArray text = "STATUS=Watching " + QByteArray::number(qsizetype(folders_.size())) +
                          (folders_.size() == 1 ? " folder" : " folders") + ", " +
                          QByteArray::number(documentCount_) +
                          (documentCount_ == 1 ? " document" : " documents");
        if (!waiting_.empty()) {
            text += "; waiting for";
            for (const Waiting& w : waiting_)
                text += ' ' + w.shown;
        }
        return text;
    }

    void markDirty(int wd) {
        const auto now = Clock::now();
        const auto [it, added] = dirty_.try_emplace(wd, Dirty{now, now});
        if (!added)
            it->second.last = now;
        armTimer();
    }

    static Clock::time_point dueAt(const Dirty& d) {
        return std::min(d.last + kQuiet, d.first + kLongest);
    }

    // One timer for every folder waiting; stopped while none is, so an idle watch costs no
    // CPU at all.
    void armTimer() {
        if (dirty_.empty()) {
            timer_.stop();
            return;
        }
        auto next = Clock::time_point::max();
        for (const auto& [wd, d] : dirty_)
            next = std::min(next, dueAt(d));
        const auto wait = std::chrono::ceil<milliseconds>(next - Clock::now());
        timer_.start(int(std::max<milliseconds::rep>(0, wait.count())));
    }

    void writeDue() {
        readChanges(); // what is queued joins this round instead of causing the next
        const auto now = Clock::now();
        std::vector<int> due;
        for (const auto& [wd, d] : dirty_) {
            if (dueAt(d) <= now)
                due.push_back(wd);
        }
        for (int wd : due) {
            dirty_.erase(wd);
            const auto found = folders_.find(wd);
            if (found == folders_.end())
                continue;
            const Folder& folder = found->second;
            platform::FolderId id;
            if (platform::folderIdentity(folder.path, folder.root, id) != 0 || !(id == folder.id)) {
                dropGone(folder.path);
                continue;
            }
            writeTrees(single_, {folder.shown}, out_, err_, hooks_);
        }
        armTimer();
    }

    void say(Priority priority, const QByteArray& text) { sayLine("docindex: " + text, priority); }

    // A line of the log. An error is held back while the same one was said less than a
    // minute ago (a folder swapped in a loop must not flood the log); the rest are one-off.
    void sayLine(const QByteArray& line, Priority priority) {
        const QByteArray prefixed = priorityPrefix(err_, priority) + line;
        write(priority == Priority::Error ? repeats_.admit(prefixed, Clock::now())
                                          : QList<QByteArray>{prefixed});
    }

    void sayRepeats() { write(repeats_.due(Clock::now())); }

    void write(const QList<QByteArray>& lines) {
        for (const QByteArray& line : lines) {
            std::fwrite(line.constData(), 1, size_t(line.size()), err_);
            std::fputc('\n', err_);
        }
        std::fflush(err_);
        if (const auto next = repeats_.nextDue()) {
            const auto wait = std::chrono::ceil<milliseconds>(*next - Clock::now());
            repeatTimer_.start(int(std::max<milliseconds::rep>(0, wait.count())));
        }
    }

    const Options& options_;
    Options single_;
    std::FILE* out_;
    std::FILE* err_;
    platform::FolderWatch watch_;
    std::unordered_map<int, Folder> folders_;
    std::map<platform::FolderId, int> byId_;
    std::map<int, Dirty> dirty_;
    std::vector<platform::FolderWatch::Event> events_;
    std::vector<Waiting> waiting_;
    long long documentCount_ = 0; // on the pages of the last full walk
    WriteHooks hooks_;
    RepeatedLines repeats_;
    QTimer repeatTimer_;
    QEventLoop* loop_ = nullptr; // while it runs
    int exitCode_ = kAllWritten;
    QTimer timer_;
    bool limitReported_ = false;
    const platform::WildcardPattern documents_{"*_.txt"};
};

} // namespace

int runWatch(const Options& options, std::FILE* out, std::FILE* err) {
    Watcher watcher(options, out, err);
    return watcher.exec();
}

} // namespace cli
