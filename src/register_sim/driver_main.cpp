// The simulated register as a driver program: the same register as the built-in one, spoken to
// over standard input and output (docs/DRIVERS.md). It works in its working folder, the program
// folder (Simulatore.ini, Simulatore.mem, the journal), or in the folder given as argument.
#include "SimulatedRegister.h"
#include "driver/DriverProtocol.h"
#include "driver/ResultCodes.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

void send(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

DriverProtocol::Message answer(qint64 id, qint32 result)
{
    DriverProtocol::Message m;
    m.kind = DriverProtocol::Message::Kind::Answer;
    m.id = id;
    m.result = result;
    return m;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString folder =
        argc > 1 ? QDir(QString::fromLocal8Bit(argv[1])).absolutePath() : QDir::currentPath();
    SystemClock clock;
    SimulatedRegister reg(folder, clock);
    QObject::connect(&reg, &RegisterDriver::StatusUpdate, [](qint32 status) {
        DriverProtocol::Message m;
        m.kind = DriverProtocol::Message::Kind::StatusUpdate;
        m.status = status;
        send(DriverProtocol::encode(m));
    });
    QObject::connect(&reg, &RegisterDriver::DumpData,
                     [](qint32, qint32 count, const QString& text) {
                         DriverProtocol::Message m;
                         m.kind = DriverProtocol::Message::Kind::DumpData;
                         m.count = count;
                         m.text = text;
                         send(DriverProtocol::encode(m));
                     });

    send(DriverProtocol::hello());
    std::string text;
    while (std::getline(std::cin, text)) {
        QString why;
        const auto r = DriverProtocol::decodeRequest(QByteArray::fromStdString(text), &why);
        if (!r) {
            std::cerr << "not a request: " << why.toStdString() << '\n';
            return 1;
        }
        auto m = answer(r->id, 0);
        if (!DriverProtocol::isKnownOperation(r->op)) {
            // A later version's operation: refused, and the conversation goes on.
            std::cerr << "unknown operation " << r->op.toStdString() << ", answered 571\n";
            m.result = ResultCode::CannotPerform;
        } else if (r->op == QLatin1String("PreOpenFlag")) {
            reg.setPreOpenFlag(r->flag);
        } else if (r->op == QLatin1String("OpenPort")) {
            QString port = r->port;
            m.result = reg.OpenPort(port);
        } else if (r->op == QLatin1String("ClosePort")) {
            m.result = reg.ClosePort();
        } else if (r->op == QLatin1String("SendCommand")) {
            qint32 row = r->row;
            QString line = r->line;
            m.result = reg.SendCommand(row, static_cast<qint16>(r->mode), line);
        } else if (r->op == QLatin1String("ExtendedResult")) {
            m.result = reg.ExtendedResult();
        } else if (r->op == QLatin1String("SendQuery")) {
            QString reply;
            m.result = reg.SendQuery(r->param1, static_cast<qint16>(r->param2), r->query, reply);
            m.answer = reply;
        }
        send(DriverProtocol::encode(m));
    }
    return 0;
}
