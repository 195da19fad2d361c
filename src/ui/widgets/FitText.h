#pragma once

class QFont;
class QLabel;

// Captions were laid out for a narrow font: where this platform's font is wider, a label's font
// shrinks (down to 6 points) until its text fits, instead of the text being cut.
void fitLabelText(QLabel* label);

// A wrapped text in a box of fixed size (the error label): the font shrinks from the given one
// (down to 6 points) until every line fits, and the whole text is also the label's tooltip.
void fitWrappedLabelText(QLabel* label, const QFont& font);
