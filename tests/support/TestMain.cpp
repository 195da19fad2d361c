#include "support/TestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

// An unexpected Qt warning is a fault in the code under test.
void failOnWarning(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (type == QtDebugMsg || type == QtInfoMsg || AllowQtWarnings::allowed(msg))
        return;
    ADD_FAILURE() << "Qt message: " << msg.toStdString();
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(failOnWarning);
    return RUN_ALL_TESTS();
}
