#include "ui/settings_dialog/frmSetUp.h"
#include "support/ScriptedDialogs.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTreeWidget>

namespace {

class frmSetUpTest : public ::testing::Test
{
protected:
    frmSetUpTest()
    {
        settings = SettingsFile(dir.path()).load();
        settings.DirectoryInput = "/in/";
        settings.DirectoryOutput = "/out/";
    }
    frmSetUp& dialog()
    {
        if (!m_dialog)
            m_dialog = std::make_unique<frmSetUp>(settings, dir.path(), dialogs);
        return *m_dialog;
    }
    QString ini() const { return dir.file("ZEZOVURADUR.INI"); }
    template <typename T> T* child(const QString& name)
    {
        T* w = dialog().findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    QString shown(const char* combo) { return child<QComboBox>(combo)->currentText(); }
    QTreeWidget* folders() { return child<QTreeWidget>("lstCartelle"); }

    TempFolder dir;
    Settings settings;
    ScriptedDialogs dialogs;
    std::unique_ptr<frmSetUp> m_dialog;
};

} // namespace

TEST_F(frmSetUpTest, OpensWithTheDefaults)
{
    EXPECT_EQ(dialog().windowTitle(), "Personalizza");
    EXPECT_EQ(child<QLabel>("lblLingua")->text(), "Lingua ");
    EXPECT_EQ(child<QLabel>(QStringLiteral("lblVelocità"))->text(),
              QStringLiteral("Velocità di trasmissione "));
    EXPECT_EQ(child<QGroupBox>("fParametri")->title(), "Parametri di trasmissione ");
    EXPECT_EQ(child<QGroupBox>("Frame3")->title(), "");
    EXPECT_EQ(child<QLabel>("Label7")->text(), "sec.");
    EXPECT_EQ(child<QLabel>("Label8")->text(), "KBytes");
    EXPECT_EQ(child<QLabel>("Label3")->text(), "bits/sec");
    EXPECT_EQ(shown("cmbPorta"), "COM1");
    EXPECT_EQ(shown("cmbBaud"), " 9600");
    EXPECT_EQ(shown("cmbLingua"), "Italiano");
    EXPECT_EQ(shown("cmbFrequenza"), "  5");
    EXPECT_EQ(shown("cmbLog"), "  128");
    EXPECT_EQ(child<QComboBox>("cmbFrequenza")->count(), 10);
    EXPECT_FALSE(child<QComboBox>("cmbPorta")->isEditable());
    EXPECT_EQ(folders()->headerItem()->text(0), "Tipo File ");
    EXPECT_EQ(folders()->topLevelItem(0)->text(0), "File comandi");
    EXPECT_EQ(folders()->topLevelItem(0)->text(1), "/in/");
    EXPECT_EQ(folders()->topLevelItem(1)->text(1), "/out/");
    EXPECT_TRUE(folders()->topLevelItem(0)->isSelected());
    EXPECT_EQ(folders()->columnWidth(1), 2 * folders()->columnWidth(0));
    // Tab order
    QWidget* w = child<QComboBox>("cmbLingua");
    QStringList order;
    for (int i = 0; i < 9; ++i, w = w->nextInFocusChain()) {
        while (w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
        order << w->objectName();
    }
    EXPECT_EQ(order, QStringList({"cmbLingua", "cmbFrequenza", "cmbLog", "cmbPorta", "cmbBaud",
                                  "lstCartelle", "cmdModifica", "cmdOk", "cmdAnnulla"}));
}

TEST_F(frmSetUpTest, UnmatchedValuesAndEnglish)
{
    settings.Port = "7";
    settings.Frequence = "05";
    settings.MaxLogDimension = "100";
    settings.BaudRate = " 9600";
    settings.Language = "deutsch";
    EXPECT_EQ(dialog().windowTitle(), "Configure");
    EXPECT_EQ(child<QPushButton>("cmdAnnulla")->text(), "Cancel");
    EXPECT_EQ(shown("cmbPorta"), "");
    EXPECT_EQ(shown("cmbFrequenza"), "");
    EXPECT_EQ(shown("cmbLog"), "");
    EXPECT_EQ(shown("cmbBaud"), "19200");
    EXPECT_EQ(shown("cmbLingua"), "English");
    child<QPushButton>("cmdOk")->click();
    EXPECT_EQ(readBytes(ini()), QByteArray("[Parameters]\r\nBaudRate=19200\r\nLanguage=English\r\n"
                                           "DirectoryInput=/in/\r\nDirectoryOutput=/out/\r\n"));
    EXPECT_EQ(dialog().settings().Port, "7");
}

TEST_F(frmSetUpTest, OkWritesWhatTheListsShow)
{
    child<QComboBox>("cmbPorta")->setCurrentIndex(2);
    child<QComboBox>("cmbLingua")->setCurrentIndex(1);
    child<QPushButton>("cmdOk")->click();
    EXPECT_EQ(dialog().result(), QDialog::Accepted);
    EXPECT_EQ(dialog().settings().Port, "3");
    EXPECT_EQ(dialog().settings().languageOffset(), 1000);
    EXPECT_EQ(settings.Port, "1"); // the settings in use change only when the caller says so
    EXPECT_EQ(readBytes(ini()), QByteArray("[Parameters]\r\nFrequence=5\r\nMaxLogDimension=128\r\n"
                                           "BaudRate=9600\r\nPort=3\r\nLanguage=English\r\n"
                                           "DirectoryInput=/in/\r\nDirectoryOutput=/out/\r\n"));
    // The dialog's own captions change only at its next opening.
    EXPECT_EQ(dialog().windowTitle(), "Personalizza");
}

TEST_F(frmSetUpTest, ModificaThenAnnulla)
{
    dialogs.folders = {QString("/chosen"), std::nullopt, QString("/unsent")};
    child<QPushButton>("cmdModifica")->click();
    EXPECT_EQ(dialog().settings().DirectoryInput, "/chosen/");
    EXPECT_EQ(folders()->topLevelItem(0)->text(1), "/chosen/");
    folders()->topLevelItem(1)->setSelected(true);
    folders()->topLevelItem(0)->setSelected(false);
    child<QPushButton>("cmdModifica")->click(); // cancelled: both rows as they were
    EXPECT_EQ(folders()->topLevelItem(0)->text(1), "/chosen/");
    EXPECT_EQ(folders()->topLevelItem(1)->text(1), "/out/");
    child<QPushButton>("cmdModifica")->click();
    EXPECT_EQ(dialog().settings().DirectoryOutput, "/unsent/");
    EXPECT_EQ(dialogs.folderStarts, QStringList({"/in/", "/out/", "/out/"}))
        << "each chooser opens at the folder it changes";
    EXPECT_EQ(dialogs.folderTitles,
              QStringList({"Modifica posizione del file comandi",
                           "Modifica posizione degli scontrini non inviati",
                           "Modifica posizione degli scontrini non inviati"}));
    child<QPushButton>("cmdAnnulla")->click();
    EXPECT_EQ(dialog().result(), QDialog::Rejected);
    EXPECT_FALSE(fileExists(ini()));
    EXPECT_EQ(dialog().settings().DirectoryInput, "/chosen/"); // kept after Annulla too
}

TEST_F(frmSetUpTest, NoTextIsCutNorShrunkInEitherLanguage)
{
    for (const char* language : {"Italiano", "English"}) {
        SCOPED_TRACE(language);
        settings.Language = language;
        settings.DirectoryInput = "/home/someone/.local/share/QuorinDriverServer/TOSEND/";
        settings.DirectoryOutput = "/home/someone/.local/share/QuorinDriverServer/UNSENT/";
        m_dialog.reset();
        frmSetUp& d = dialog();
        const QFontMetrics fm(d.font());
        for (QLabel* label : d.findChildren<QLabel*>()) {
            EXPECT_EQ(label->font().pointSizeF(), d.font().pointSizeF())
                << label->objectName().toStdString() << " is smaller than its neighbours";
            EXPECT_LE(fm.horizontalAdvance(label->text()), label->width())
                << label->objectName().toStdString();
        }
        for (QComboBox* combo : d.findChildren<QComboBox*>()) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                               QStyle::SC_ComboBoxEditField, combo);
            for (int i = 0; i < combo->count(); ++i)
                EXPECT_LE(fm.horizontalAdvance(combo->itemText(i)), field.width())
                    << combo->objectName().toStdString() << ": "
                    << combo->itemText(i).toStdString();
        }
        for (QPushButton* button : d.findChildren<QPushButton*>())
            EXPECT_LE(fm.horizontalAdvance(button->text()), button->width())
                << button->objectName().toStdString();
        for (QGroupBox* frame : d.findChildren<QGroupBox*>())
            EXPECT_LE(fm.horizontalAdvance(frame->title()), frame->width());
        for (QWidget* widget : d.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_TRUE(d.rect().contains(widget->geometry()))
                << widget->objectName().toStdString();
        QTreeWidget* list = folders();
        const int margin = fm.horizontalAdvance(QLatin1Char(' '));
        EXPECT_LE(fm.horizontalAdvance(list->headerItem()->text(0)) + margin, list->columnWidth(0));
        for (int row = 0; row < 2; ++row) {
            EXPECT_LE(fm.horizontalAdvance(list->topLevelItem(row)->text(0)) + margin,
                      list->columnWidth(0));
            // A path that does not fit loses its middle; its tooltip has it whole.
            EXPECT_EQ(list->topLevelItem(row)->toolTip(1), list->topLevelItem(row)->text(1));
        }
        EXPECT_EQ(list->textElideMode(), Qt::ElideMiddle);
        EXPECT_LE(list->columnWidth(0) + list->columnWidth(1), list->width());
    }
}
