#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// What the offscreen platform itself says about the tray and window order it lacks.
bool offscreenPlatformNoise(const QString& msg)
{
    return msg.contains(QLatin1String("systemTrayWindowChanged")) ||
           msg.contains(QLatin1String("does not support raise()")) ||
           msg.contains(QLatin1String("does not support activateWindow()"));
}

void failOnWarning(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (type == QtDebugMsg || type == QtInfoMsg || AllowQtWarnings::allowed(msg) ||
        offscreenPlatformNoise(msg))
        return;
    ADD_FAILURE() << "Qt message: " << msg.toStdString();
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    qInstallMessageHandler(failOnWarning);
    return RUN_ALL_TESTS();
}
