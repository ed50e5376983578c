#pragma once
// The change watcher: one thread watching one folder, handing each change to the GUI thread.
#include <QByteArray>

#include <functional>
#include <memory>

class TShellChangeThread {
public:
    // Starts watching `folder` (file-system bytes) at once; called on the GUI thread (the
    // thread of the QCoreApplication). The callback runs on the GUI thread for each change
    // while the watcher thread waits; changes made meanwhile give exactly one more call. An
    // exception from the callback goes to the application's handler and watching goes on.
    // Never answers null: a folder that cannot be watched gets a watcher that has already
    // ended (no thread, no callback), which still takes its Terminate().
    static TShellChangeThread* Create(const QByteArray& folder, std::function<void()> callback);

    // Stop request, on the GUI thread. Returns at once; the caller must not touch the object
    // afterwards. Once it has returned, the callback is never called again. The watcher's
    // thread, if still running, ends on its own and is joined by the GUI thread later.
    void Terminate();

    // At program exit, before the application object goes away: stops and joins every live
    // watcher, also one blocked in its hand-over to the GUI thread. No callback runs after it.
    // Watchers not yet terminated still take their Terminate() afterwards. Also runs by itself
    // when the application object is destroyed.
    static void StopAll();

    // Number of watcher threads still alive (for tests and diagnostics).
    static int LiveCount();

    // Number of changes handed over and waiting for the GUI thread to run their callback
    // (for tests and diagnostics).
    static int PendingCount();

    struct Watch; // the state shared by the GUI thread and the watcher's thread

private:
    explicit TShellChangeThread(std::shared_ptr<Watch> watch);
    ~TShellChangeThread();
    TShellChangeThread(const TShellChangeThread&) = delete;
    TShellChangeThread& operator=(const TShellChangeThread&) = delete;

    std::shared_ptr<Watch> watch_;
};
