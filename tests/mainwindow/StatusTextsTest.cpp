// The status bar's texts: Russian plural forms, and paths shown as names are read.
#include "main/StatusTexts.h"

#include "support/DocFiles.h"

#include <gtest/gtest.h>

TEST(StatusTexts, DocumentCountsTakeTheirPluralFormAndPathsReadAsNames) {
    const char* forms[] = {"документов", "документ", "документа"};
    const std::pair<int, int> cases[] = {{0, 0},  {1, 1},   {2, 2},   {4, 2},   {5, 0},
                                         {11, 0}, {12, 0},  {14, 0},  {21, 1},  {22, 2},
                                         {25, 0}, {101, 1}, {111, 0}, {112, 0}, {1024, 2}};
    for (const auto& [count, form] : cases)
        EXPECT_EQ(statustext::documentCount(count),
                  QString::number(count) + u' ' + QString::fromUtf8(forms[form]));
    docfiles::CodePageScope codePage(1251);
    EXPECT_EQ(statustext::pageFailed("/a/\xCF\xF0\xE8\xEA\xE0\xE7 \xD0\xB8/x_.txt", "/a/",
                                     "File not found"),
              QStringLiteral("Страница не записана: /a/Приказ Рё/x_.txt (File not found)"));
    EXPECT_EQ(statustext::pageFailed({}, "/a/", "Disk full"),
              QStringLiteral("Страница не записана: /a/ (Disk full)"));
}
