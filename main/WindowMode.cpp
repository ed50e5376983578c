#include "main/WindowMode.h"

#include "filectrls/FileIconProvider.h"
#include "filectrls/FileInfo.h"
#include "filectrls/ShellChangeThread.h"
#include "main/Application.h"
#include "main/ErrorBox.h"
#include "main/MainWindow.h"
#include "platform/FsString.h"

#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

namespace {

bool envSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// The platform plugin that QApplication will load: -platform NAME, else QT_QPA_PLATFORM.
QByteArray platformName(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return argv[i + 1];
    }
    return qgetenv("QT_QPA_PLATFORM");
}

// QApplication ends the process with abort() when its platform cannot start (a display that
// does not answer). Turn that into the window mode's error and exit code 1.
QtMessageHandler previousHandler = nullptr;
void startupMessageHandler(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (type != QtFatalMsg) {
        if (previousHandler)
            previousHandler(type, context, message);
        else
            std::fprintf(stderr, "%s\n", qUtf8Printable(message));
        return;
    }
    std::fprintf(stderr, "docindex: cannot open the window: %s\n", qUtf8Printable(message));
    std::fflush(stderr);
    std::_Exit(1);
}

int usageError(const char* what, const char* argument) {
    std::fprintf(stderr, "docindex: %s '%s'\nTry 'docindex --help' for more information.\n", what,
                 argument);
    return 2;
}

} // namespace

bool displayAvailable(int argc, char** argv) {
    const QByteArray platform = platformName(argc, argv);
    // Plugins such as offscreen, vnc, linuxfb or eglfs need no display server.
    const bool needsServer =
        platform.isEmpty() || platform.startsWith("xcb") || platform.startsWith("wayland");
    if (!needsServer)
        return true;
    return envSet("DISPLAY") || envSet("WAYLAND_DISPLAY");
}

int runMainWindow(const QString& startFolder) {
    errorbox::setApplicationEnding(false);
    errorbox::installExceptionHandler();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp,
                     [] { errorbox::setApplicationEnding(true); });
    int code = 1;
    {
        std::unique_ptr<TForm1> window;
        try {
            window = std::make_unique<TForm1>(startFolder);
        } catch (...) {
            code = errorbox::reportStartupFailure(std::current_exception());
        }
        if (window) {
            window->show();
            code = QApplication::exec();
            errorbox::setApplicationEnding(true);
        }
    }
    // After the window and its controls, before the application object goes away.
    TShellChangeThread::StopAll();
    FreeSharedIconProvider();
    return code;
}

int runWindowMode(int argc, char** argv) {
    // The icons live in this static library: make sure the linker keeps them.
    Q_INIT_RESOURCE(docindex);
    if (!displayAvailable(argc, argv)) {
        std::fprintf(stderr,
                     "docindex: cannot open the window: no display (neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set)\n"
                     "Without a display, use 'docindex --write DIR...' (see 'docindex --help').\n");
        return 1;
    }
    previousHandler = qInstallMessageHandler(startupMessageHandler);
    TApplication app(argc, argv);
    qInstallMessageHandler(previousHandler);
    QApplication::setApplicationName(QStringLiteral("docindex"));
    QApplication::setDesktopFileName(QStringLiteral("docindex"));
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/docindex/appicon/docindex-%1.png").arg(size));
    QApplication::setWindowIcon(icon);

    // QApplication has taken its own options (-platform, ...) out of argv.
    QString folder;
    bool haveFolder = false;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && arg[0] == '-' && arg[1] != '\0') {
            return usageError("unknown option", arg);
        } else if (haveFolder) {
            return usageError("one folder only; extra argument", arg);
        } else {
            folder = platform::fromFsBytes(arg);
            haveFolder = true;
        }
    }
    return runMainWindow(haveFolder ? NormalizeLocation(folder) : TForm1::DesignTimeFolder());
}
