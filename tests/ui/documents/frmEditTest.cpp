#include "ui/documents/frmEdit.h"
#include "support/ScriptedDialogs.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>

namespace {

class frmEditTest : public ::testing::Test
{
protected:
    frmEditTest() { documentPath = dir.file("doc.orvek"); }
    frmEdit& editor()
    {
        if (!m_editor)
            m_editor = std::make_unique<frmEdit>(documentPath, common, dialogs);
        return *m_editor;
    }
    void open(const QByteArray& content)
    {
        writeBytes(documentPath, content);
        ASSERT_TRUE(editor().Form_Load());
        editor().show();
    }
    void type(const QString& text) { editor().textBox()->insertPlainText(text); }

    TempFolder dir;
    QString documentPath;
    CommonDialog common;
    ScriptedDialogs dialogs;
    std::unique_ptr<frmEdit> m_editor;
};

} // namespace

TEST_F(frmEditTest, ShowsTheDocumentAndSavesItBack)
{
    open("A\r\n\r\nB");
    EXPECT_EQ(editor().windowTitle(), documentPath);
    EXPECT_EQ(editor().textBox()->toPlainText(), "A\n\nB");
    EXPECT_FALSE(editor().isChanged());
    editor().resize(500, 300);
    EXPECT_EQ(editor().textBox()->geometry(), editor().rect());
    type("!");
    EXPECT_TRUE(editor().isChanged());
    EXPECT_EQ(editor().textBox()->property("Tag").toString(), "C");
    const QString saved = dir.file("new.orvek");
    dialogs.answers = {UserDialogs::Answer::Yes};
    dialogs.saveNames = {saved};
    EXPECT_TRUE(editor().close());
    EXPECT_EQ(dialogs.questions,
              QStringList({"Quorin Server - ORVEK S.P.A.|Vuoi salvare i cambiamenti?"}));
    ASSERT_EQ(dialogs.fileDialogs.size(), 1);
    EXPECT_EQ(dialogs.fileDialogs[0].DialogTitle, "Salva documento configurazione registratore");
    EXPECT_TRUE(dialogs.fileDialogs[0].confirmsOverwrite());
    EXPECT_EQ(readBytes(saved), QByteArray("!A\r\n\r\nB\r\n"));
    EXPECT_EQ(documentPath, saved);
    EXPECT_EQ(common.FileName, saved);
    EXPECT_EQ(readBytes(dir.file("doc.orvek")), QByteArray("A\r\n\r\nB"));
}

TEST_F(frmEditTest, UnchangedClosesWithoutAQuestion)
{
    open("\r\n\r\nX\r\n");
    EXPECT_EQ(editor().textBox()->toPlainText(), "X");
    EXPECT_TRUE(editor().close());
    EXPECT_TRUE(dialogs.questions.isEmpty());
}

TEST_F(frmEditTest, CancelKeepsTheWindowAndNoDiscards)
{
    open("X\r\n");
    type("Y");
    dialogs.answers = {UserDialogs::Answer::Cancel, UserDialogs::Answer::No};
    EXPECT_FALSE(editor().close());
    EXPECT_TRUE(editor().isVisible());
    EXPECT_EQ(editor().textBox()->toPlainText(), "YX");
    EXPECT_TRUE(editor().close());
    EXPECT_EQ(readBytes(documentPath), QByteArray("X\r\n"));
    EXPECT_EQ(documentPath, dir.file("doc.orvek"));
}

TEST_F(frmEditTest, ASaveThatDidNotHappenKeepsTheEdits)
{
    open("X\r\n");
    type("Y");
    dialogs.answers = {UserDialogs::Answer::Yes, UserDialogs::Answer::Yes};
    dialogs.saveNames = {std::nullopt, dir.file("missing/folder.orvek")};
    EXPECT_FALSE(editor().close()); // save dialog cancelled
    EXPECT_FALSE(editor().close()); // file cannot be written
    EXPECT_TRUE(editor().isVisible());
    EXPECT_TRUE(editor().isChanged());
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith("Quorin Server - ORVEK S.P.A.|"));
    EXPECT_EQ(documentPath, dir.file("doc.orvek"));
    EXPECT_FALSE(fileExists(dir.file("missing")));
}

TEST_F(frmEditTest, UnreadableDocumentIsNotShown)
{
    documentPath = dir.file("none.orvek");
    EXPECT_FALSE(editor().Form_Load());
}

TEST_F(frmEditTest, EscapeDoesNotCloseAndEveryCharacterIsKept)
{
    open("A\xA0"
         "B \x80\r\n");
    type("!");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(editor().textBox(), &escape);
    EXPECT_TRUE(editor().isVisible());
    EXPECT_TRUE(dialogs.questions.isEmpty());
    const QString saved = dir.file("kept.orvek");
    dialogs.answers = {UserDialogs::Answer::Yes};
    dialogs.saveNames = {saved};
    EXPECT_TRUE(editor().close());
    EXPECT_EQ(readBytes(saved), QByteArray("!A\xA0"
                                           "B \x80\r\n"));
}
