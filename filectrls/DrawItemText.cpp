#include "filectrls/DrawItemText.h"

#include "base/ResourceStrings.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPainter>
#include <QRect>
#include <QTextBoundaryFinder>

#include <vector>

namespace {

const QString kEllipsis = QStringLiteral("...");

// Positions after each whole character (grapheme cluster: a base letter with its combining
// marks, a surrogate pair), so that a cut never splits one.
std::vector<qsizetype> characterEnds(const QString& text) {
    std::vector<qsizetype> ends;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    while (finder.toNextBoundary() > 0)
        ends.push_back(finder.position());
    return ends;
}

void showErrorBox(const QString& text) {
    QMessageBox box(QMessageBox::Critical, rs::text(rs::SError), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

ShowErrorMessageFunction errorBoxFunction = showErrorBox;

} // namespace

QString ElidedItemText(const QFontMetrics& metrics, const QString& text, int width) {
    // Short cells ("A", "0", "File") fit without shaping the text. maxWidth() is rounded:
    // one pixel more per character keeps the bound above fractional advances.
    if (qint64(text.size()) * (metrics.maxWidth() + 1) <= width ||
        metrics.horizontalAdvance(text) <= width)
        return text;
    // The longest prefix of whole characters that still fits with "..." after it. Widths grow
    // with the prefix, so a binary search finds the same prefix as trying one more character
    // at a time, without measuring every prefix of a long name on every repaint.
    const std::vector<qsizetype> ends = characterEnds(text);
    qsizetype fitting = 0; // number of whole characters that fit
    qsizetype low = 1, high = qsizetype(ends.size());
    while (low <= high) {
        const qsizetype mid = (low + high) / 2;
        if (metrics.horizontalAdvance(text.left(ends[size_t(mid - 1)]) + kEllipsis) <= width) {
            fitting = mid;
            low = mid + 1;
        } else {
            high = mid - 1;
        }
    }
    return (fitting > 0 ? text.left(ends[size_t(fitting - 1)]) : QString()) + kEllipsis;
}

void DrawItemText(QPainter& canvas, const QRect& rect, const QString& text, bool wordWrap,
                  bool leftAlign) {
    int flags = Qt::AlignVCenter | (leftAlign ? Qt::AlignLeft : Qt::AlignRight);
    if (wordWrap) {
        canvas.drawText(rect, flags | Qt::TextWordWrap, text);
        return;
    }
    canvas.drawText(rect, flags | Qt::TextSingleLine,
                    ElidedItemText(canvas.fontMetrics(), text, rect.width()));
}

void ShowErrorMessage(const QString& text) {
    errorBoxFunction(text);
}

ShowErrorMessageFunction setShowErrorMessageFunction(ShowErrorMessageFunction function) {
    const ShowErrorMessageFunction previous = errorBoxFunction;
    errorBoxFunction = function ? function : showErrorBox;
    return previous;
}
