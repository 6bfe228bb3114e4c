#pragma once

#include <QRect>
#include <QString>

class QAbstractButton;
class QWidget;

namespace cloakline {

// Hand-placed controls and their texts. The forms keep their designed
// places and sizes; a text that needs more room (translations run longer
// than the design's English) widens its control.

// Pixels by which control's text is wider than the room the control gives
// it, 0 when it fits: the contents of a push button or check box, the hint
// of a tool button or a one-line label, and for a word-wrapped label the
// height its lines need beyond its own.
int TextShortfall(const QWidget& control);

// The width control needs for its text: designWidth, or more when the text
// does not fit a control of that width.
int FittedWidth(QWidget& control, int designWidth);

// The width of a button's hint with text in place of its own.
int WidthForText(const QAbstractButton& button, const QString& text);

// The run of blanks (two or more) in a check box's caption, as a range of x
// in the check box (full height); empty when the caption has none. A control
// placed over a caption, such as a spin edit, belongs in it.
QRect CaptionGap(const QAbstractButton& box);

}  // namespace cloakline
