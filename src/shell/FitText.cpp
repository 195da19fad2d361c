#include "FitText.h"

#include <QFontMetrics>
#include <QLabel>

void fitLabelText(QLabel* label)
{
    QFont font = label->parentWidget() ? label->parentWidget()->font() : label->font();
    while (QFontMetrics(font).horizontalAdvance(label->text()) > label->width() &&
           font.pointSizeF() > 6)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    label->setFont(font);
}
