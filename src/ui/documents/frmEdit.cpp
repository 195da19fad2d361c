#include "frmEdit.h"

#include "documents/CommonDialog.h"
#include "documents/DocumentText.h"
#include "messages/MessageCatalogue.h"
#include "ui/widgets/Twips.h"
#include "ui/widgets/UserDialogs.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextDocument>

namespace {
const char* const kTag = "Tag";
const QString kChanged = QStringLiteral("C");
} // namespace

frmEdit::frmEdit(QString& documentPath, CommonDialog& commonDialog, UserDialogs& dialogs,
                 QWidget* parent)
    : QDialog(parent, Qt::Window), m_documentPath(documentPath), m_commonDialog(commonDialog),
      m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("frmEdit"));
    const Twips tw(this);
    resize(tw.px(4680), tw.px(3195));
    txtEdit = new QPlainTextEdit(this);
    txtEdit->setObjectName(QStringLiteral("txtEdit"));
    txtEdit->setProperty(kTag, QString());
    txtEdit->setGeometry(rect());
}

bool frmEdit::Form_Load()
{
    setWindowTitle(m_documentPath);
    const auto text = loadDocumentText(m_documentPath);
    if (!text)
        return false;
    txtEdit->setPlainText(*text);
    // Filling the box is not a change; only the user's edits are.
    connect(txtEdit, &QPlainTextEdit::textChanged, this,
            [this] { txtEdit->setProperty(kTag, kChanged); });
    return true;
}

bool frmEdit::isChanged() const
{
    return txtEdit->property(kTag).toString() == kChanged;
}

void frmEdit::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    txtEdit->setGeometry(rect());
}

void frmEdit::reject()
{
    // Asked to go away (not by Escape): the same way as its close box, question included.
    close();
}

void frmEdit::keyPressEvent(QKeyEvent* event)
{
    // The editor has no command but closing its window, and closing sends the document:
    // Escape must not do that by accident.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmEdit::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (isChanged()) {
        switch (m_dialogs.question(this, kProgramTitle,
                                   QStringLiteral("Vuoi salvare i cambiamenti?"))) {
        case UserDialogs::Answer::Yes:
            // Edits that were not saved are not thrown away behind the user's back.
            if (!Save())
                event->ignore();
            break;
        case UserDialogs::Answer::No:
            break;
        case UserDialogs::Answer::Cancel:
            event->ignore();
            break;
        }
    }
    if (event->isAccepted())
        QDialog::reject();
}

bool frmEdit::Save()
{
    m_commonDialog.setUpForDocuments(QStringLiteral("Salva documento configurazione registratore"));
    const auto chosen = m_dialogs.saveFileName(this, m_commonDialog);
    if (!chosen)
        return false;
    m_commonDialog.FileName = *chosen;
    // The raw text: the plain one turns no-break spaces into spaces.
    if (!saveDocumentText(*chosen, txtEdit->document()->toRawText())) {
        m_dialogs.critical(this, kProgramTitle,
                           QStringLiteral("Impossibile salvare il documento ") + *chosen);
        return false;
    }
    m_documentPath = *chosen;
    txtEdit->setProperty(kTag, QString());
    return true;
}
