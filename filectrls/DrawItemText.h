#pragma once
// The components' text painter: a text too wide for its rectangle is cut to the longest
// prefix of whole characters that fits with "..." after it ("..." alone when none fits).
#include <QString>

class QFontMetrics;
class QPainter;
class QRect;

// The text as DrawItemText would draw it in `width` pixels without word wrap.
QString ElidedItemText(const QFontMetrics& metrics, const QString& text, int width);

void DrawItemText(QPainter& canvas, const QRect& rect, const QString& text, bool wordWrap,
                  bool leftAlign);

// The components' error box: caption "Error", error icon, the text, one OK button. Tests
// replace the box function so that no modal box can hang them.
using ShowErrorMessageFunction = void (*)(const QString& text);
void ShowErrorMessage(const QString& text);
ShowErrorMessageFunction setShowErrorMessageFunction(ShowErrorMessageFunction function);
