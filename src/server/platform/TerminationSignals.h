#pragma once

#include <QObject>

// Turns the system's requests to end the program (SIGTERM, SIGINT, a session logout) into a
// signal on the UI thread, so that the program shuts down the normal way.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void terminationRequested();

private:
    struct Private;
    Private* d;
};
