#pragma once

#include <QUrl>

#include "documents/CommonDialog.h"
#include "server/DriverServer.h"

#include <QMainWindow>
#include <QTranslator>
#include <memory>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class TrayIcon;
class UserDialogs;

// The status window: the register's state, the last error and the last receipt, the menu and
// the notification-area icon. It is a view over the server, which runs the program: the window
// shows what the server tells it and passes on the menu commands and requests to close.
class frmMain : public QMainWindow, public ServerView
{
    Q_OBJECT
public:
    struct Options
    {
        bool trayAvailable = true; // a notification area exists
    };

    // Becomes the server's view.
    frmMain(DriverServer& server, UserDialogs& dialogs, Options options);
    ~frmMain() override;

    // File menu: one more entry, opening the HTTP front's live page (its token in the
    // fragment) in the default browser.
    void addLivePageEntry(const QUrl& page);

    // Start-up. 0 when the program goes on (the caller then shows the window); otherwise the
    // exit status of a program that must end at once.
    int Form_Load();

    // ServerView
    void showCritical(const QString& text) override;
    void applyLanguage(int languageOffset) override;
    void setPortTitle(const QString& text) override;
    void showTrayIcon() override;
    void removeTrayIcon() override;
    void closeModalWindows() override;
    void runEnded() override;

public slots:
    void MyTray_DoubleClick(int button, int shift);
    // Settings dialog and re-apply sequence.
    void MNU_FILE_PERSONALIZZA_Click();
    // Send a configuration document after showing it in the editor.
    void MNU_FILE_INVIA_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenu();
    // Steps of File > Invia up to the editor; the document to send, or nothing.
    std::optional<QString> chooseAndEditDocument();
    bool hasShutDown() const { return m_server.state() == DriverServer::State::Done; }
    // Shows the status model: the labels, and the icon when there is one.
    void render();
    void renderIcon();
    // The window comes forward and stays above ordinary windows.
    void showAndRaise();

    DriverServer& m_server;
    UserDialogs& m_dialogs;
    bool m_trayAvailable;
    std::unique_ptr<TrayIcon> m_tray;
    std::optional<TrayPicture> m_iconPicture; // what the icon shows now
    CommonDialog CDialog;
    QString DocumentPath;
    QTranslator m_qtTranslator;

    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QLabel* lblTitCol[4] = {};
    QLabel* lblStato = nullptr;
    QLabel* lblErrore = nullptr;
    QLabel* lblOra = nullptr;
    QLabel* lblNumero = nullptr;
    QLabel* imgErr = nullptr;
    QLabel* imgWarn = nullptr;
    QMenu* MNU_FILE = nullptr;
    QAction* MNU_FILE_PERSONALIZZA = nullptr;
    QAction* MNU_FILE_INVIA = nullptr;
    QAction* MNU_FILE_PAGINA = nullptr; // only while the HTTP front is on
    QAction* MNU_FILE_SEP = nullptr;
    QAction* MNU_FILE_ESCI = nullptr;
    QAction* mnuNascondi = nullptr;
};
