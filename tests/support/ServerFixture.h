#pragma once

#include "common/InterruptibleWait.h"
#include "server/DriverServer.h"
#include "server/platform/SingleInstanceLock.h"
#include "support/FakeDriver.h"
#include "support/TestSupport.h"

#include <QTimer>
#include <memory>
#include <optional>

// The server as the program composes it, on a temporary program folder and a fake register;
// the test attaches its view (the window, or a stand-in that records).
class ServerFixture
{
public:
    struct Setup
    {
        bool startAndStopFiles; // Avvio.txt sends "AVVIO", Stop.txt "FERMA"
        bool watchInputFolder;
    };

    explicit ServerFixture(Setup setup)
    {
        if (setup.startAndStopFiles) {
            writeBytes(dir.file("Avvio.txt"), "AVVIO\r\n");
            writeBytes(dir.file("Stop.txt"), "FERMA\r\n");
        }
        DriverServer::Options options;
        options.pipeline = {1, 0, 65536};
        options.watchInputFolder = setup.watchInputFolder;
        options.waits = &waits;
        server = std::make_unique<DriverServer>(dir.path(), "QuorinDriverServer", driver, clock,
                                                lock, options);
        QObject::connect(server.get(), &DriverServer::ended,
                         [this](int status) { endedWith = status; });
    }

    // The polling timer, by its name.
    QTimer& pollTimer() const { return *server->findChild<QTimer*>(QStringLiteral("tmrFile")); }
    void tick() { server->tick(CommandFilePipeline::TickCause::Timer); }
    bool done() const { return server->state() == DriverServer::State::Done; }
    // A file of the input folder (the default one until the start reads the settings).
    QString in(const QString& name) const
    {
        const QString& folder = server->settings().DirectoryInput;
        return folder.isEmpty() ? dir.file("TOSEND/" + name) : folder + name;
    }

    TempFolder dir;
    FakeDriver driver;
    FixedClock clock;
    InterruptibleWait waits;
    SingleInstanceLock lock{dir.path()};
    std::unique_ptr<DriverServer> server;
    std::optional<int> endedWith; // the status the run ended with
};
