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

void fitWrappedLabelText(QLabel* label, const QFont& font)
{
    QFont fitted = font;
    const QRect box(0, 0, label->width(), 100000);
    auto fits = [&] {
        const QRect needed = QFontMetrics(fitted).boundingRect(
            box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, label->text());
        return needed.height() <= label->height() && needed.width() <= label->width();
    };
    while (!fits() && fitted.pointSizeF() > 6)
        fitted.setPointSizeF(fitted.pointSizeF() - 0.5);
    label->setFont(fitted);
    label->setToolTip(label->text());
}
