#pragma once

#include <QDialog>

class QPlainTextEdit;
class UserDialogs;
struct CommonDialog;

// A plain editor for one configuration document. Closing it asks whether to save a changed
// text; a save that did not happen keeps the window open with the edits.
class frmEdit : public QDialog
{
    Q_OBJECT
public:
    frmEdit(QString& documentPath, CommonDialog& commonDialog, UserDialogs& dialogs,
            QWidget* parent = nullptr);

    // Loads the document; false when it cannot be read (the editor is then not shown).
    bool Form_Load();
    QPlainTextEdit* textBox() const { return txtEdit; }
    bool isChanged() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool Save();

    QString& m_documentPath;
    CommonDialog& m_commonDialog;
    UserDialogs& m_dialogs;
    QPlainTextEdit* txtEdit = nullptr;
};
