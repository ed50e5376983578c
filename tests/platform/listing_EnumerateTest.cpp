// Enumeration rules: wildcards, the attribute mask, attributes from stat, DOS times.
#include "listing/ListingTestSupport.h"
#include "platform/Enumerate.h"
#include "platform/Fault.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <map>

using listingtest::Folder;

namespace {

struct WildcardCase {
    const char* pattern;
    const char* name;
    bool matches;
};

TEST(ListingWildcard, MatchesFileMasks) {
    const WildcardCase cases[] = {
        {"*_.txt", "a_.txt", true},
        {"*_.txt", "A_.TXT", true}, // case-insensitive
        {"*_.TXT", "a_.txt", true},
        {"z_.txt", "Z_.TXT", true},
        {"*_.txt", "a.txt", false},
        {"*_.txt", "a_.txt.bak", false},
        {"*_.txt", "_.txt", true},
        {"*.*", "README", true}, // every name, also without a dot
        {"*.*", ".hidden", true},
        {"*", "anything.at.all", true},
        {"a_.txt*", "a_.txt", true}, // a trailing * also matches nothing
        {"*.", "README", true},      // ending in '.': names without an extension
        {"*.", "a.txt", false},
        {"read*.", "README", true},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"a?c", "abbc", false},
        {"?", "я", true}, // one character, two bytes
        {"??", "я", false},
        {"*Я*", "маяк", true}, // Cyrillic folds too
        {"*.TXT", "ДОК.txt", true},
        {"?_.txt", "\xE9_.txt", true},     // a byte of an invalid sequence is one character
        {"*.k", "a.\xE2\x84\xAA", true},   // KELVIN SIGN folds to 'k': the tail is not ASCII
        {"*_.txt", "\xD0\xAF_.TXT", true}, // a tail of ASCII after other characters
        {"*_.txt", "_.tx", false},         // shorter than the tail
        {"*[@_.txt", "X[@_.TXT", true},    // the bytes beside 'A' and 'Z' are not letters
        {"*`_.txt", "x@_.txt", false},
        {"*{_.txt", "x[_.txt", false},
        {"*long tail_.txt", "A LONG TAIL_.TXT", true}, // more than a word
        {"*a*b*", "xxaxxbxx", true},
        {"*a*b", "xxaxxbxxc", false},
        {"", "a", false}, // an empty pattern finds nothing
        {"", "", false},
    };
    for (const WildcardCase& c : cases)
        EXPECT_EQ(platform::WildcardPattern(c.pattern).matches(c.name), c.matches)
            << c.pattern << " vs " << c.name;
}

TEST(ListingWildcard, ExtensionLength) {
    const std::pair<const char*, int> cases[] = {
        {"*_.txt", 4},  {"*.*", 2}, {"README", 0},         {"a.тхт", 4}, {"dir.d/file", 0},
        {".bashrc", 7}, {"a.", 1},  {"a.\xB8\xF1\xE5", 4}, // cp1251 bytes: one character each
    };
    for (const auto& [name, length] : cases)
        EXPECT_EQ(platform::extensionLength(name), length) << name;
}

TEST(ListingSearchMask, KeepsOutOnlyBitsTheMaskLacks) {
    struct Case {
        quint32 attr, mask;
        bool passes;
    } const cases[] = {
        {faArchive, 0, true}, // normal files always pass
        {faArchive | faReadOnly, 0, true},
        {faHidden | faArchive, faSysFile, false},
        {faHidden | faArchive, faHidden, true},
        {faSysFile, faSysFile, true}, // FIFO with the default file type
        {faSysFile, 0, false},
        {faDirectory, faSysFile, false},
        {faDirectory, faDirectory, true},
        {faDirectory | faHidden, faDirectory, false},
        {faVolumeID, faAnyFile, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::passesSearchMask(c.attr, c.mask), c.passes)
            << std::hex << c.attr << " / " << c.mask;
}

std::tm civil(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(ListingDosTime, PacksAndClamps) {
    struct Case {
        std::tm local;
        quint32 packed;
    } const cases[] = {
        {civil(1979, 12, 31, 23, 59, 59), 0x00210000u}, // before 1980: 1980-01-01
        {civil(1970, 1, 1, 0, 0, 0), 0x00210000u},
        {civil(1980, 1, 1, 0, 0, 0), 0x00210000u},
        {civil(2024, 5, 17, 13, 45, 31),
         (44u << 25) | (5u << 21) | (17u << 16) | (13u << 11) | (45u << 5) | 15u},
        {civil(2044, 1, 1, 0, 0, 0), 0x80210000u}, // bit 31 set
        {civil(2107, 12, 31, 23, 59, 59), 0xFF9FBF7Du},
        {civil(2108, 1, 1, 0, 0, 0), 0xFF9FBF7Du}, // after 2107: 2107-12-31 23:59:58
        {civil(2500, 6, 1, 12, 0, 0), 0xFF9FBF7Du},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::packDosTime(c.local), c.packed) << c.local.tm_year + 1900;
    EXPECT_EQ(platform::kDosTimeMax, 0xFF9FBF7Du);
}

// The reader converts times through a cache of UTC offsets; around a change of daylight
// saving time it must still agree with localtime.
TEST(ListingDosTime, ReaderAgreesWithLocalTimeAcrossDaylightSaving) {
    const char* oldTz = std::getenv("TZ");
    const QByteArray saved = oldTz ? QByteArray(oldTz) : QByteArray();
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    Folder dir;
    ASSERT_TRUE(dir.isValid());
    // 2024-03-31 01:00 UTC: clocks go from 02:00 to 03:00 local. Files every 7 minutes around.
    const std::time_t change = 1711846800;
    std::map<QByteArray, std::time_t> times;
    for (int i = -20; i <= 20; ++i) {
        const QByteArray name = "f" + QByteArray::number(i + 100);
        ASSERT_TRUE(dir.file(name));
        const std::time_t t = change + i * 7 * 60 + 13;
        ASSERT_TRUE(dir.setTime(name, t));
        times[name] = t;
    }
    // And a few far apart, so the cache sees several quarter hours in turn.
    for (std::time_t t : {std::time_t(0), std::time_t(946684799), std::time_t(4102444800)}) {
        const QByteArray name = "t" + QByteArray::number(qint64(t));
        ASSERT_TRUE(dir.file(name));
        ASSERT_TRUE(dir.setTime(name, t));
        times[name] = t;
    }
    platform::FolderReader reader(dir.path());
    int seen = 0;
    while (reader.next()) {
        const QByteArray name = reader.name().toByteArray();
        if (!times.count(name))
            continue;
        TSearchRec rec;
        ASSERT_TRUE(reader.describe(rec));
        EXPECT_EQ(rec.Time, platform::packDosTime(times[name])) << name.constData();
        ++seen;
    }
    EXPECT_EQ(seen, int(times.size()));
    if (oldTz)
        setenv("TZ", saved.constData(), 1);
    else
        unsetenv("TZ");
    tzset();
}

std::map<QByteArray, TSearchRec> readAll(const QByteArray& folder) {
    std::map<QByteArray, TSearchRec> entries;
    platform::FolderReader reader(folder);
    while (reader.next()) {
        TSearchRec rec;
        if (reader.describe(rec))
            entries[reader.name().toByteArray()] = rec;
    }
    return entries;
}

TEST(ListingFolderReader, AttributesAndSizes) {
    Folder dir;
    ASSERT_TRUE(dir.file("plain", 5));
    ASSERT_TRUE(dir.file("readonly", 1, 0444));
    ASSERT_TRUE(dir.file(".hidden", 2));
    ASSERT_TRUE(dir.file("huge", qint64(5) << 30)); // sparse, above 4 GiB
    ASSERT_TRUE(dir.folder("sub"));
    ASSERT_TRUE(dir.folder(".hiddendir"));
    ASSERT_TRUE(dir.fifo("pipe"));
    ASSERT_TRUE(dir.symlink("sub", "linkdir"));
    ASSERT_TRUE(dir.symlink("plain", "linkfile"));
    ASSERT_TRUE(dir.symlink("nowhere", "dangling"));

    const auto entries = readAll(dir.path());
    struct Expect {
        const char* name;
        quint32 attr;
        qint64 size;
    } const expected[] = {
        {"plain", faArchive, 5},
        {"readonly", faArchive | faReadOnly, 1},
        {".hidden", faArchive | faHidden, 2},
        {"huge", faArchive, qint64(5) << 30},
        {"sub", faDirectory, 0},
        {".hiddendir", faDirectory | faHidden, 0},
        {"pipe", faSysFile, 0},
        {"linkdir", faDirectory, 0}, // links are followed
        {"linkfile", faArchive, 5},
        {"dangling", faArchive, 7}, // described by lstat: the link itself
        {"..", faDirectory, 0},     // never hidden
    };
    for (const Expect& e : expected) {
        auto it = entries.find(e.name);
        ASSERT_NE(it, entries.end()) << e.name;
        EXPECT_EQ(it->second.Attr, e.attr) << e.name;
        EXPECT_EQ(it->second.Size, e.size) << e.name;
    }
    EXPECT_EQ(entries.count("."), 0u);
    EXPECT_EQ(entries.size(), std::size(expected));
}

TEST(ListingFolderReader, RootHasNoParentEntry) {
    platform::FolderReader reader("/");
    ASSERT_EQ(reader.error(), 0);
    bool sawParent = false, sawAny = false;
    while (reader.next()) {
        sawAny = true;
        sawParent = sawParent || reader.name() == "..";
    }
    EXPECT_TRUE(sawAny);
    EXPECT_FALSE(sawParent);
}

TEST(ListingFolderReader, FailuresFindNothing) {
    Folder dir;
    ASSERT_TRUE(dir.file("a"));
    {
        platform::fault::Scope faults;
        platform::fault::inject("opendir", EACCES);
        platform::FolderReader reader(dir.path());
        EXPECT_EQ(reader.error(), EACCES);
        EXPECT_FALSE(reader.next());
    }
    {
        platform::FolderReader reader(dir / "missing");
        EXPECT_EQ(reader.error(), ENOENT);
        EXPECT_FALSE(reader.next());
    }
    {
        // An entry that cannot be described is left out, not made up.
        platform::fault::Scope faults;
        platform::fault::inject("stat", EIO);
        EXPECT_TRUE(readAll(dir.path()).empty());
    }
}

TEST(ListingFind, FindAllAndFindOne) {
    Folder dir;
    ASSERT_TRUE(dir.file("a_.txt", 3));
    ASSERT_TRUE(dir.file("B_.TXT"));
    ASSERT_TRUE(dir.file(".h_.txt"));
    ASSERT_TRUE(dir.file("c.txt"));
    ASSERT_TRUE(dir.folder("d_.txt"));

    auto names = [](const std::vector<TSearchRec>& found) {
        QList<QByteArray> list;
        for (const TSearchRec& r : found)
            list.append(r.Name);
        std::sort(list.begin(), list.end());
        return list;
    };
    EXPECT_EQ(names(platform::findAll(dir.path(), "*_.txt", faSysFile)),
              (QList<QByteArray>{"B_.TXT", "a_.txt"}));
    EXPECT_EQ(names(platform::findAll(dir.path(), "*_.txt", faSysFile | faHidden | faDirectory)),
              (QList<QByteArray>{".h_.txt", "B_.TXT", "a_.txt", "d_.txt"}));
    EXPECT_TRUE(platform::findAll(dir.path(), "", faAnyFile).empty());

    TSearchRec rec;
    ASSERT_TRUE(platform::findOne(dir / "a_.txt", faAnyFile, rec));
    EXPECT_EQ(rec.Name, "a_.txt");
    EXPECT_EQ(rec.Size, 3);
    EXPECT_FALSE(platform::findOne(dir / "A_.TXT", faAnyFile, rec));  // exact, case-sensitive
    EXPECT_FALSE(platform::findOne(dir / ".h_.txt", faSysFile, rec)); // the mask applies
    ASSERT_TRUE(platform::findOne(dir / "d_.txt/", faDirectory, rec));
    EXPECT_EQ(rec.Name, "d_.txt");
}

} // namespace
