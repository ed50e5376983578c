#pragma once
// Small helpers for tests that work with real files: writing and reading by file-system bytes,
// a snapshot of a folder to prove it unchanged, and a guard for the conversion code page.
#include "platform/CodePage.h"
#include "support/TempDir.h"

#include <QByteArray>
#include <QMap>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace docfiles {

inline bool writeFile(const QByteArray& path, QByteArrayView content, mode_t mode = 0644) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    const ssize_t n = ::write(fd, content.data(), std::size_t(content.size()));
    ::close(fd);
    return n == content.size();
}

inline QByteArray readFile(const QByteArray& path) {
    QByteArray result;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "<missing>";
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        result.append(buffer, n);
    ::close(fd);
    return result;
}

// Every entry of a folder (not recursive) with its mode, owner and content.
inline QMap<QByteArray, QByteArray> snapshot(const QByteArray& folder) {
    QMap<QByteArray, QByteArray> result;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return result;
    while (dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = folder + '/' + name;
        struct stat st;
        if (::lstat(path.constData(), &st) != 0)
            continue;
        QByteArray value = QByteArray::number(st.st_mode, 8) + ' ' + QByteArray::number(st.st_uid) +
                           ':' + QByteArray::number(st.st_gid);
        if (S_ISREG(st.st_mode))
            value += ' ' + readFile(path);
        result.insert(name, value);
    }
    ::closedir(dir);
    return result;
}

// Sets the conversion code page for a test and restores the previous one.
class CodePageScope {
public:
    explicit CodePageScope(int codePage) : saved_(platform::conversionCodePage()) {
        platform::setConversionCodePage(codePage);
    }
    ~CodePageScope() { platform::setConversionCodePage(saved_); }
    CodePageScope(const CodePageScope&) = delete;
    CodePageScope& operator=(const CodePageScope&) = delete;

private:
    int saved_;
};

// Documents read by the plain loop instead of in batches while it lives (or until end()).
class PlainReads {
public:
    PlainReads() { ::setenv("DOCINDEX_PLAIN_READS", "1", 1); }
    ~PlainReads() { end(); }
    PlainReads(const PlainReads&) = delete;
    PlainReads& operator=(const PlainReads&) = delete;
    void end() { ::unsetenv("DOCINDEX_PLAIN_READS"); }
};

// System error texts in English for the test, whatever the tester's locale.
class MessagesInC {
public:
    MessagesInC() : saved_(std::setlocale(LC_MESSAGES, nullptr)) {
        std::setlocale(LC_MESSAGES, "C");
    }
    ~MessagesInC() { std::setlocale(LC_MESSAGES, saved_.constData()); }
    MessagesInC(const MessagesInC&) = delete;
    MessagesInC& operator=(const MessagesInC&) = delete;

private:
    QByteArray saved_;
};

} // namespace docfiles
