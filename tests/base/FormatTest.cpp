#include "base/Exception.h"
#include "base/ResourceStrings.h"

#include <gtest/gtest.h>

namespace {

// A name whose bytes are not UTF-8, as the file-system decoding holds it: U+DC80 + byte.
const QString kForeignName = QStringLiteral("old") + QChar(0xDCE4) + QStringLiteral("_.txt");

struct FormatRow {
    const char* what;
    const char* resource;
    std::initializer_list<rs::Arg> args;
    QString expected;
};

TEST(Format, FillsConversionsInOrderAndKeepsArgumentsAsTheyAre) {
    const FormatRow rows[] = {
        {"two strings",
         "\"%s\" is not a subdirectory of \"%s\"",
         {"/a", "/b"},
         QStringLiteral("\"/a\" is not a subdirectory of \"/b\"")},
        {"number", "I/O error %d", {1921}, QStringLiteral("I/O error 1921")},
        {"negative number",
         "List index out of bounds (%d)",
         {-1},
         QStringLiteral("List index out of bounds (-1)")},
        {"pointer as text", "at %p.", {"0000ABCD"}, QStringLiteral("at 0000ABCD.")},
        {"argument holding a conversion", "%s and %s", {"%s", "x"}, QStringLiteral("%s and x")},
        {"percent sign", "100%% of %d", {7}, QStringLiteral("100% of 7")},
        {"missing argument stays", "%s, %s", {"one"}, QStringLiteral("one, %s")},
        {"trailing percent", "50%", {}, QStringLiteral("50%")},
        {"bytes that are not UTF-8",
         "Access denied to \"%s\"",
         {kForeignName},
         QStringLiteral("Access denied to \"") + kForeignName + u'"'},
    };
    for (const FormatRow& row : rows)
        EXPECT_EQ(rs::format(row.resource, row.args), row.expected) << row.what;
}

TEST(Format, ExceptionTextsKeepNamesThatAreNotUtf8) {
    const EFCreateError error(QStringLiteral("/d/") + kForeignName, QStringLiteral("Disk full"));
    EXPECT_EQ(error.Message(),
              QStringLiteral("Cannot create file \"/d/") + kForeignName + "\". Disk full");
    EXPECT_EQ(EConvertError(kForeignName, QStringLiteral("TDirectory")).Message(),
              QStringLiteral("Cannot assign a ") + kForeignName + " to a TDirectory");
}

} // namespace
