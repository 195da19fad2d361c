#pragma once

class QLabel;

// Captions were laid out for a narrow font: where this platform's font is wider, a label's font
// shrinks (down to 6 points) until its text fits, instead of the text being cut.
void fitLabelText(QLabel* label);
