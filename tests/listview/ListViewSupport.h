#pragma once
// Shared helpers of the file list tests: a folder of our own, a fake drive list, a captured
// error box, and the check that the rows follow the model.
#include "filectrls/DrawItemText.h"
#include "filectrls/FileListView.h"
#include "platform/Mounts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <QStringList>

#include <functional>
#include <ostream>
#include <vector>

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '{' << list.join(QStringLiteral(", ")).toStdString() << '}';
}

namespace lvtest {

// Two drives: "/" (never opened by a test) and a temporary folder labelled "USB".
class FakeMounts : public platform::MountSource {
public:
    explicit FakeMounts(QByteArray usbPath) : usb_(std::move(usbPath)) {}
    std::vector<platform::Volume> volumes() override {
        return {{QByteArrayLiteral("/"), {}}, {usb_, QByteArrayLiteral("USB")}};
    }
    bool space(const QByteArray&, quint64& total, quint64& available) override {
        total = 9'540'000'000ULL;
        available = 1'234'000'000ULL;
        return true;
    }

private:
    QByteArray usb_;
};

// The folder that stands for the second drive; set up once for the whole program.
QString usbPath();

// A folder of files and subfolders in a temporary place.
class Folder {
public:
    Folder() { EXPECT_TRUE(dir_.isValid()); }
    // In a given place (e.g. /dev/shm for many files: no disk work).
    explicit Folder(const QString& base) : dir_(base + QStringLiteral("/docindex-XXXXXX")) {
        EXPECT_TRUE(dir_.isValid());
    }
    QString path() const { return dir_.path(); }
    QString operator/(const QString& name) const { return dir_.path() + u'/' + name; }
    void file(const QString& name, qint64 size = 0) const {
        QFile f(*this / name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << qPrintable(name);
        if (size > 0) {
            ASSERT_TRUE(f.resize(size));
        }
    }
    void folder(const QString& name) const { ASSERT_TRUE(QDir().mkpath(*this / name)); }
    bool exists(const QString& name) const {
        // Exact name, case included: list the folder rather than ask a case-folding check.
        return QDir(path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System)
            .contains(name);
    }

private:
    QTemporaryDir dir_;
};

// Replaces the error box for the lifetime of the object and records its texts.
class BoxCapture {
public:
    BoxCapture();
    ~BoxCapture();
    static std::vector<QString> texts;
    static std::function<void()> whileOpen; // runs "inside" the box, as its event loop would

private:
    ShowErrorMessageFunction previous_;
};

// A file list beside a folder of our own: the set-up most view tests share. The view is
// made first and lists the drives until a test sets its location.
class ViewTest : public ::testing::Test {
protected:
    // Shows the view in a style at a size, and waits until it is on screen.
    void show(QSize size, TViewStyle style = vsList) {
        view.SetViewStyle(style);
        view.resize(size);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }

    Folder f;
    TFileListView view;
};

int rowOf(const TFileListView& view, const QString& caption);
void expectRowsFollowModel(const TFileListView& view);

} // namespace lvtest
