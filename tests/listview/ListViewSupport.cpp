#include "ListViewSupport.h"

#include "filectrls/FileIconProvider.h"

#include <QLocale>

namespace lvtest {

std::vector<QString> BoxCapture::texts;
std::function<void()> BoxCapture::whileOpen;

namespace {

void captureBox(const QString& text) {
    BoxCapture::texts.push_back(text);
    if (BoxCapture::whileOpen)
        BoxCapture::whileOpen();
}

QTemporaryDir* usbDir = nullptr;

// Every view of this program lists our fake drives, never this machine's; the shared icon
// provider goes before the application object.
class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        usbDir = new QTemporaryDir;
        platform::setMountSource(std::make_shared<FakeMounts>(usbDir->path().toUtf8()));
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void TearDown() override {
        FreeSharedIconProvider();
        platform::setMountSource(nullptr);
        delete usbDir;
        usbDir = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new Environment);

} // namespace

QString usbPath() {
    return usbDir->path();
}

BoxCapture::BoxCapture() : previous_(setShowErrorMessageFunction(captureBox)) {
    texts.clear();
}

BoxCapture::~BoxCapture() {
    setShowErrorMessageFunction(previous_);
    whileOpen = nullptr;
    texts.clear();
}

int rowOf(const TFileListView& view, const QString& caption) {
    for (int i = 0; i < view.ItemCount(); ++i)
        if (view.ItemCaption(i) == caption)
            return i;
    return -1;
}

void expectRowsFollowModel(const TFileListView& view) {
    auto& dir = const_cast<TFileListView&>(view).Directory();
    ASSERT_EQ(view.ItemCount(), dir.Count());
    ASSERT_EQ(view.model()->rowCount(), dir.Count());
    for (int i = 0; i < dir.Count(); ++i) {
        EXPECT_EQ(view.ItemCaption(i), dir.EntryName(i)) << i;
        EXPECT_EQ(view.ItemData(i), dir.Entry(i)) << i;
    }
}

} // namespace lvtest
