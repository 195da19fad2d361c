#pragma once

#include "settings/Settings.h"

#include <QDialog>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class UserDialogs;

// The settings dialog. It works on a copy of the running settings, which settings() returns
// however the dialog ends: OK stores the chosen values in it and writes them to the settings
// file; a folder chosen with "Modifica..." goes into it at once (and stays even after Annulla,
// in memory only); Annulla and the close box write nothing.
class frmSetUp : public QDialog
{
    Q_OBJECT
public:
    frmSetUp(Settings settings, QString programFolder, UserDialogs& dialogs,
             QWidget* parent = nullptr);
    const Settings& settings() const { return m_settings; }

    void cmdOk_Click();
    void cmdAnnulla_Click();
    void cmdModifica_Click();

private:
    void buildControls();
    void Form_Load();
    void LoadCaptions();
    void showFolders();
    void fitToTexts();

    Settings m_settings;
    QString m_programFolder;
    UserDialogs& m_dialogs;

    QGroupBox* Frame3 = nullptr;
    QLabel* lblLingua = nullptr;
    QComboBox* cmbLingua = nullptr;
    QLabel* lblFrequenza = nullptr;
    QComboBox* cmbFrequenza = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* lblLog = nullptr;
    QComboBox* cmbLog = nullptr;
    QLabel* Label8 = nullptr;
    QGroupBox* fParametri = nullptr;
    QLabel* lblPorta = nullptr;
    QComboBox* cmbPorta = nullptr;
    QLabel* lblVelocita = nullptr;
    QComboBox* cmbBaud = nullptr;
    QLabel* Label3 = nullptr;
    QGroupBox* fCartelle = nullptr;
    QTreeWidget* lstCartelle = nullptr;
    QPushButton* cmdModifica = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdAnnulla = nullptr;
};
