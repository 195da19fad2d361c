#pragma once

#include "settings/Settings.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <optional>

enum class TrayPicture { Normal, Error, Warning };

// "#,##0" with the given thousands separator.
QString formatReceiptNumber(int number, const QString& groupSeparator);

// What the program knows of its situation, and the one place that decides what is shown of it:
// the state line (lblStato), the error line (lblErrore), the last receipt, the icon's picture and
// tooltip, and when the window must come forward. The pipeline, the register's reports and the
// server tell it what happened; the window and the icon render it; any other observer (a status
// query) reads the same facts. Texts are in the language of the settings at the time they are
// made: a line keeps its language until something replaces it.
class StatusModel : public QObject
{
    Q_OBJECT
public:
    // What the register last said of itself.
    enum class Condition { Ready, CoverOpen, PaperOut, Busy };
    struct Receipt
    {
        int number = 0;
        QDateTime time;
    };

    explicit StatusModel(const Settings& settings, QObject* parent = nullptr);

    // What happened.
    void portOpened();
    void registerReported(qint32 status); // a StatusUpdate of the driver
    void dumpReceived();                  // a DumpData of the driver
    void fileFailed(qint32 code);         // the error text of a result code
    void fileSent(const QDateTime& when, int receipt);
    // The fault to show now, of the folders or of the driver (empty: none); the same text again
    // only puts it back if something else took its place meanwhile.
    void faultsChanged(const QString& text, bool driverFault);
    // Something the user must read now (the error line and the icon), and the window comes
    // forward.
    void showNotice(const QString& text);
    // The window comes forward and stays above ordinary windows.
    void bringForward();
    // How many command files wait to be sent.
    void filesWaiting(int count);
    // A new icon in the notification area starts with the program's picture and title.
    void iconCreated();
    // The link to a message broker: its state ("connected", "connecting", "offline") and what
    // is wrong with it (empty: nothing). Shown beside the register's own state, never instead.
    void linkChanged(const QString& state, const QString& fault);

    // What is shown.
    QString stateText() const { return m_state; }
    QString errorText() const;
    TrayPicture trayPicture() const;
    QString toolTip() const;
    QString receiptTime() const;   // "HH:mm:ss", empty before the first receipt
    QString receiptNumber() const; // "#,##0" in the system's grouping
    // The facts behind it.
    Condition condition() const { return m_condition; }
    bool driverFault() const { return m_driverFault; }
    std::optional<Receipt> lastReceipt() const { return m_receipt; }
    int waiting() const { return m_waiting; }
    QString registerErrorText() const { return m_error; }
    QString linkState() const { return m_linkState; } // empty: no link
    QString linkFault() const { return m_linkFault; }

signals:
    void changed();
    void forwardRequested();

private:
    int language() const { return m_settings.languageOffset(); }
    void setError(const QString& text);
    void setIcon(TrayPicture picture, const QString& toolTip);

    const Settings& m_settings;
    QString m_state;
    QString m_error;
    TrayPicture m_picture = TrayPicture::Normal;
    QString m_toolTip;
    Condition m_condition = Condition::Ready;
    bool m_driverFault = false;
    std::optional<Receipt> m_receipt;
    QString m_shownFault; // the fault text last put on the error line
    int m_waiting = 0;
    QString m_linkState;
    QString m_linkFault;
};
