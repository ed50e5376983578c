#pragma once
// The index page as the tests expect it, spelled out byte for byte and independently of the
// writer: the fixed head, one five-line row per document, the foot, lines ended by CR LF.
#include <QByteArray>
#include <QList>

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

} // namespace expectedpage
