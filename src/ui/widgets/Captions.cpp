#include "Captions.h"

#include "FitText.h"
#include "messages/MessageCatalogue.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>

void applyCaptions(QWidget* window, const std::vector<CaptionId>& captions, int languageOffset)
{
    for (const CaptionId& caption : captions) {
        const QString text = LocalisedText(languageOffset, caption.id);
        if (window->objectName() == caption.objectName) {
            window->setWindowTitle(text);
            continue;
        }
        QObject* control = window->findChild<QObject*>(caption.objectName);
        if (auto* action = qobject_cast<QAction*>(control))
            action->setText(text);
        else if (auto* frame = qobject_cast<QGroupBox*>(control))
            frame->setTitle(text);
        else if (auto* button = qobject_cast<QAbstractButton*>(control))
            button->setText(text);
        else if (auto* label = qobject_cast<QLabel*>(control)) {
            label->setText(text);
            fitLabelText(label);
        }
    }
}
