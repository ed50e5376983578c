#include "filectrls/ShellChangeThread.h"

#include "base/ApplicationException.h"
#include "platform/ChangeNotifier.h"
#include "platform/WakeEvent.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QtDebug>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

// Threads meet only under `Shared::mutex`; Qt is used on the GUI thread alone. A watcher
// that has a change queues itself in `pending`, signals a wake event that a socket notifier
// on the GUI thread watches, and waits on `handedOver` until the GUI thread has run the callback
// or a stop request wakes it. So nothing crosses threads inside Qt (whose locks are invisible
// to ThreadSanitizer), and a stop never has to wait for the GUI thread.

struct TShellChangeThread::Watch : std::enable_shared_from_this<Watch> {
    // Set on the GUI thread before the watcher's thread starts; the thread uses it without
    // the mutex. Others call requestStop() only under the mutex, and the thread takes it
    // away under the mutex before destroying it.
    std::unique_ptr<platform::ChangeNotifier> notifier;

    // Under Shared::mutex.
    bool stopRequested = false;
    bool finished = false;
    bool handedOver = false;

    // GUI thread only. Empty once terminated, so the callback cannot run again. Shared, so
    // that a Terminate() from inside the callback does not destroy the running function.
    std::shared_ptr<const std::function<void()>> callback;
};

namespace {

using Watch = TShellChangeThread::Watch;

struct Slot {
    std::shared_ptr<Watch> watch;
    std::thread thread;
};

struct Shared {
    std::mutex mutex;
    std::condition_variable handedOver;
    std::vector<Slot> running;                  // every watcher thread not yet joined
    std::deque<std::shared_ptr<Watch>> pending; // changes waiting for the GUI thread
    platform::WakeEvent* guiWake = nullptr;     // the hub's, while it exists

    // Reached with live watchers only when the program ends without the application object's
    // clean-up (exit() from somewhere): stop and join them rather than let std::thread abort.
    ~Shared() {
        std::vector<Slot> left;
        {
            std::lock_guard lock(mutex);
            for (Slot& slot : running) {
                slot.watch->stopRequested = true;
                if (slot.watch->notifier)
                    slot.watch->notifier->requestStop();
            }
            left = std::exchange(running, {});
        }
        handedOver.notify_all();
        for (Slot& slot : left)
            slot.thread.join();
    }
};

Shared& shared() {
    static Shared instance;
    return instance;
}

// Wakes the GUI thread's hub; called with the mutex held, so the hub cannot go meanwhile.
void wakeGuiLocked(Shared& s) {
    if (s.guiWake)
        s.guiWake->signal();
}

// Joins the threads that have ended; GUI thread.
void reapFinished() {
    Shared& s = shared();
    std::vector<Slot> done;
    {
        std::lock_guard lock(s.mutex);
        for (auto it = s.running.begin(); it != s.running.end();) {
            if (it->watch->finished) {
                done.push_back(std::move(*it));
                it = s.running.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Slot& slot : done)
        slot.thread.join();
}

// Runs the pending callbacks; GUI thread. Re-entrant: a callback may spin a nested event
// loop (a message box) in which the hub runs again for other watchers.
void runPendingCallbacks() {
    Shared& s = shared();
    for (;;) {
        std::shared_ptr<Watch> watch;
        {
            std::lock_guard lock(s.mutex);
            if (s.pending.empty())
                return;
            watch = std::move(s.pending.front());
            s.pending.pop_front();
        }
        if (const auto callback = watch->callback)
            runGuarded([&] { (*callback)(); });
        {
            std::lock_guard lock(s.mutex);
            watch->handedOver = true;
        }
        s.handedOver.notify_all();
    }
}

// Lives in the GUI thread as a child of the application object, which deletes it.
class HandOverHub : public QObject {
public:
    explicit HandOverHub(QObject* parent) : QObject(parent) {
        if (!wake_.isValid())
            return;
        auto* notifier = new QSocketNotifier(wake_.fd(), QSocketNotifier::Read, this);
        QObject::connect(notifier, &QSocketNotifier::activated, this, [this] {
            wake_.clear();
            reapFinished();
            runPendingCallbacks();
        });
        Shared& s = shared();
        std::lock_guard lock(s.mutex);
        s.guiWake = &wake_;
    }
    ~HandOverHub() override {
        Shared& s = shared();
        std::lock_guard lock(s.mutex);
        if (s.guiWake == &wake_)
            s.guiWake = nullptr;
    }
    bool isValid() const { return wake_.isValid(); }

private:
    platform::WakeEvent wake_;
};

QPointer<HandOverHub>& hub() {
    static QPointer<HandOverHub> instance;
    return instance;
}

std::thread::id& guiThreadId() {
    static std::thread::id id;
    return id;
}

bool onGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool ensureHub() {
    if (hub())
        return true;
    auto* created = new HandOverHub(QCoreApplication::instance());
    if (!created->isValid()) {
        delete created;
        return false;
    }
    hub() = created;
    guiThreadId() = std::this_thread::get_id();
    // Watchers must be joined while the application object (and the hub) still exist.
    qAddPostRoutine(&TShellChangeThread::StopAll);
    return true;
}

// Blocks until the GUI thread has run the callback; false when told to stop meanwhile.
bool handOver(Watch& watch) {
    Shared& s = shared();
    std::unique_lock lock(s.mutex);
    if (watch.stopRequested)
        return false;
    watch.handedOver = false;
    s.pending.push_back(watch.shared_from_this());
    wakeGuiLocked(s);
    s.handedOver.wait(lock, [&] { return watch.handedOver || watch.stopRequested; });
    return !watch.stopRequested;
}

void runWatch(Watch* watch) {
    using Wait = platform::ChangeNotifier::Wait;
    for (;;) {
        const Wait result = watch->notifier->wait();
        if (result == Wait::Stopped || result == Wait::Failed)
            break;
        if (!handOver(*watch) || result == Wait::Gone)
            break;
    }
    Shared& s = shared();
    std::unique_ptr<platform::ChangeNotifier> closing;
    {
        std::lock_guard lock(s.mutex);
        closing = std::move(watch->notifier); // no stop request reaches it from now on
    }
    // The descriptors go now, not when the GUI thread reaps; outside the lock, since closing
    // an inotify instance waits for the kernel (milliseconds).
    closing.reset();
    std::lock_guard lock(s.mutex);
    watch->finished = true;
    wakeGuiLocked(s);
}

} // namespace

TShellChangeThread::TShellChangeThread(std::shared_ptr<Watch> watch) : watch_(std::move(watch)) {}

TShellChangeThread::~TShellChangeThread() = default;

TShellChangeThread* TShellChangeThread::Create(const QByteArray& folder,
                                               std::function<void()> callback) {
    auto watch = std::make_shared<Watch>();
    watch->callback = std::make_shared<const std::function<void()>>(std::move(callback));
    auto* handle = new TShellChangeThread(watch);
    if (!onGuiThread()) {
        qWarning("TShellChangeThread: not created on the application's thread; not watching");
        return handle;
    }
    if (!ensureHub())
        return handle;
    auto notifier = std::make_unique<platform::ChangeNotifier>(folder);
    if (!notifier->isValid())
        return handle; // cannot be watched: no automatic refresh, no message
    watch->notifier = std::move(notifier);
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    s.running.reserve(s.running.size() + 1); // so that the push below cannot throw
    try {
        std::thread thread(runWatch, watch.get());
        s.running.push_back(Slot{watch, std::move(thread)});
    } catch (const std::system_error&) {
        watch->notifier.reset(); // no thread to be had: no automatic refresh
    }
    return handle;
}

void TShellChangeThread::Terminate() {
    watch_->callback.reset();
    Shared& s = shared();
    {
        std::lock_guard lock(s.mutex);
        watch_->stopRequested = true;
        if (watch_->notifier)
            watch_->notifier->requestStop();
    }
    s.handedOver.notify_all();
    delete this;
}

void TShellChangeThread::StopAll() {
    if (guiThreadId() != std::thread::id() && std::this_thread::get_id() != guiThreadId()) {
        qWarning("TShellChangeThread::StopAll: not on the application's thread");
        return;
    }
    Shared& s = shared();
    std::vector<Slot> stopping;
    std::deque<std::shared_ptr<Watch>> dropped;
    {
        std::lock_guard lock(s.mutex);
        for (Slot& slot : s.running) {
            slot.watch->stopRequested = true;
            if (slot.watch->notifier)
                slot.watch->notifier->requestStop();
        }
        stopping = std::exchange(s.running, {});
        // Queued hand-overs are dropped; their watchers are among those told to stop.
        dropped = std::exchange(s.pending, {});
    }
    s.handedOver.notify_all();
    // The callbacks belong to the GUI thread (this one); they go outside the lock.
    for (Slot& slot : stopping)
        slot.watch->callback.reset();
    for (Slot& slot : stopping)
        slot.thread.join();
}

int TShellChangeThread::LiveCount() {
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    int live = 0;
    for (const Slot& slot : s.running)
        live += slot.watch->finished ? 0 : 1;
    return live;
}

int TShellChangeThread::PendingCount() {
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    return static_cast<int>(s.pending.size());
}
