#include "ui/shell/ShowWindowChannel.h"
#include "support/TestSupport.h"

#include <QLocalSocket>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

// Asks from another process, as a second start does: a blocking ask in this one would keep the
// listening side from answering.
bool askFromOutside(const QString& socketPath, const QByteArray& request)
{
    QProcess asker;
    asker.start(QStringLiteral("python3"),
                {QStringLiteral("-c"),
                 QStringLiteral("import socket,sys\n"
                                "s=socket.socket(socket.AF_UNIX)\n"
                                "s.settimeout(5)\n"
                                "s.connect(sys.argv[1]); s.sendall(sys.argv[2].encode())\n"
                                "sys.exit(0 if s.recv(16)==b'ok\\n' else 1)\n"),
                 socketPath, QString::fromLatin1(request)});
    serveEventsUntil([&] { return asker.state() == QProcess::NotRunning; }, budgetMs(10000));
    return asker.exitStatus() == QProcess::NormalExit && asker.exitCode() == 0;
}

} // namespace

TEST(ShowWindowChannel, TheRunningInstanceOfTheSameFolderIsAskedToShowItsWindow)
{
    TempFolder dir;
    ShowWindowChannel running(dir.file("QuorinDriverServer-aaaa.lock"));
    ShowWindowChannel other(dir.file("QuorinDriverServer-bbbb.lock"));
    // A socket left by an instance that was killed does not keep the next one from listening.
    writeBytes(running.socketPath(), "stale");
    ASSERT_TRUE(running.listen());
    int shown = 0;
    QObject::connect(&running, &ShowWindowChannel::showRequested, [&] { ++shown; });

    EXPECT_FALSE(other.ask(200)) << "another folder's instance hears nothing";
    EXPECT_TRUE(askFromOutside(running.socketPath(), "show\n"));
    serveEventsUntil([&] { return shown == 1; }, budgetMs(5000));
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(askFromOutside(running.socketPath(), "quit\n"));
    serveEventsFor(100);
    EXPECT_EQ(shown, 1) << "only the one request is known";
}
