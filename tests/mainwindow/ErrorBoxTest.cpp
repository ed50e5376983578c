// The application's exception handling: the error box's text, what each kind of thrown object
// shows, the start-up failure text, and the display check of the window mode.
#include "MainWindowTestSupport.h"

#include "base/ApplicationException.h"
#include "base/Exception.h"
#include "main/WindowMode.h"
#include "platform/Module.h"

#include <QRegularExpression>

#include <memory>
#include <new>
#include <stdexcept>

using mwtest::WindowTest;

TEST(ErrorBoxText, AddsAFullStopWhenTheLastCharacterSortsAfterIt) {
    const struct {
        const char* message;
        const char* shown;
    } cases[] = {
        {"File not found", "File not found."},
        {"Done.", "Done."},
        {"Stop!", "Stop!"},
        {"(list)", "(list)"},
        {"Cannot create file \"x\"", "Cannot create file \"x\""},
        {"I/O error 31", "I/O error 31."},
        {"path/", "path/."}, // '/' sorts right after '.'
        {"a-", "a-"},        // '-' sorts right before it
        {"trailing ", "trailing "},
        {"Нет файла", "Нет файла."},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(errorbox::errorBoxText(QString::fromUtf8(c.message)), QString::fromUtf8(c.shown));
    }
}

namespace {

struct NotAnException {};

template <typename Thrower> std::exception_ptr captured(Thrower thrower) {
    try {
        thrower();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

} // namespace

TEST_F(WindowTest, EachThrownObjectShowsItsBoxAndTheProgramGoesOn) {
    const struct {
        const char* name;
        std::exception_ptr error;
        const char* box; // the error box's text, or nullptr for the "Application Error" box
    } cases[] = {
        {"ours", captured([] { throw EInOutError(2); }), "File not found."},
        {"ours ending in a full stop", captured([] { throw Exception("Done."); }), "Done."},
        {"std::exception", captured([] { throw std::runtime_error("disk on fire"); }),
         "disk on fire."},
        {"bad_alloc", captured([] { throw std::bad_alloc(); }), "Out of memory."},
        {"not an exception", captured([] { throw NotAnException(); }), nullptr},
        {"an int", captured([] { throw 42; }), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        appBoxes.clear();
        // Through the guard that every handler runs in: nothing escapes.
        runGuarded([&] { std::rethrow_exception(c.error); });
        if (c.box) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, QString::fromUtf8(c.box));
            EXPECT_TRUE(appBoxes.empty());
        } else {
            EXPECT_TRUE(boxes.empty());
            ASSERT_EQ(appBoxes.size(), 1u);
            EXPECT_EQ(appBoxes[0].title, QStringLiteral("Application Error"));
            EXPECT_TRUE(appBoxes[0].text.startsWith(QStringLiteral("Exception ")))
                << qPrintable(appBoxes[0].text);
            EXPECT_TRUE(appBoxes[0].text.endsWith(QStringLiteral(".\r\n\r\n")))
                << qPrintable(appBoxes[0].text);
        }
    }
}

TEST_F(WindowTest, NoBoxOnceTheApplicationIsEnding) {
    errorbox::setApplicationEnding(true);
    runGuarded([] { throw EInOutError(2); });
    runGuarded([] { throw 7; });
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(appBoxes.empty());
    errorbox::setApplicationEnding(false);
    runGuarded([] { throw EInOutError(2); });
    EXPECT_EQ(boxes.size(), 1u);
}

TEST(ApplicationErrorText, NamesClassModuleOffsetAndMessage) {
    const QString program = platform::programFileName();
    EXPECT_EQ(program, QStringLiteral("test_mainwindow"));
    const struct {
        const char* name;
        std::exception_ptr error;
        QString pattern;
    } cases[] = {
        {"ours", captured([] { throw EInOutError(2); }),
         QStringLiteral("^Exception EInOutError in module test_mainwindow at [0-9A-F]{8}\\.\\r\\n"
                        "File not found\\.\\r\\n$")},
        {"ours with a full stop", captured([] { throw Exception("Stop!"); }),
         QStringLiteral("^Exception Exception in module test_mainwindow at [0-9A-F]{8}\\.\\r\\n"
                        "Stop!\\.\\r\\n$")},
        {"already ends with one", captured([] { throw Exception("Done."); }),
         QStringLiteral("^Exception Exception in module test_mainwindow at [0-9A-F]{8}\\.\\r\\n"
                        "Done\\.\\r\\n$")},
        {"std", captured([] { throw std::runtime_error("boom"); }),
         QStringLiteral("^Exception std::runtime_error in module test_mainwindow at 00000000\\."
                        "\\r\\nboom\\.\\r\\n$")},
        {"bad_alloc", captured([] { throw std::bad_alloc(); }),
         QStringLiteral("^Exception std::bad_alloc in module test_mainwindow at 00000000\\."
                        "\\r\\nOut of memory\\.\\r\\n$")},
        {"int", captured([] { throw 42; }),
         QStringLiteral("^Exception int in module test_mainwindow at 00000000\\.\\r\\n\\r\\n$")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString text = errorbox::applicationErrorText(c.error);
        EXPECT_TRUE(QRegularExpression(c.pattern).match(text).hasMatch()) << qPrintable(text);
    }
}

TEST(ApplicationErrorText, TheOffsetLeadsBackToTheRaisingCode) {
    std::exception_ptr error = captured([] { throw EInOutError(3); });
    const void* address = nullptr;
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        address = e.raiseAddress();
    }
    const platform::ModulePosition where = platform::modulePositionOf(address);
    ASSERT_TRUE(where.found);
    EXPECT_EQ(where.moduleName, QStringLiteral("test_mainwindow"));
    // The same code in the same module: the offset of a function of this program is near.
    const platform::ModulePosition here =
        platform::modulePositionOf(reinterpret_cast<const void*>(&errorbox::errorBoxText));
    ASSERT_TRUE(here.found);
    EXPECT_LT(where.offset > here.offset ? where.offset - here.offset : here.offset - where.offset,
              std::uintptr_t(64) << 20);
    const QString hex = QStringLiteral("%1").arg(quint64(where.offset), 8, 16, QLatin1Char('0'));
    EXPECT_TRUE(errorbox::applicationErrorText(error).contains(hex.toUpper()));

    // An address in no module (the heap) is not found and keeps its own value as the offset.
    const auto heap = std::make_unique<int>();
    const platform::ModulePosition nowhere = platform::modulePositionOf(heap.get());
    EXPECT_FALSE(nowhere.found);
    EXPECT_EQ(nowhere.offset, reinterpret_cast<std::uintptr_t>(heap.get()));
}

TEST(DisplayCheck, NeedsADisplayOnlyForDisplayPlatforms) {
    const struct {
        const char* name;
        const char* platformEnv; // nullptr: unset
        const char* display;
        const char* wayland;
        std::vector<const char*> args;
        bool available;
    } cases[] = {
        {"nothing set", nullptr, nullptr, nullptr, {}, false},
        {"X display", nullptr, ":0", nullptr, {}, true},
        {"Wayland", nullptr, nullptr, "wayland-0", {}, true},
        {"offscreen", "offscreen", nullptr, nullptr, {}, true},
        {"xcb without display", "xcb", nullptr, nullptr, {}, false},
        {"empty display", nullptr, "", nullptr, {}, false},
        {"-platform offscreen", nullptr, nullptr, nullptr, {"-platform", "offscreen"}, true},
        {"-platform xcb", "offscreen", nullptr, nullptr, {"-platform", "xcb"}, false},
    };
    const QByteArray saved[] = {qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"),
                                qgetenv("WAYLAND_DISPLAY")};
    const bool had[] = {qEnvironmentVariableIsSet("QT_QPA_PLATFORM"),
                        qEnvironmentVariableIsSet("DISPLAY"),
                        qEnvironmentVariableIsSet("WAYLAND_DISPLAY")};
    const char* names[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const char* values[] = {c.platformEnv, c.display, c.wayland};
        for (int i = 0; i < 3; ++i) {
            if (values[i])
                qputenv(names[i], values[i]);
            else
                qunsetenv(names[i]);
        }
        std::vector<char*> argv{const_cast<char*>("docindex")};
        for (const char* a : c.args)
            argv.push_back(const_cast<char*>(a));
        argv.push_back(nullptr);
        EXPECT_EQ(displayAvailable(int(argv.size()) - 1, argv.data()), c.available);
    }
    for (int i = 0; i < 3; ++i) {
        if (had[i])
            qputenv(names[i], saved[i]);
        else
            qunsetenv(names[i]);
    }
}
