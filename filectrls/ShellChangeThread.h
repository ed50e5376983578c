#pragma once
// The change watcher: one thread watching one folder, handing each change to the GUI thread.
#include <QByteArray>

#include <functional>

class TShellChangeThread {
public:
    // Starts watching `folder` (file-system bytes) at once; called on the GUI thread. The
    // callback runs on the GUI thread for each change while the watcher thread waits. The
    // object frees itself when its thread ends.
    static TShellChangeThread* Create(const QByteArray& folder, std::function<void()> callback);

    // Stop request, on the GUI thread. Returns at once; the caller must not touch the object
    // afterwards. Once it has returned, the callback is never called again.
    void Terminate();

    // At program exit, before the application object goes away: stops and joins every live
    // watcher, also one blocked in its hand-over to the GUI thread.
    static void StopAll();

    // Number of watcher threads still alive (for tests and diagnostics).
    static int LiveCount();

private:
    TShellChangeThread() = default;
    ~TShellChangeThread() = default;
};
