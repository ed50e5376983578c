#include "main/WatchMode.h"

#include "main/CommandLine.h"
#include "main/CommandLineOptions.h"
#include "main/Progress.h"
#include "platform/Enumerate.h"
#include "platform/Errors.h"
#include "platform/FolderWatch.h"
#include "platform/FsString.h"
#include "platform/Paths.h"
#include "platform/Process.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <map>
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
    }

    int exec() {
        if (!watch_.isValid()) {
            say("cannot watch folders: " +
                platform::toFsBytes(platform::systemErrorText(watch_.error())) +
                (watch_.error() == EMFILE
                     ? QByteArray(" (the per-user limit fs.inotify.max_user_instances)")
                     : QByteArray()));
            return kSomeFailed;
        }
        platform::StopSignals stop;
        if (!stop.isValid()) {
            say("cannot wait for SIGINT and SIGTERM: " +
                platform::toFsBytes(platform::systemErrorText(errno)));
            return kSomeFailed;
        }
        {
            Progress progress(err_,
                              options_.recursive && !options_.quiet && platform::isTerminal(err_));
            adopt(options_.dirs, true, &progress);
        }
        if (folders_.empty())
            return kSomeFailed; // nothing left to keep current

        QEventLoop loop;
        QSocketNotifier changes(watch_.fd(), QSocketNotifier::Read);
        QObject::connect(&changes, &QSocketNotifier::activated, [this] { readChanges(); });
        QSocketNotifier stopping(stop.fd(), QSocketNotifier::Read);
        QObject::connect(&stopping, &QSocketNotifier::activated, [&] {
            stop.take();
            loop.quit();
        });
        loop.exec();
        return kAllWritten;
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

    // Writes the pages of folders (with -r, of their trees), watching every folder reached
    // before it is read, so that no change after the read is missed.
    void adopt(const QList<QByteArray>& dirs, bool roots, Progress* progress = nullptr) {
        QList<QByteArray> shownRoots;
        for (const QByteArray& dir : dirs)
            shownRoots.append(platform::withoutTrailingSlash(dir));
        WriteHooks hooks;
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
                    say("cannot watch every folder: the per-user limit of inotify watches is "
                        "reached (sysctl fs.inotify.max_user_watches); going on with the "
                        "folders watched so far");
                limitReported_ = true;
            } else if (err != ENOENT) {
                say(shown +
                    ": cannot watch: " + platform::toFsBytes(platform::systemErrorText(err)));
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
            say("cannot read changes: " +
                platform::toFsBytes(platform::systemErrorText(watch_.error())));
            return;
        }
        for (const platform::FolderWatch::Event& e : events_) {
            if (e.kind == platform::FolderWatch::Event::Overflow) {
                rescan();
                continue;
            }
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
            watch_.remove(wd);
            forget(wd);
        }
    }

    void forget(int wd) {
        const auto found = folders_.find(wd);
        if (found == folders_.end())
            return;
        if (found->second.root)
            say(found->second.shown + ": the folder went away; no longer watched");
        const auto byId = byId_.find(found->second.id);
        if (byId != byId_.end() && byId->second == wd)
            byId_.erase(byId);
        folders_.erase(found);
        dirty_.erase(wd);
    }

    // Events were lost: look at everything again.
    void rescan() {
        dropGone(QByteArray());
        dirty_.clear();
        adopt(options_.dirs, true);
        armTimer();
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
            writeTrees(single_, {folder.shown}, out_, err_);
        }
        armTimer();
    }

    void say(const QByteArray& text) {
        const QByteArray line = "docindex: " + text + "\n";
        std::fwrite(line.constData(), 1, size_t(line.size()), err_);
        std::fflush(err_);
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
