#include "pipeline/CommandFilePipeline.h"
#include "support/DiskStepLog.h"
#include "support/FakeDriver.h"
#include "support/PipelineFolders.h"
#include "support/TestSupport.h"

#include <QFile>

namespace {

// Each promise about a crash or a power cut rests on a flush that comes before the step relying
// on it: these tests watch the file layer's steps in the order they are taken.
class FlushOrderTest : public ::testing::Test, public PipelineFolders
{
protected:
    FakeDriver driver;
    RecordingDisplay display{settings};
    FixedClock clock;
    CommandFilePipeline pipeline{settings,
                                 driver,
                                 display.model,
                                 clock,
                                 "QuorinDriverServer",
                                 CommandFilePipeline::Options{1, 0, 65536}};
    DiskStepLog log{dir.path() + u'/'};
    const QString rec = QStringLiteral("in/QuorinDriverServer.REC");
};

} // namespace

TEST_F(FlushOrderTest, EachFlushComesBeforeTheStepThatReliesOnIt)
{
    struct Case
    {
        const char* file;
        QByteArray content;
        bool readOnly;
        // Steps, each of which must come after the one before it.
        QStringList order;
    };
    const Case cases[] = {
        {"S.TXT",
         "L1\r\nL2\r\n",
         false,
         {"FlushFile in/QuorinDriverServer.REC", "<first line sent>", "FlushFile in/S.OK",
          "Remove in/S.TXT", "FlushFolder in/", "WriteInPlace in/QuorinDriverServer.REC 0"}},
        {"F.TXT",
         "L1\r\nBAD\r\n",
         false,
         {"FlushFile in/QuorinDriverServer.REC", "<first line sent>",
          "FlushFile in/(\\.qds-.*|F.KO)", "Name in/F.KO", "FlushFile out/(\\.qds-.*|\\d{12}F.TXT)",
          "Name out/\\d{12}F.TXT", "FlushFolder out/", "Remove in/F.TXT", "FlushFolder in/",
          "WriteInPlace in/QuorinDriverServer.REC 0"}},
        // Left in the folder: the record knows it, on the disk, before it says nothing is sent.
        {"R.TXT",
         "L1\r\n",
         true,
         {"FlushFile in/QuorinDriverServer.REC", "<first line sent>", "FlushFile in/R.OK",
          "FlushFile in/QuorinDriverServer.REC", "WriteInPlace in/QuorinDriverServer.REC 0"}},
    };
    driver.answer("BAD", {{17, 0}});
    AllowQtWarnings kept("NotDeleted");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        writeBytes(in(c.file), c.content);
        if (c.readOnly)
            QFile::setPermissions(in(c.file), QFileDevice::ReadOwner);
        log.clear();
        qsizetype firstSend = -1;
        driver.onSend = [&](qint32 row, const QString&) {
            if (row == 1)
                firstSend = log.steps().size();
        };
        pipeline.runTick();
        ASSERT_GE(firstSend, 0);
        QStringList steps = log.steps();
        steps.insert(firstSend, QStringLiteral("<first line sent>"));
        qsizetype at = -1;
        for (const QString& step : c.order) {
            const QRegularExpression pattern(QStringLiteral("^(%1)$").arg(step));
            qsizetype next = -1;
            for (qsizetype i = at + 1; i < steps.size() && next < 0; ++i)
                if (pattern.match(steps[i]).hasMatch())
                    next = i;
            ASSERT_GE(next, 0) << qPrintable(step) << " after step " << at << " of\n"
                               << qPrintable(steps.join(u'\n'));
            at = next;
        }
    }
}
