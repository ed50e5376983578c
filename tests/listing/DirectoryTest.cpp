// The listing model: what it lists, in which order, what its client hears, renames, assigning.
#include "filectrls/Directory.h"
#include "base/Exception.h"
#include "listing/ListingTestSupport.h"
#include "platform/Fault.h"
#include "platform/FsString.h"
#include "platform/Mounts.h"
#include "support/DocFiles.h"

#include <QDir>
#include <QLocale>
#include <QStringList>
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

using listingtest::Folder;

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

// Records every call in order; answers as told.
class RecordingClient : public IDirectoryClient {
public:
    bool EntryFound(const TSearchRec& file) override {
        calls << QStringLiteral("Found:") + platform::fromFsBytes(file.Name);
        return acceptEntry ? acceptEntry(file) : true;
    }
    void ListingEnded() override { calls << QStringLiteral("Ended"); }
    bool ListingStarting() override {
        calls << QStringLiteral("Starting");
        return startAnswer;
    }
    void LocationChanged(const QString& newLocation) override {
        calls << QStringLiteral("Location:") + newLocation;
        if (onLocationChanged)
            onLocationChanged(newLocation);
    }
    void MaskChanged(const QString& newMask) override {
        calls << QStringLiteral("Mask:") + newMask;
    }
    bool WantsEntryDetails() const override { return details; }

    // The calls other than Found.
    QStringList brackets() const {
        QStringList result;
        for (const QString& c : calls)
            if (!c.startsWith(QLatin1String("Found:")))
                result << c;
        return result;
    }

    QStringList calls;
    bool startAnswer = true;
    bool details = true;
    std::function<bool(const TSearchRec&)> acceptEntry;
    std::function<void(const QString&)> onLocationChanged;
};

QStringList names(const TDirectory& d) {
    QStringList result;
    for (int i = 0; i < d.Count(); ++i)
        result << d.EntryName(i);
    return result;
}

// The C locale unless a test says otherwise, restored afterwards.
class LocaleScope {
public:
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(saved_); }

private:
    QLocale saved_;
};

// A folder like the one the window shows: documents, other files, folders, hidden and
// system entries.
class ListingFolder : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(dir_.folder("sub"));
        ASSERT_TRUE(dir_.folder("Beta"));
        ASSERT_TRUE(dir_.folder(".git"));
        ASSERT_TRUE(dir_.file("a_.txt", 10));
        ASSERT_TRUE(dir_.file("C_.TXT", 20));
        ASSERT_TRUE(dir_.file("b_.txt", 30));
        ASSERT_TRUE(dir_.file("note.txt", 5));
        ASSERT_TRUE(dir_.file(".hidden_.txt", 1));
        ASSERT_TRUE(dir_.file("ro_.txt", 1, 0444));
        ASSERT_TRUE(dir_.fifo("pipe_.txt")); // system entry: listed by default
        ASSERT_TRUE(dir_.file("x.tx", 1));
        ASSERT_TRUE(dir_.file("x.txtx", 1));
    }

    Folder dir_;
    LocaleScope locale_{QLocale::c()};
};

TEST_F(ListingFolder, MaskAndFileTypeDecideWhatIsListed) {
    const TFileType normal{ftSystem, ftDirectory, ftNormal};
    struct Case {
        const char* what;
        QString mask;
        TFileType type;
        bool parent;
        QStringList expected; // sorted by name
    } const cases[] = {
        {"window's mask",
         "*_.txt",
         normal,
         true,
         {"..", "Beta", "sub", "a_.txt", "b_.txt", "C_.TXT", "pipe_.txt", "ro_.txt"}},
        {"everything",
         "*.*",
         normal,
         true,
         {"..", "Beta", "sub", "a_.txt", "b_.txt", "C_.TXT", "note.txt", "pipe_.txt", "ro_.txt",
          "x.tx", "x.txtx"}},
        {"extension length 4 keeps out longer ones",
         "*.tx*",
         normal,
         true,
         {"..", "Beta", "sub", "a_.txt", "b_.txt", "C_.TXT", "note.txt", "pipe_.txt", "ro_.txt"}},
        {"extension length 3 does not",
         "*.t*",
         normal,
         true,
         {"..", "Beta", "sub", "a_.txt", "b_.txt", "C_.TXT", "note.txt", "pipe_.txt", "ro_.txt",
          "x.tx", "x.txtx"}},
        {"two segments, a duplicate",
         "a*;*_.txt",
         normal,
         true,
         {"..", "Beta", "sub", "a_.txt", "a_.txt", "b_.txt", "C_.TXT", "pipe_.txt", "ro_.txt"}},
        {"empty mask: folders only", "", normal, true, {"..", "Beta", "sub"}},
        {"empty segments find nothing", ";", normal, true, {"..", "Beta", "sub"}},
        {"no parent entry",
         "*_.txt",
         normal,
         false,
         {"Beta", "sub", "a_.txt", "b_.txt", "C_.TXT", "pipe_.txt", "ro_.txt"}},
        {"no folders",
         "*_.txt",
         TFileType{ftSystem, ftNormal},
         true,
         {"a_.txt", "b_.txt", "C_.TXT", "pipe_.txt", "ro_.txt"}},
        {"no files", "*_.txt", TFileType{ftSystem, ftDirectory}, true, {"..", "Beta", "sub"}},
        {"hidden too",
         "*_.txt",
         TFileType{ftSystem, ftHidden, ftDirectory, ftNormal},
         true,
         {"..", ".git", "Beta", "sub", ".hidden_.txt", "a_.txt", "b_.txt", "C_.TXT", "pipe_.txt",
          "ro_.txt"}},
        {"no system entries",
         "*_.txt",
         TFileType{ftDirectory, ftNormal},
         true,
         {"..", "Beta", "sub", "a_.txt", "b_.txt", "C_.TXT", "ro_.txt"}},
        {"archive without normal: files with the bit",
         "*_.txt",
         TFileType{ftDirectory, ftArchive},
         true,
         {"..", "Beta", "sub", "a_.txt", "b_.txt", "C_.TXT", "ro_.txt"}},
        {"read-only without normal",
         "*_.txt",
         TFileType{ftDirectory, ftReadOnly, ftArchive},
         true,
         {"..", "Beta", "sub", "a_.txt", "b_.txt", "C_.TXT", "ro_.txt"}},
    };
    for (const Case& c : cases) {
        TDirectory d;
        d.SetFileMask(c.mask);
        d.SetFileType(c.type);
        d.SetIncludeParentDir(c.parent);
        d.SetLocation(dir_.location());
        EXPECT_EQ(names(d), c.expected) << c.what;
    }
}

TEST_F(ListingFolder, UnsortedKeepsTheOrderOfOffering) {
    RecordingClient client;
    TDirectory d(&client);
    d.SetSortMode(smNone);
    d.SetFileMask(QStringLiteral("b*;a*;*_.txt"));
    client.calls.clear();
    d.SetLocation(dir_.location());
    // Folders first (in the order found), then segment by segment.
    QStringList got = names(d);
    ASSERT_EQ(got.size(), 3 + 1 + 1 + 5);
    QStringList folders = got.mid(0, 3);
    folders.sort();
    EXPECT_EQ(folders, (QStringList{"..", "Beta", "sub"}));
    EXPECT_EQ(got.mid(3, 2), (QStringList{"b_.txt", "a_.txt"}));
    QStringList last = got.mid(5);
    last.sort();
    EXPECT_EQ(last, (QStringList{"C_.TXT", "a_.txt", "b_.txt", "pipe_.txt", "ro_.txt"}));
    // The client was offered them in just that order.
    QStringList offered;
    for (const QString& c : client.calls)
        if (c.startsWith(QLatin1String("Found:")))
            offered << c.mid(6);
    EXPECT_EQ(offered, got);
}

TEST_F(ListingFolder, ClientVetoesEntries) {
    RecordingClient client;
    client.acceptEntry = [](const TSearchRec& r) { return !(r.Attr & faDirectory); };
    TDirectory d(&client);
    d.SetFileMask(QStringLiteral("*_.txt"));
    d.SetLocation(dir_.location());
    EXPECT_EQ(names(d), (QStringList{"a_.txt", "b_.txt", "C_.TXT", "pipe_.txt", "ro_.txt"}));
}

TEST_F(ListingFolder, EntryFields) {
    TDirectory d;
    d.SetFileMask(QStringLiteral("*_.txt"));
    d.SetLocation(dir_.location());
    for (int i = 0; i < d.Count(); ++i) {
        const TFileInfo* e = d.Entry(i);
        EXPECT_EQ(e->ImageIndex, -2);
        EXPECT_TRUE(e->TypeName.isEmpty());
        EXPECT_TRUE(e->FileName.isEmpty()); // only drives keep a find name
        if (d.EntryName(i) == QLatin1String("ro_.txt")) {
            EXPECT_EQ(e->Attr, faArchive | faReadOnly);
        }
        if (d.EntryName(i) == QLatin1String("pipe_.txt")) {
            EXPECT_EQ(e->Attr, faSysFile);
        }
        if (d.EntryName(i) == QLatin1String("b_.txt")) {
            EXPECT_EQ(e->Size, 30);
        }
    }
    try {
        d.Entry(d.Count());
        FAIL() << "no error for a bad index";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("List index out of bounds (%1)").arg(d.Count()));
    }
    EXPECT_THROW(d.Entry(-1), EListError);

    // Names are views of the listing's blocks, each ending in '\0'; a copied record and an
    // owned name outlive the listing, and a write to one changes no other.
    QList<QByteArray> kept;
    std::vector<TFileInfo> records;
    const QStringList listed = names(d);
    for (int i = 0; i < d.Count(); ++i) {
        EXPECT_EQ(d.Entry(i)->Name.constData()[d.Entry(i)->Name.size()], '\0');
        kept.append(OwnedName(d.Entry(i)->Name));
        records.push_back(*d.Entry(i));
    }
    d.SetFileMask(QStringLiteral("none")); // the re-read frees the old entries and names
    kept.first().append("tail");
    kept.first().chop(4);
    for (qsizetype i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(platform::fromFsBytes(kept[i]), listed[i]);
        EXPECT_EQ(platform::fromFsBytes(records[size_t(i)].Name), listed[i]);
    }
}

// A listing that stats only what it must (entry types from the folder, details filled on
// first need) gives what one that stats every entry gives, for every sort and file type.
TEST_F(ListingFolder, StatOnlyWhatIsNeededChangesNoResult) {
    ASSERT_TRUE(dir_.file("big", 5000));
    ASSERT_TRUE(dir_.setTime("big", 946684800));
    ASSERT_TRUE(dir_.symlink("big", "to_file_.txt"));
    ASSERT_TRUE(dir_.symlink("sub", "to_folder"));
    ASSERT_TRUE(dir_.symlink("missing", "dangling_.txt"));
    ASSERT_TRUE(dir_.symlink("loop_.txt", "loop_.txt"));
    ASSERT_TRUE(dir_.folder("ro_dir", 0555));
    const TFileType hiddenToo{ftHidden, ftSystem, ftDirectory, ftNormal};
    const TFileType byAttribute{ftReadOnly, ftHidden, ftArchive, ftDirectory};
    const TFileType foldersOnly{ftDirectory, ftHidden};
    for (const TSortMode mode : {smNone, smName, smSize, smDate, smAttributes, smType}) {
        for (const TFileType type :
             {TFileType{ftSystem, ftDirectory, ftNormal}, hiddenToo, byAttribute, foldersOnly}) {
            for (const char* mask : {"*", "*_.txt;*.*"}) {
                SCOPED_TRACE(testing::Message() << mode << " " << int(type.bits()) << " " << mask);
                RecordingClient full, lazy;
                lazy.details = false;
                TDirectory a(&full), b(&lazy);
                for (TDirectory* d : {&a, &b}) {
                    d->SetIncludeParentDir(false); // "..", the shared /tmp, changes any time
                    d->SetSortMode(mode);
                    d->SetFileType(type);
                    d->SetFileMask(QString::fromLatin1(mask));
                    d->SetLocation(dir_.location());
                }
                ASSERT_EQ(names(b), names(a));
                ASSERT_GT(a.Count(), 1);
                for (int i = 0; i < a.Count(); ++i) {
                    // Before any detail is filled the kind is already right.
                    const quint32 kind = faDirectory | faSysFile | faHidden | faVolumeID;
                    EXPECT_EQ(b.ListedEntry(i).Attr & kind, a.Entry(i)->Attr & kind);
                }
                for (int i = 0; i < a.Count(); ++i) {
                    SCOPED_TRACE(a.EntryName(i).toStdString());
                    EXPECT_EQ(b.Entry(i)->Attr, a.Entry(i)->Attr);
                    EXPECT_EQ(b.Entry(i)->Size, a.Entry(i)->Size);
                    EXPECT_EQ(b.Entry(i)->Time, a.Entry(i)->Time);
                }
            }
        }
    }
}

// Details filled after the folder changed never describe something else: an entry that is
// gone, is a link now, or whose folder was replaced keeps zeros beside its listed kind.
TEST_F(ListingFolder, LateDetailsOfAChangedFolderStayEmpty) {
    ASSERT_TRUE(dir_.file("big", 5000));
    const std::function<void()> changes[] = {
        [&] { ASSERT_EQ(::unlink((dir_ / "b_.txt").constData()), 0); },
        [&] {
            ASSERT_EQ(::unlink((dir_ / "b_.txt").constData()), 0);
            ASSERT_TRUE(dir_.symlink("big", "b_.txt"));
        },
        [&] {
            ASSERT_EQ(::rename(dir_.path().constData(), (dir_.path() + ".old").constData()), 0);
            ASSERT_EQ(::mkdir(dir_.path().constData(), 0755), 0);
            ASSERT_TRUE(dir_.file("b_.txt", 5000));
        },
    };
    for (const auto& change : changes) { // the last one replaces the folder
        ::unlink((dir_ / "b_.txt").constData());
        ASSERT_TRUE(dir_.file("b_.txt", 30));
        RecordingClient lazy;
        lazy.details = false;
        TDirectory d(&lazy);
        d.SetLocation(dir_.location());
        const int index = int(names(d).indexOf(QStringLiteral("b_.txt")));
        ASSERT_GE(index, 0);
        change();
        const TFileInfo* e = d.Entry(index);
        EXPECT_EQ(e->Attr, faArchive);
        EXPECT_EQ(e->Size, 0);
        EXPECT_EQ(e->Time, 0u);
    }
    QDir(QString::fromUtf8(dir_.path() + ".old")).removeRecursively();
}

// Sizes and dates; the name tie-break always ascending; folders first in both directions.
TEST(ListingSort, ModesAndDirections) {
    LocaleScope locale(QLocale::c());
    Folder dir;
    ASSERT_TRUE(dir.folder("zdir"));
    ASSERT_TRUE(dir.folder("adir"));
    ASSERT_TRUE(dir.file("b", 10));
    ASSERT_TRUE(dir.file("a", 10));
    ASSERT_TRUE(dir.file("huge", qint64(3) << 30)); // above 2 GiB: sorts as a 64-bit size
    ASSERT_TRUE(dir.file("c", 5));
    ASSERT_TRUE(dir.setTime("b", 946684800));  // 2000
    ASSERT_TRUE(dir.setTime("a", 2524608000)); // 2050: bit 31 of the DOS time set
    ASSERT_TRUE(dir.setTime("huge", 946684800));
    ASSERT_TRUE(dir.setTime("c", 1893456000)); // 2030

    struct Case {
        TSortMode mode;
        TSortDirection direction;
        QStringList expected;
    } const cases[] = {
        {smName, sdAscending, {"adir", "zdir", "a", "b", "c", "huge"}},
        {smName, sdDescending, {"zdir", "adir", "huge", "c", "b", "a"}},
        {smSize, sdAscending, {"adir", "zdir", "huge", "a", "b", "c"}},
        {smSize, sdDescending, {"adir", "zdir", "c", "a", "b", "huge"}},
        {smDate, sdAscending, {"adir", "zdir", "b", "huge", "c", "a"}},
        {smDate, sdDescending, {"adir", "zdir", "a", "c", "b", "huge"}},
        {smType, sdAscending, {"adir", "zdir", "a", "b", "c", "huge"}},
        {smAttributes, sdDescending, {"adir", "zdir", "a", "b", "c", "huge"}},
        {smOwner, sdDescending, {"adir", "zdir", "a", "b", "c", "huge"}},
    };
    for (const Case& c : cases) {
        TDirectory d;
        d.SetLocation(dir.location());
        d.SetIncludeParentDir(false);
        d.SetSortMode(c.mode);
        d.SetSortDirection(c.direction);
        EXPECT_EQ(names(d), c.expected) << int(c.mode) << "/" << int(c.direction);
    }
}

TEST(ListingSort, SettingTheSameValueDoesNothing) {
    RecordingClient client;
    TDirectory d(&client);
    d.SetSortMode(smName);
    d.SetSortDirection(sdAscending);
    d.SetFileMask(QStringLiteral("*.*"));
    d.SetFileType(d.FileType());
    d.SetIncludeParentDir(true);
    d.SetAutoUpdate(false);
    EXPECT_TRUE(client.calls.isEmpty());
    d.SetSortMode(smSize);
    EXPECT_EQ(client.calls, (QStringList{"Starting", "Ended"}));
}

// The name order under the C locale (CI's) and under Russian: case-insensitive both times.
TEST(ListingSort, NameOrderFollowsTheLocale) {
    Folder dir;
    // The two "document"s share their first 8 bytes, and their bytes order them the other way;
    // so do "бочка" and the capitals after it.
    const char* files[] = {"a",     "B",  "c",   "Zed", "_x",         "!x",         "яблоко",
                           "Арбуз", "ёж", "Жук", "Ель", "Document_b", "document_a", "бочка"};
    for (const char* f : files)
        ASSERT_TRUE(dir.file(f));
    struct Case {
        QLocale locale;
        QStringList expected;
    } const cases[] = {
        // Case-folded code points.
        {QLocale::c(),
         {"!x", "_x", "a", "B", "c", "document_a", "Document_b", "Zed", "Арбуз", "бочка", "Ель",
          "Жук", "яблоко", "ёж"}},
        // Russian collation: punctuation first, Cyrillic before Latin, "ё" a variant of "е".
        {QLocale(QLocale::Russian, QLocale::Russia),
         {"_x", "!x", "Арбуз", "бочка", "ёж", "Ель", "Жук", "яблоко", "a", "B", "c", "document_a",
          "Document_b", "Zed"}},
    };
    for (const Case& c : cases) {
        LocaleScope locale(c.locale);
        TDirectory d;
        d.SetIncludeParentDir(false);
        d.SetLocation(dir.location());
        EXPECT_EQ(names(d), c.expected) << c.locale.name().toStdString();
    }
}

TEST(ListingSort, ParentEntryIsSortedLikeAnyFolder) {
    LocaleScope locale(QLocale(QLocale::Russian, QLocale::Russia));
    Folder dir;
    ASSERT_TRUE(dir.folder("!first"));
    ASSERT_TRUE(dir.folder("plain"));
    TDirectory d;
    d.SetLocation(dir.location());
    EXPECT_EQ(names(d), (QStringList{"!first", "..", "plain"}));
}

TEST(ListingLocation, StoredReadAndReported) {
    LocaleScope locale(QLocale::c());
    Folder dir;
    ASSERT_TRUE(dir.folder("sub"));
    ASSERT_TRUE(dir.file("sub/f"));
    struct Case {
        QString value;
        QString stored;   // as LocationChanged hears it
        QString location; // as read
    } const cases[] = {
        {dir.location() + "/sub", dir.location() + "/sub", dir.location() + "/sub/"},
        {dir.location() + "/sub/", dir.location() + "/sub/", dir.location() + "/sub/"},
        {dir.location() + "/./sub//x/..", dir.location() + "/sub", dir.location() + "/sub/"},
        {"/", "/", "/"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        RecordingClient client;
        TDirectory d(&client);
        d.SetLocation(c.value);
        EXPECT_EQ(d.Location(), c.location) << c.value.toStdString();
        EXPECT_EQ(client.brackets(),
                  (QStringList{"Starting", "Ended", QStringLiteral("Location:") + c.stored}))
            << c.value.toStdString();
    }
}

TEST(ListingLocation, RelativeIsMadeAbsolute) {
    Folder dir;
    ASSERT_TRUE(dir.folder("sub"));
    ASSERT_TRUE(dir.file("sub/doc_.txt"));
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.location()));
    TDirectory d;
    d.SetLocation(QStringLiteral("sub"));
    QDir::setCurrent(saved);
    EXPECT_EQ(d.Location(), dir.location() + "/sub/");
    EXPECT_TRUE(names(d).contains(QStringLiteral("doc_.txt")));
}

TEST(ListingLocation, MissingFolderListsNothingQuietly) {
    Folder dir;
    const QString missing = dir.location() + "/no/such/folder";
    for (const QString& location : {missing, dir.location() + "/file-not-folder"}) {
        ASSERT_TRUE(dir.file("file-not-folder"));
        RecordingClient client;
        TDirectory d(&client);
        ASSERT_NO_THROW(d.SetLocation(location));
        EXPECT_EQ(d.Count(), 0);
        EXPECT_NE(d.ListingError(), 0) << "a missing folder is not an empty one";
        EXPECT_EQ(client.calls,
                  (QStringList{"Starting", "Ended", QStringLiteral("Location:") + location}));
    }
    // An unreadable folder (rights cannot be taken from root: the fault hook) is empty too.
    platform::fault::Scope faults;
    platform::fault::inject("opendir", EACCES);
    TDirectory d;
    ASSERT_NO_THROW(d.SetLocation(dir.location()));
    EXPECT_EQ(d.Count(), 0);
    EXPECT_EQ(d.ListingError(), EACCES);
    // A read that fails midway is a failure too; the next good read clears it.
    platform::fault::clear();
    ASSERT_TRUE(dir.file("a"));
    platform::fault::inject("readdir", EIO);
    d.Refresh();
    EXPECT_EQ(d.ListingError(), EIO);
    platform::fault::clear();
    d.Refresh();
    EXPECT_EQ(d.ListingError(), 0);
    EXPECT_GT(d.Count(), 0);
}

TEST(ListingLocation, SameValueRereads) {
    Folder dir;
    RecordingClient client;
    TDirectory d(&client);
    d.SetLocation(dir.location());
    ASSERT_TRUE(dir.file("new"));
    client.calls.clear();
    d.SetLocation(dir.location());
    EXPECT_TRUE(names(d).contains(QStringLiteral("new")));
    EXPECT_EQ(client.brackets(),
              (QStringList{"Starting", "Ended", QStringLiteral("Location:") + dir.location()}));
}

TEST(ListingLocation, WriteFromInsideTheChangeIsDropped) {
    Folder first, second;
    ASSERT_TRUE(first.file("one"));
    ASSERT_TRUE(second.file("two"));
    RecordingClient client;
    TDirectory d(&client);
    int nested = 0;
    client.onLocationChanged = [&](const QString&) {
        ++nested;
        d.SetLocation(second.location());
    };
    d.SetLocation(first.location());
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(d.Location(), first.location() + "/");
    EXPECT_TRUE(names(d).contains(QStringLiteral("one")));
    // Afterwards the guard is down again.
    client.onLocationChanged = nullptr;
    d.SetLocation(second.location());
    EXPECT_TRUE(names(d).contains(QStringLiteral("two")));
}

TEST(ListingUpdate, StartingFalseLeavesTheList) {
    Folder dir;
    ASSERT_TRUE(dir.file("a"));
    RecordingClient client;
    TDirectory d(&client);
    d.SetLocation(dir.location());
    const QStringList before = names(d);
    ASSERT_TRUE(dir.file("b"));
    client.startAnswer = false;
    client.calls.clear();
    d.Refresh();
    d.SetSortDirection(sdDescending);
    EXPECT_EQ(client.calls, (QStringList{"Starting", "Starting"}));
    EXPECT_EQ(names(d), before);
}

TEST(ListingUpdate, ExceptionFromClientStillEndsTheListing) {
    Folder dir;
    ASSERT_TRUE(dir.file("a"));
    ASSERT_TRUE(dir.file("b"));
    RecordingClient client;
    TDirectory d(&client);
    d.SetLocation(dir.location());
    client.calls.clear();
    int offered = 0;
    client.acceptEntry = [&](const TSearchRec& r) {
        if (r.Name == "b")
            throw EInOutError(5);
        ++offered;
        return true;
    };
    EXPECT_THROW(d.Refresh(), EInOutError);
    EXPECT_EQ(client.calls.last(), QStringLiteral("Ended"));
    EXPECT_EQ(d.Count(), offered); // what was added so far
}

TEST(ListingMask, ChangeNotifiesAfterTheListing) {
    Folder dir;
    RecordingClient client;
    TDirectory d(&client);
    d.SetLocation(dir.location());
    client.calls.clear();
    d.SetFileMask(QStringLiteral("*_.txt"));
    d.SetFileMask(QStringLiteral("*_.txt"));
    EXPECT_EQ(client.brackets(), (QStringList{"Starting", "Ended", "Mask:*_.txt"}));
}

// Rename: the result codes, the position kept, nothing ever replaced.
class ListingRenameModel : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.file("a_.txt", 1));
        ASSERT_TRUE(dir_.file("b_.txt", 2));
        ASSERT_TRUE(dir_.file("taken_.txt", 3));
        ASSERT_TRUE(dir_.folder("folder"));
        model_.SetLocation(dir_.location());
    }
    TFileInfo* entry(const char* name) {
        for (int i = 0; i < model_.Count(); ++i)
            if (model_.Entry(i)->Name == name)
                return model_.Entry(i);
        ADD_FAILURE() << "no entry " << name;
        return nullptr;
    }

    LocaleScope locale_{QLocale::c()};
    Folder dir_;
    TDirectory model_;
};

TEST_F(ListingRenameModel, ResultCodes) {
    struct Case {
        const char* what;
        const char* entry;
        QString newName;
        int code;
        const char* existsAfter;
    } const cases[] = {
        {"a file taken by a file", "a_.txt", "taken_.txt", TRenameResult::NameTaken, "a_.txt"},
        {"a file onto a folder", "a_.txt", "folder", TRenameResult::RenameFailed, "a_.txt"},
        {"out of the folder", "a_.txt", "folder/x", TRenameResult::RenameFailed, "a_.txt"},
        {"empty name", "a_.txt", "", TRenameResult::RenameFailed, "a_.txt"},
        {"a folder onto a file", "folder", "taken_.txt", TRenameResult::NameTaken, "folder"},
    };
    for (const Case& c : cases) {
        const auto before = docfiles::snapshot(dir_.path());
        const QStringList listed = names(model_);
        const TRenameResult r = model_.Rename(entry(c.entry), c.newName);
        EXPECT_EQ(r.Code, c.code) << c.what;
        EXPECT_EQ(r.Entry, nullptr) << c.what;
        EXPECT_EQ(docfiles::snapshot(dir_.path()), before) << c.what;
        EXPECT_EQ(names(model_), listed) << c.what;
        EXPECT_TRUE(dir_.exists(c.existsAfter)) << c.what;
    }
}

TEST_F(ListingRenameModel, SuccessKeepsThePosition) {
    const int position = names(model_).indexOf(QStringLiteral("a_.txt"));
    TFileInfo* e = entry("a_.txt");
    const TRenameResult r = model_.Rename(e, QStringLiteral("zz_.txt"));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.Entry, model_.Entry(position));
    EXPECT_EQ(model_.EntryName(position), QStringLiteral("zz_.txt"));
    EXPECT_EQ(r.Entry->Size, 1);
    EXPECT_EQ(r.Entry->ImageIndex, -2);
    EXPECT_TRUE(dir_.exists("zz_.txt"));
    EXPECT_FALSE(dir_.exists("a_.txt"));
}

TEST_F(ListingRenameModel, CaseOnlyIsARealRename) {
    const TRenameResult r = model_.Rename(entry("b_.txt"), QStringLiteral("B_.TXT"));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.Entry->Name, "B_.TXT");
    EXPECT_TRUE(dir_.exists("B_.TXT"));
    EXPECT_FALSE(dir_.exists("b_.txt"));
    const TRenameResult folder = model_.Rename(entry("folder"), QStringLiteral("Folder"));
    ASSERT_TRUE(folder.ok());
    EXPECT_EQ(folder.Entry->Attr, faDirectory);
}

TEST_F(ListingRenameModel, RefusedByTheSystem) {
    platform::fault::Scope faults;
    platform::fault::inject("renameat2", EACCES);
    const TRenameResult r = model_.Rename(entry("a_.txt"), QStringLiteral("new_.txt"));
    EXPECT_EQ(r.Code, TRenameResult::RenameFailed);
    EXPECT_TRUE(dir_.exists("a_.txt"));
    EXPECT_FALSE(dir_.exists("new_.txt"));
}

// A file appears under the new name between the check and the rename: it is never replaced.
TEST_F(ListingRenameModel, RaceNeverReplaces) {
    for (bool fallback : {false, true}) {
        ASSERT_TRUE(docfiles::writeFile(dir_ / "late_.txt", "someone else's"));
        platform::fault::Scope faults;
        platform::fault::inject("lstat", ENOENT, 0, 1); // the check does not see it yet
        if (fallback)
            platform::fault::inject("renameat2", EINVAL);
        const TRenameResult r = model_.Rename(entry("a_.txt"), QStringLiteral("late_.txt"));
        EXPECT_EQ(r.Code, TRenameResult::NameTaken) << fallback;
        EXPECT_EQ(docfiles::readFile(dir_ / "late_.txt"), "someone else's") << fallback;
        EXPECT_TRUE(dir_.exists("a_.txt")) << fallback;
        ASSERT_EQ(::unlink((dir_ / "late_.txt").constData()), 0);
    }
}

class TDummy : public TPersistent {
public:
    QString ClassName() const override { return QStringLiteral("TDummy"); }
};

TEST(ListingAssign, CopiesSettingsAndEntries) {
    LocaleScope locale(QLocale::c());
    Folder dir;
    ASSERT_TRUE(dir.file("b_.txt", 7));
    ASSERT_TRUE(dir.file("a_.txt"));
    ASSERT_TRUE(dir.file("c.txt"));
    TDirectory source;
    source.SetFileMask(QStringLiteral("*_.txt"));
    source.SetSortDirection(sdDescending);
    source.SetIncludeParentDir(false);
    source.SetLocation(dir.location());
    FileTypeText(*source.Entry(0)); // a cache that the copy must not carry

    RecordingClient client;
    TDirectory target(&client);
    target.Assign(source);
    EXPECT_EQ(client.calls, (QStringList{"Starting", "Ended"})); // no Found, no notifications
    EXPECT_EQ(target.Location(), dir.location() + "/");
    EXPECT_EQ(target.FileMask(), QStringLiteral("*_.txt"));
    EXPECT_EQ(target.SortDirection(), sdDescending);
    EXPECT_FALSE(target.IncludeParentDir());
    EXPECT_EQ(names(target), (QStringList{"b_.txt", "a_.txt"}));
    EXPECT_EQ(target.Entry(0)->Size, 7);
    EXPECT_TRUE(target.Entry(0)->TypeName.isEmpty());
    EXPECT_EQ(target.Entry(0)->ImageIndex, -2);

    TDummy dummy;
    try {
        dummy.Assign(source);
        FAIL() << "assigned to a foreign class";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot assign a TDirectory to a TDummy"));
    }
    EXPECT_THROW(target.Assign(dummy), EConvertError);
}

TEST(ListingEntryTexts, TypeAndAttributeLetters) {
    TFileInfo folder, file, drive;
    folder.Attr = faDirectory;
    file.Attr = faArchive;
    drive.Attr = faVolumeID;
    EXPECT_EQ(FileTypeText(folder), QStringLiteral("Directory"));
    EXPECT_EQ(folder.TypeName, QStringLiteral("Directory"));
    EXPECT_EQ(FileTypeText(file), QStringLiteral("File"));
    EXPECT_EQ(FileTypeText(drive), QStringLiteral("Volume"));
    EXPECT_TRUE(drive.TypeName.isEmpty());
    file.TypeName = QStringLiteral("cached");
    EXPECT_EQ(FileTypeText(file), QStringLiteral("cached"));

    const std::pair<quint32, const char*> letters[] = {
        {0, ""},
        {faReadOnly, "R"},
        {faAnyFile, "RHSA"},
        {faDirectory | faVolumeID, ""},
        {faHidden | faArchive, "HA"},
        {faSysFile | faReadOnly, "RS"},
    };
    for (const auto& [attr, text] : letters)
        EXPECT_EQ(AttributeLetters(attr), QString::fromLatin1(text)) << attr;
}

TEST(ListingPathFunctions, DriveLettersRootsNormalize) {
    EXPECT_TRUE(HasDriveLetter(u"C:"));
    EXPECT_TRUE(HasDriveLetter(u"z:\\x"));
    EXPECT_FALSE(HasDriveLetter(u"1:"));
    EXPECT_FALSE(HasDriveLetter(u"C"));
    EXPECT_FALSE(HasDriveLetter(u"/C:"));
    EXPECT_TRUE(IsDriveRoot(u"/"));
    EXPECT_FALSE(IsDriveRoot(u""));
    EXPECT_FALSE(IsDriveRoot(u"/home/"));
    EXPECT_EQ(NormalizeLocation(QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(NormalizeLocation(QStringLiteral("/a/b/../c/")), QStringLiteral("/a/c/"));
    // Names that are not UTF-8 survive the trip through wide strings.
    const QString odd = platform::fromFsBytes("/tmp/\xE4\xEE\xEA");
    EXPECT_EQ(platform::toFsBytes(NormalizeLocation(odd)), QByteArray("/tmp/\xE4\xEE\xEA"));
}

} // namespace
