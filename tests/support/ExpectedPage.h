#pragma once
// The index page as the tests expect it, spelled out byte for byte and independently of the
// writer: the fixed head, one five-line row per document, the foot, lines ended by CR LF.
#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringDecoder>

namespace expectedpage {

using Lines = QList<QByteArray>;

// "справка" in windows-1251.
inline const QByteArray kSpravka1251 = "\xF1\xEF\xF0\xE0\xE2\xEA\xE0";

// The twelve head lines with `title` (bytes as they stand in the page).
inline Lines head(const QByteArray& title) {
    return {
        "<HTML>",
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">",
        "<HEAD>",
        "<TITLE>" + title + "</TITLE>",
        "</HEAD>",
        "<BODY BGCOLOR=#FFFFFF>",
        "<table align=center width=\"100%\" border=\"1\" cellspacing=\"0\" cellpadding=\"1\">",
        "<tr>",
        "<th align=center>\xB9\xB9</th>",
        "<th align=left>\xD1\xCF\xC8\xD1\xCE\xCA \xC4\xCE\xCA\xD3\xCC\xC5\xCD\xD2\xCE\xC2</th>",
        "<th align=center>\xD1\xCF\xD0\xC0\xC2\xCA\xC0 \xCF\xCE "
        "\xC4\xCE\xCA\xD3\xCC\xC5\xCD\xD2\xD3</th>",
        "</tr>",
    };
}

// The four foot lines, with the second "</tr>".
inline const Lines kFoot = {"</tr>", "</TABLE>", "</BODY>", "</HTML>"};

// Row n linking `href` + ".rtf" with the document text and `href` + ".txt" with `help`.
inline Lines row(int n, const QByteArray& href, const QByteArray& text,
                 const QByteArray& help = kSpravka1251) {
    return {
        "<tr>",
        "<td align=center>" + QByteArray::number(n) + " </td>",
        "<td align=left> <a href=\"" + href + ".rtf\">" + text + "</a> </td>",
        "<td align=center> <a href=\"" + href + ".txt\">" + help + "</a> </td>",
        "</tr>",
    };
}

inline QByteArray joined(const Lines& lines) {
    QByteArray bytes;
    for (const QByteArray& line : lines)
        bytes += line + "\r\n";
    return bytes;
}

// The page as a browser shows it: decoded with the charset its meta line declares, numeric
// character references resolved; a null string when the bytes are not in that charset.
inline QString readPage(const QByteArray& page) {
    const qsizetype at = page.indexOf("charset=") + 8;
    QStringDecoder decoder(page.mid(at, page.indexOf('"', at) - at).constData());
    QString text = decoder.decode(page);
    if (!decoder.isValid() || decoder.hasError())
        return {};
    static const QRegularExpression reference(QStringLiteral("&#(\\d+);"));
    for (QRegularExpressionMatch m; (m = reference.match(text, at)).hasMatch();) {
        const char32_t c = m.captured(1).toUInt();
        text.replace(m.capturedStart(), m.capturedLength(), QString::fromUcs4(&c, 1));
    }
    return text;
}

// What a browser does with an href on a file URL: percent escapes are the path's bytes, every
// other character goes in as UTF-8.
inline QByteArray resolveHref(const QString& href) {
    QByteArray bytes;
    for (qsizetype i = 0; i < href.size(); ++i) {
        if (href[i] == '%' && i + 2 < href.size()) {
            bytes.append(char(href.mid(i + 1, 2).toInt(nullptr, 16)));
            i += 2;
        } else {
            const qsizetype end = href.indexOf(u'%', i + 1);
            bytes.append(href.mid(i, end < 0 ? -1 : end - i).toUtf8()); // whole surrogate pairs
            i = end < 0 ? href.size() : end - 1;
        }
    }
    return bytes;
}

} // namespace expectedpage
