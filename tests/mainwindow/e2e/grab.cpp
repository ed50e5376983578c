// Saves a picture of one X window: grab WINDOW_ID FILE.png. The end-to-end test keeps it as an
// artifact, so that a person can look at the window as it was.
#include <QByteArray>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: grab WINDOW_ID FILE.png\n");
        return 2;
    }
    bool ok = false;
    const WId window = QByteArray(argv[1]).toULongLong(&ok, 0);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!ok || !screen) {
        std::fprintf(stderr, "grab: no window '%s' or no screen\n", argv[1]);
        return 2;
    }
    const QPixmap picture = screen->grabWindow(window);
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "grab: cannot save %s\n", argv[2]);
        return 1;
    }
    return 0;
}
