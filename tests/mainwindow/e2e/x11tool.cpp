// What the end-to-end test needs of X beyond xdotool:
//   x11tool grab WINDOW_ID FILE.png  saves a picture of the window (a test artifact);
//   x11tool close WINDOW_ID          asks the window to close as a window manager's close
//                                    button does (WM_DELETE_WINDOW).
#include <QByteArray>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, quint16(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

int grab(WId window, const char* file) {
    QScreen* screen = QGuiApplication::primaryScreen();
    const QPixmap picture = screen ? screen->grabWindow(window) : QPixmap();
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(file))) {
        std::fprintf(stderr, "x11tool: cannot save %s\n", file);
        return 1;
    }
    return 0;
}

int close(WId window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) {
        std::fprintf(stderr, "x11tool: not on X\n");
        return 1;
    }
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(window);
    event.type = atom(connection, "WM_PROTOCOLS");
    event.data.data32[0] = atom(connection, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, xcb_window_t(window), XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QByteArray command = argc > 2 ? argv[1] : "";
    bool ok = false;
    const WId window = argc > 2 ? QByteArray(argv[2]).toULongLong(&ok, 0) : 0;
    if (ok && command == "grab" && argc == 4)
        return grab(window, argv[3]);
    if (ok && command == "close" && argc == 3)
        return close(window);
    std::fprintf(stderr, "usage: x11tool grab WINDOW_ID FILE.png | x11tool close WINDOW_ID\n");
    return 2;
}
