// Pages the program writes in several locales and charsets: read in the charset each declares,
// every caption is its document's text and every link reaches its file.
#include "listing/ListingTestSupport.h"
#include "support/DocFiles.h"
#include "support/ExpectedPage.h"

#include <QProcess>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <sys/stat.h>

TEST(PageCharset, EveryPageReadsBackAsItsDocumentsInEveryLocale) {
    listingtest::Folder dir;
    const QByteArray folder = dir / "Папка/";
    ASSERT_TRUE(dir.folder("Папка"));
    const auto removeAll = qScopeGuard([&] { docfiles::removeTree(folder); }); // cp1251 name
    // UTF-8 Cyrillic, Latin with diacritics, emoji, CJK, and a cp1251 document.
    const std::map<QByteArray, QByteArray> documents{
        {"Кириллица_.txt", "Привет, мир\r\nвторая строка"},
        {"café_.txt", "Příliš žluťoučký kůň & <b>"},
        {"📄_.txt", "Документ 📄"},
        {"中文_.txt", "中文文档"},
        {"\xEF\xF0_.txt", "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0"}};
    for (const auto& [name, content] : documents)
        ASSERT_TRUE(docfiles::writeFile(folder + name, content));
    QTemporaryDir locales; // a third locale, where localedef can make one
    QProcess::execute("localedef", {"-i", "cs_CZ", "-f", "UTF-8", locales.filePath("cs_CZ.UTF-8")});
    const std::pair<QString, int> rows[] = {
        {"ru_RU.UTF-8", 1251}, {"C.UTF-8", 1252}, {"cs_CZ.UTF-8", 1250}};
    for (const auto& [locale, codePage] : rows) {
        if (codePage == 1250 && !QFile::exists(locales.filePath("cs_CZ.UTF-8/LC_CTYPE"))) {
            std::fprintf(stderr, "[  SKIPPED ] the cs_CZ.UTF-8 rows: localedef cannot make it\n");
            continue;
        }
        const QByteArray own = "windows-" + QByteArray::number(codePage);
        // Options, the charset the cp1251 document is read in, the charset the page declares.
        const std::tuple<QStringList, QByteArray, QByteArray> outputs[] = {
            {{}, own, own},
            {{"--codepage", "1251"}, "windows-1251", "windows-1251"},
            {{"--charset", "utf-8"}, own, "utf-8"},
            {{"--charset", "WINDOWS-1250"}, own, "windows-1250"}};
        for (const auto& [options, read, declared] : outputs) {
            SCOPED_TRACE(qPrintable(locale + ' ' + options.join(' ')));
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("LC_ALL", locale);
            if (codePage == 1250)
                env.insert("LOCPATH", locales.path());
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(qEnvironmentVariable("DOCINDEX_BINARY_DIR") + "/main/docindex",
                    options + QStringList{"--write", QString::fromUtf8(folder)});
            EXPECT_TRUE(p.waitForFinished(30000) && p.exitCode() == 0)
                << p.readAllStandardError().data();
            const QByteArray bytes = docfiles::readFile(folder + "index.htm");
            const QString page = expectedpage::readPage(bytes);
            EXPECT_TRUE(bytes.contains("charset=" + declared + "\">") && !bytes.contains('?'));
            EXPECT_TRUE(page.contains("<TITLE>" + QString::fromUtf8(folder) + "</TITLE>"));
            EXPECT_TRUE(page.contains(u"№№</th>") && page.contains(u"СПИСОК ДОКУМЕНТОВ") &&
                        page.contains(u"СПРАВКА ПО ДОКУМЕНТУ"));
            EXPECT_EQ(page.count(u".txt\">справка</a>"), 5);
            int rowsFound = 0;
            const QRegularExpression link(QStringLiteral("<a href=\"([^\"]*)\\.rtf\">(.*)</a> "));
            for (const auto& m : link.globalMatch(page)) {
                const QByteArray name = expectedpage::resolveHref(m.captured(1));
                struct stat st;
                ASSERT_EQ(::stat((folder + name).constData(), &st), 0) << name.constData();
                const QByteArray& content = documents.at(name);
                QString text = QStringDecoder(content.isValidUtf8() ? "utf-8" : read.constData())
                                   .decode(content);
                EXPECT_EQ(m.captured(2), u' ' + text.replace("\r\n", " "));
                ++rowsFound;
            }
            EXPECT_EQ(rowsFound, int(documents.size()));
        }
    }
}
