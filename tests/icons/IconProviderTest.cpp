// Icon providers: standard images, attribute indexes, the shell-backed look-ups with their
// caches, program files and the shared provider's life.
#include "filectrls/FileIconProvider.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>

namespace {

TFileInfo entry(const char* name, quint32 attr) {
    TSearchRec rec;
    rec.Name = name;
    rec.Attr = attr;
    return TFileInfo(rec);
}

TFileInfo drive(const char* name, const char* root) {
    TSearchRec rec;
    rec.Name = name;
    rec.FileName = root;
    rec.Attr = faVolumeID;
    return TFileInfo(rec);
}

QColor centre(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

int opaquePixels(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0;
    return count;
}

// A theme that nobody has: the provider must fall back to its own bitmaps.
class NoTheme {
public:
    NoTheme() : name_(QIcon::themeName()) { QIcon::setThemeName(QStringLiteral("docindex-none")); }
    ~NoTheme() { QIcon::setThemeName(name_); }

private:
    QString name_;
};

// A tiny icon theme in a temporary folder, each icon one solid colour.
class TestTheme {
public:
    explicit TestTheme(const std::map<QString, QColor>& icons)
        : paths_(QIcon::themeSearchPaths()), name_(QIcon::themeName()) {
        const QString base = dir_.path() + QStringLiteral("/docindextest");
        QDir().mkpath(base + QStringLiteral("/16x16/all"));
        QFile index(base + QStringLiteral("/index.theme"));
        EXPECT_TRUE(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=docindextest\nDirectories=16x16/all\n\n"
                    "[16x16/all]\nSize=16\nType=Fixed\n");
        index.close();
        for (const auto& [name, colour] : icons) {
            QImage image(16, 16, QImage::Format_ARGB32);
            image.fill(colour);
            EXPECT_TRUE(
                image.save(base + QStringLiteral("/16x16/all/") + name + QStringLiteral(".png")));
        }
        QIcon::setThemeSearchPaths({dir_.path()});
        QIcon::setThemeName(QStringLiteral("docindextest"));
    }
    ~TestTheme() {
        QIcon::setThemeName(name_);
        QIcon::setThemeSearchPaths(paths_);
    }

private:
    QTemporaryDir dir_;
    QStringList paths_;
    QString name_;
};

// Counts the look-ups that reach the type database and the theme.
class CountingProvider : public TWindowsFileIconProvider {
public:
    CountingProvider() : TWindowsFileIconProvider(iscSmall) {}
    int lookups = 0;
    int driveLookups = 0;
    bool failExtraction = false;

protected:
    bool FindDefaultIcon(const QString& key, QIcon& icon) override {
        ++lookups;
        return TWindowsFileIconProvider::FindDefaultIcon(key, icon);
    }
    bool DriveIcon(const QString& root, QIcon& icon) override {
        ++driveLookups;
        return TWindowsFileIconProvider::DriveIcon(root, icon);
    }
    int AddIconFromFile(const QIcon& icon) override {
        return failExtraction ? -1 : TWindowsFileIconProvider::AddIconFromFile(icon);
    }
};

const QColor kTextColour(200, 0, 0);
const QColor kDriveColour(0, 0, 200);
const QColor kScriptColour(0, 150, 0);

TestTheme* makeTheme() {
    return new TestTheme({{QStringLiteral("text-plain"), kTextColour},
                          {QStringLiteral("drive-harddisk"), kDriveColour},
                          {QStringLiteral("application-x-shellscript"), kScriptColour}});
}

// Writes a file into `dir` with the given content and extra permission bits; answers its path.
QString writeFile(const QTemporaryDir& dir, const char* name, const QByteArray& data,
                  QFileDevice::Permissions extra = {}) {
    QFile file(dir.filePath(QString::fromLatin1(name)));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << name;
    file.write(data);
    file.close();
    file.setPermissions(file.permissions() | extra);
    return file.fileName();
}

} // namespace

TEST(SystemIconWidth, FollowsTheStyle) {
    QStyle* style = QApplication::style();
    EXPECT_EQ(SystemIconWidth(iscSmall), style->pixelMetric(QStyle::PM_SmallIconSize));
    EXPECT_EQ(SystemIconWidth(iscLarge), style->pixelMetric(QStyle::PM_LargeIconSize));
    EXPECT_EQ(SystemIconWidth(iscExtraLarge), SystemIconWidth(iscLarge));
    EXPECT_EQ(SystemIconWidth(TIconScale(7)), 0);
}

TEST(StandardBitmaps, ExistInEverySizeAndShowSomething) {
    const char* names[] = {"QFC_FLDCLOSED",     "QFC_FLDOPEN", "QFC_HIDDENFLDCLOSED",
                           "QFC_HIDDENFLDOPEN", "QFC_DEFFILE", "QFC_HIDDENDEFFILE",
                           "QFC_LINK",          "QFC_DRIVE"};
    for (const char* name : names) {
        for (int size : {16, 32, 48, 24}) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(size));
            const QPixmap pixmap =
                TFileIconProvider::StandardBitmap(QString::fromLatin1(name), size);
            ASSERT_FALSE(pixmap.isNull());
            EXPECT_EQ(pixmap.size(), QSize(size, size));
            // Drawn, and not a filled square: part of it is transparent.
            const int opaque = opaquePixels(pixmap);
            EXPECT_GT(opaque, size * size / 10);
            EXPECT_LT(opaque, size * size);
        }
    }
    // Hidden variants are fainter than their visible images.
    const QImage shown = TFileIconProvider::StandardBitmap("QFC_DEFFILE", 16).toImage();
    const QImage hidden = TFileIconProvider::StandardBitmap("QFC_HIDDENDEFFILE", 16).toImage();
    EXPECT_LT(qAlpha(hidden.pixel(8, 8)), qAlpha(shown.pixel(8, 8)));
}

TEST(BaseProvider, SevenImagesAndAttributeIndexes) {
    TFileIconProvider provider(iscSmall);
    EXPECT_EQ(provider.Count(), 7);
    EXPECT_EQ(provider.Width(), SystemIconWidth(iscSmall));
    EXPECT_EQ(provider.Height(), SystemIconWidth(iscSmall));
    for (int i = 0; i < provider.Count(); ++i)
        EXPECT_EQ(provider.Image(i).size(), QSize(provider.Width(), provider.Height()));

    struct Case {
        const char* name;
        quint32 attr;
        int expected;
    } cases[] = {{"dir", faDirectory, 0}, {".dir", faDirectory | faHidden, 2},
                 {"a.txt", faArchive, 4}, {".a.txt", faArchive | faHidden, 5},
                 {"ro", faReadOnly, 4},   {"fifo", faSysFile | faHidden, 5}};
    for (const Case& c : cases) {
        TFileInfo info = entry(c.name, c.attr);
        EXPECT_EQ(provider.IconIndexOf(&info, QStringLiteral("/x/")), c.expected) << c.name;
        EXPECT_EQ(info.ImageIndex, -2) << "the base provider keeps no entry cache";
    }
    EXPECT_EQ(provider.IconIndexOf(nullptr, QString()), 0);
}

TEST(BaseProvider, DrawsByIndexAndNothingOutside) {
    TFileIconProvider provider(iscSmall);
    QImage canvas(40, 20, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        provider.Draw(painter, 0, 0, -1);
        provider.Draw(painter, 0, 0, provider.Count());
    }
    EXPECT_EQ(opaquePixels(QPixmap::fromImage(canvas)), 0);
    {
        QPainter painter(&canvas);
        provider.DrawLinkOverlay(painter, 20, 0);
    }
    EXPECT_EQ(opaquePixels(QPixmap::fromImage(canvas)),
              opaquePixels(provider.Image(TFileIconProvider::LinkOverlay)));
}

TEST(ShellProvider, WithoutThemeFallsBackToOwnBitmaps) {
    NoTheme noTheme;
    CountingProvider provider;
    EXPECT_EQ(provider.Count(), 6) << "no link overlay";
    EXPECT_EQ(provider.Image(4).toImage(),
              TFileIconProvider::StandardBitmap("QFC_DEFFILE", provider.Width()).toImage());

    TFileInfo folder = entry("dir", faDirectory);
    TFileInfo hiddenFolder = entry(".dir", faDirectory | faHidden);
    TFileInfo a = entry("a.txt", faArchive);
    TFileInfo b = entry("b.txt", faArchive);
    TFileInfo hidden = entry(".c.txt", faArchive | faHidden);
    EXPECT_EQ(provider.IconIndexOf(&folder, "/x/"), 0);
    EXPECT_EQ(provider.IconIndexOf(&hiddenFolder, "/x/"), 0) << "every folder answers 0";
    EXPECT_EQ(provider.IconIndexOf(&a, "/x/"), 4);
    EXPECT_EQ(provider.IconIndexOf(&hidden, "/x/"), 5);
    EXPECT_EQ(provider.IconIndexOf(nullptr, "/x/"), -1);
    EXPECT_EQ(a.ImageIndex, 4);
    EXPECT_EQ(folder.ImageIndex, 0);

    // One look-up per key: b.txt shares a.txt's key; a repeated request uses the entry cache.
    const int before = provider.lookups;
    EXPECT_EQ(provider.IconIndexOf(&b, "/x/"), 4);
    EXPECT_EQ(provider.IconIndexOf(&a, "/x/"), 4);
    EXPECT_EQ(provider.lookups, before);
    EXPECT_EQ(provider.Count(), 6) << "nothing extracted, nothing added";
}

TEST(ShellProvider, ExtensionKeysShareOneImage) {
    std::unique_ptr<TestTheme> theme(makeTheme());
    CountingProvider provider;
    ASSERT_EQ(provider.Count(), 6);

    TFileInfo a = entry("a.txt", faArchive);
    TFileInfo b = entry("b.txt", faArchive);
    TFileInfo upper = entry("c.TXT", faArchive);
    const int ia = provider.IconIndexOf(&a, "/x/");
    EXPECT_EQ(ia, 6) << "the first added image follows the six standard ones";
    EXPECT_EQ(centre(provider.Image(ia)), kTextColour);
    EXPECT_EQ(provider.CachedIndex(".txt"), ia);
    EXPECT_EQ(provider.IconIndexOf(&b, "/x/"), ia);
    EXPECT_EQ(provider.lookups, 1);

    // Keys compare exactly: .TXT is another key with an image of its own (the same icon).
    const int iu = provider.IconIndexOf(&upper, "/x/");
    EXPECT_EQ(iu, 7);
    EXPECT_EQ(centre(provider.Image(iu)), kTextColour);
    EXPECT_EQ(provider.lookups, 2);
    EXPECT_EQ(provider.Count(), 8);

    // A fresh entry (a re-read) hits the key cache without a look-up.
    TFileInfo again = entry("a.txt", faArchive);
    EXPECT_EQ(provider.IconIndexOf(&again, "/x/"), ia);
    EXPECT_EQ(provider.lookups, 2);
}

TEST(ShellProvider, NoIconStoredAsMinusOneIsLookedUpAgain) {
    std::unique_ptr<TestTheme> theme(makeTheme());
    CountingProvider provider;
    provider.failExtraction = true;
    TFileInfo a = entry("a.txt", faArchive);
    TFileInfo b = entry("b.txt", faArchive);
    EXPECT_EQ(provider.IconIndexOf(&a, "/x/"), -1) << "the type names an icon that yields none";
    EXPECT_EQ(a.ImageIndex, -1);
    EXPECT_EQ(provider.IconIndexOf(&a, "/x/"), -1);
    EXPECT_EQ(provider.lookups, 1) << "the entry answers its stored -1";
    EXPECT_EQ(provider.IconIndexOf(&b, "/x/"), -1);
    EXPECT_EQ(provider.lookups, 2) << "-1 in the key cache counts as absent";
}

TEST(ShellProvider, DrivesAreKeyedByRootPath) {
    std::unique_ptr<TestTheme> theme(makeTheme());
    CountingProvider provider;
    TFileInfo root = drive("/", "/");
    TFileInfo data = drive("DATA", "/mnt/data/");
    TFileInfo rootAgain = drive("/", "/");
    const int ir = provider.IconIndexOf(&root, "");
    EXPECT_GE(ir, 6);
    EXPECT_EQ(centre(provider.Image(ir)), kDriveColour);
    EXPECT_EQ(provider.IconIndexOf(&root, ""), ir);
    EXPECT_EQ(provider.driveLookups, 1);
    EXPECT_EQ(provider.IconIndexOf(&rootAgain, ""), ir);
    EXPECT_EQ(provider.driveLookups, 1) << "the root path is cached";
    EXPECT_EQ(provider.IconIndexOf(&data, ""), ir + 1);
    EXPECT_EQ(provider.CachedIndex("/mnt/data/"), ir + 1);
}

TEST(ShellProvider, DriveWithoutThemeIconTakesOurDriveBitmap) {
    NoTheme noTheme;
    CountingProvider provider;
    TFileInfo usb = drive("USB", "/media/usb/");
    TFileInfo root = drive("/", "/");
    const int index = provider.IconIndexOf(&usb, "");
    EXPECT_GE(index, 6); // past the six standard images
    EXPECT_EQ(
        provider.Image(index).toImage(),
        TFileIconProvider::StandardBitmap(QStringLiteral("QFC_DRIVE"), provider.Width()).toImage());
    EXPECT_EQ(provider.IconIndexOf(&root, ""), index) << "one image for every such drive";
}

TEST(ShellProvider, FilesWithoutExtensionAndProgramsAreKeyedByPath) {
    std::unique_ptr<TestTheme> theme(makeTheme());
    QTemporaryDir dir;
    writeFile(dir, "letter", "plain words\n");
    writeFile(dir, "NOTES", "more plain words\n");
    writeFile(dir, "run.sh", "#!/bin/sh\necho hi\n", QFileDevice::ExeOwner);
    writeFile(dir, "data.txt", "text, marked executable as FAT mounts do\n", QFileDevice::ExeOwner);

    CountingProvider provider;
    const QString folder = dir.path() + QStringLiteral("/");
    TFileInfo letter = entry("letter", faArchive);
    TFileInfo notes = entry("NOTES", faArchive);
    TFileInfo script = entry("run.sh", faArchive);
    TFileInfo data = entry("data.txt", faArchive);

    const int ir = provider.IconIndexOf(&letter, folder);
    const int in = provider.IconIndexOf(&notes, folder);
    EXPECT_EQ(centre(provider.Image(ir)), kTextColour) << "typed by content";
    EXPECT_NE(ir, in) << "each file without extension has an image of its own";
    EXPECT_EQ(provider.CachedIndex(folder + "letter"), ir);

    const int is = provider.IconIndexOf(&script, folder);
    EXPECT_EQ(provider.CachedIndex(folder + "run.sh"), is);
    EXPECT_EQ(provider.CachedIndex(".sh"), -1);
    EXPECT_EQ(centre(provider.Image(is)), kScriptColour);

    provider.IconIndexOf(&data, folder);
    EXPECT_NE(provider.CachedIndex(".txt"), -1) << "an executable bit alone makes no program";
}

TEST(ProgramFiles, ExecuteBitAndProgramContent) {
    QTemporaryDir dir;
    const auto exec = QFileDevice::ExeOther;
    EXPECT_TRUE(IsProgramFile(writeFile(dir, "tool", "#!/bin/sh\nexit 0\n", exec)));
    EXPECT_FALSE(IsProgramFile(writeFile(dir, "tool2", "#!/bin/sh\nexit 0\n")));
    EXPECT_FALSE(IsProgramFile(writeFile(dir, "notes.txt", "just text\n", exec)));
    EXPECT_FALSE(IsProgramFile(dir.path()));
    EXPECT_FALSE(IsProgramFile(dir.filePath("missing")));
}

TEST(SharedProvider, CreatedOnceOfTheChosenClassAndFreed) {
    FreeSharedIconProvider();
    const TFileIconProviderClass saved = FileIconProviderClass;
    FileIconProviderClass = nullptr;

    TFileIconProvider* first = WindowsIconProvider();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(dynamic_cast<TWindowsFileIconProvider*>(first), nullptr);
    EXPECT_EQ(FileIconProviderClass, &CreateWindowsFileIconProvider);
    EXPECT_EQ(first->IconScale(), iscSmall);
    EXPECT_EQ(WindowsIconProvider(), first);

    FreeSharedIconProvider();
    FreeSharedIconProvider(); // twice is harmless
    FileIconProviderClass = CreateFileIconProvider;
    TFileIconProvider* base = WindowsIconProvider();
    EXPECT_EQ(dynamic_cast<TWindowsFileIconProvider*>(base), nullptr);
    EXPECT_EQ(base->Count(), 7);

    FreeSharedIconProvider();
    FileIconProviderClass = saved;
}
