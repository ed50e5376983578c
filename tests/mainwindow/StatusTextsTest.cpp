// The status bar's texts: Russian plural forms of the document count, and paths shown as
// names read (a name that is not UTF-8 through the conversion code page).
#include "main/StatusTexts.h"

#include "support/DocFiles.h"

#include <gtest/gtest.h>

TEST(StatusTexts, DocumentCountsTakeTheirPluralForm) {
    const struct {
        int count;
        const char* text;
    } cases[] = {
        {0, "0 документов"},     {1, "1 документ"},       {2, "2 документа"},
        {4, "4 документа"},      {5, "5 документов"},     {11, "11 документов"},
        {12, "12 документов"},   {14, "14 документов"},   {21, "21 документ"},
        {22, "22 документа"},    {25, "25 документов"},   {101, "101 документ"},
        {111, "111 документов"}, {112, "112 документов"}, {1024, "1024 документа"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(statustext::documentCount(c.count), QString::fromUtf8(c.text)) << c.count;
}

TEST(StatusTexts, FailuresNameTheFailedPathAsRead) {
    docfiles::CodePageScope codePage(1251);
    EXPECT_EQ(statustext::pageFailed("/a/\xCF\xF0\xE8\xEA\xE0\xE7/x_.txt", "/a/", "File not found"),
              QStringLiteral("Страница не записана: /a/Приказ/x_.txt (File not found)"));
    EXPECT_EQ(statustext::pageFailed({}, "/a/", "Disk full"),
              QStringLiteral("Страница не записана: /a/ (Disk full)"));
}
