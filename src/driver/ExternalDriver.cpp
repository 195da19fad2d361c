#include "ExternalDriver.h"

#include "ResultCodes.h"
#include "platform/ChildProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

namespace {

constexpr int kOutputClosedGraceMs = 100;

QString seconds(int ms)
{
    return QString::number(ms / 1000.0, 'g', 3) + QStringLiteral(" s");
}

// How messages name the driver: its program, and for an interpreter its script
// ("python3 serial_line.py").
QString driverName(const QString& program, const QStringList& arguments,
                   const QString& workingFolder)
{
    QString name = QFileInfo(program).fileName();
    // An interpreter is named with its script: the first argument that is not an option, when
    // it is a file.
    for (const QString& argument : arguments) {
        if (argument.startsWith(u'-'))
            continue;
        if (QFileInfo(QDir(workingFolder).absoluteFilePath(argument)).isFile())
            name += u' ' + QFileInfo(argument).fileName();
        break;
    }
    return name;
}

} // namespace

ExternalDriver::ExternalDriver(Options options, InterruptibleWait* waits, QObject* parent)
    : RegisterDriver(parent), m_options(std::move(options)), m_waits(waits ? waits : &m_ownWaits)
{
    if (m_options.program.isEmpty()) {
        m_name = QStringLiteral("Program=");
        return;
    }
    // A bare name that is not in the program folder is looked for in the system's PATH.
    const QString local = QDir(m_options.workingFolder).absoluteFilePath(m_options.program);
    if (!m_options.program.contains(QLatin1Char('/')) && !QFileInfo::exists(local)) {
        const QString found = QStandardPaths::findExecutable(m_options.program);
        m_options.program = found.isEmpty() ? local : found;
    } else {
        m_options.program = local;
    }
    m_name = driverName(m_options.program, m_options.arguments, m_options.workingFolder);
}

ExternalDriver::~ExternalDriver()
{
    if (!m_process)
        return;
    m_process->disconnect(this);
    // Its input closes: a driver ends by itself, and is ended if it does not.
    m_process->closeWriteChannel();
    m_process->waitForFinished(2000);
    // What it left behind goes with it, and it goes if it is still there.
    m_child.end();
    m_process->waitForFinished(1000);
}

DriverProtocol::Request ExternalDriver::flagRequest(bool flag) const
{
    DriverProtocol::Request request;
    request.op = QStringLiteral("PreOpenFlag");
    request.flag = flag;
    return request;
}

DriverProtocol::Request ExternalDriver::openRequest(const QString& port) const
{
    DriverProtocol::Request request;
    request.op = QStringLiteral("OpenPort");
    request.port = port;
    request.speed = m_speed;
    return request;
}

void ExternalDriver::setPreOpenFlag(bool flag)
{
    call(flagRequest(flag));
}

qint32 ExternalDriver::OpenPort(QString& port)
{
    const Outcome out = call(openRequest(port));
    const qint32 result = out.reply ? out.reply->result : out.failure;
    if (result == 0)
        m_openPort = port;
    else
        m_openPort.reset();
    return result;
}

qint32 ExternalDriver::ClosePort()
{
    m_openPort.reset();
    // A driver that is not running has no port open: it is not started just to close one.
    if (m_link < Link::Greeted)
        return 0;
    DriverProtocol::Request request;
    request.op = QStringLiteral("ClosePort");
    const Outcome out = call(request);
    return out.reply ? out.reply->result : out.failure;
}

qint32 ExternalDriver::SendCommand(qint32& row, qint16 mode, QString& line)
{
    DriverProtocol::Request request;
    request.op = QStringLiteral("SendCommand");
    request.row = row;
    request.mode = mode;
    request.line = line;
    const Outcome out = call(request);
    // The extended result of a call that failed as a call is 0; the driver is not asked.
    m_sendFailed = !out.reply;
    return out.reply ? out.reply->result : out.failure;
}

qint32 ExternalDriver::ExtendedResult()
{
    if (m_sendFailed)
        return 0;
    DriverProtocol::Request request;
    request.op = QStringLiteral("ExtendedResult");
    const Outcome out = call(request);
    return out.reply ? out.reply->result : 0;
}

qint32 ExternalDriver::SendQuery(qint32 reserved1, qint16 reserved2, const QString& query,
                                 QString& answer)
{
    DriverProtocol::Request request;
    request.op = QStringLiteral("SendQuery");
    request.param1 = reserved1;
    request.param2 = reserved2;
    request.query = query;
    const Outcome out = call(request);
    if (!out.reply)
        return out.failure;
    answer = out.reply->answer.value_or(QString());
    return out.reply->result;
}

ExternalDriver::Outcome ExternalDriver::call(DriverProtocol::Request request)
{
    const bool opening =
        request.op == QLatin1String("PreOpenFlag") || request.op == QLatin1String("OpenPort");
    if (!ensureRunning())
        return {std::nullopt, ResultCode::CannotPerform};
    // A driver started again has no port open: the one it had is opened first.
    if (m_openPort && !opening && m_link != Link::Ready) {
        if (!exchange(flagRequest(false)).reply)
            return {std::nullopt, ResultCode::CannotPerform};
        const Outcome reopened = exchange(openRequest(*m_openPort));
        if (!reopened.reply || reopened.reply->result != 0) {
            if (reopened.reply)
                fail(QStringLiteral("started again, but did not open port %1 again (result %2)")
                         .arg(*m_openPort)
                         .arg(reopened.reply->result));
            return {std::nullopt, ResultCode::CannotPerform};
        }
    }
    m_link = Link::Ready;
    Outcome out = exchange(request);
    if (out.reply)
        succeeded();
    return out;
}

bool ExternalDriver::ensureRunning()
{
    if (m_link >= Link::Greeted && m_broken.isEmpty())
        return true;
    stop();
    if (m_started)
        ++m_restarts;
    // A driver that keeps failing is given a growing pause before it is started again.
    if (!m_restartNotBefore.hasExpired()) {
        if (m_waits->serveEventsUntil(static_cast<int>(m_restartNotBefore.remainingTime()), {}) ==
            InterruptibleWait::End::Interrupted)
            return false;
    }
    return start();
}

bool ExternalDriver::start()
{
    if (!m_options.startError.isEmpty()) {
        fail(QStringLiteral("cannot be started: %1").arg(m_options.startError));
        return false;
    }
    // Parented too, so that one given up with deleteLater() goes with us at the latest.
    m_process = std::make_unique<QProcess>(this);
    m_process->setWorkingDirectory(m_options.workingFolder);
    m_process->setProgram(m_options.program);
    m_process->setArguments(m_options.arguments);
    m_output.clear();
    m_errorOutput.restart();
    m_link = Link::Greeting;
    m_broken.clear();
    connect(m_process.get(), &QProcess::readyReadStandardError, this, &ExternalDriver::readErrors);
    connect(m_process.get(), &QProcess::finished, this,
            [this](int code, QProcess::ExitStatus status) {
                readOutput();
                readErrors();
                brokeDown(status == QProcess::CrashExit
                              ? QStringLiteral("crashed")
                              : QStringLiteral("ended with exit status %1").arg(code));
            });
    // The end of its output while it still runs is a dead driver too; an exit that closes it
    // says more (its status), so an exit under way is left to say it.
    QProcess* process = m_process.get();
    connect(&m_child, &ChildProcess::outputReady, this, &ExternalDriver::readOutput,
            Qt::UniqueConnection);
    connect(&m_child, &ChildProcess::outputClosed, process, [this, process] {
        QTimer::singleShot(kOutputClosedGraceMs, process, [this, process] {
            if (m_process.get() == process && !m_child.hasEnded())
                brokeDown(QStringLiteral("closed its standard output"));
        });
    });
    m_child.prepare(*m_process);
    m_process->start();
    m_started = true;
    m_child.started(*m_process);
    if (!m_process->waitForStarted(m_options.startTimeoutMs)) {
        fail(QStringLiteral("cannot be started: %1").arg(m_process->errorString()));
        return false;
    }
    m_waiting = true;
    const auto end = m_waits->serveEventsUntil(m_options.startTimeoutMs, [this] {
        return m_link == Link::Greeted || !m_broken.isEmpty();
    });
    m_waiting = false;
    if (m_link == Link::Greeted)
        return true;
    if (end == InterruptibleWait::End::Interrupted)
        fail(QStringLiteral("start given up: the program is ending"), false);
    else if (!m_broken.isEmpty())
        fail(m_broken);
    else
        fail(QStringLiteral("did not greet within %1").arg(seconds(m_options.startTimeoutMs)));
    return false;
}

ExternalDriver::Outcome ExternalDriver::exchange(const DriverProtocol::Request& request)
{
    DriverProtocol::Request numbered = request;
    numbered.id = m_nextId++;
    m_awaited = numbered.id;
    m_reply.reset();
    m_process->write(DriverProtocol::encode(numbered));
    // Written now rather than at the next turn of the event loop: a turn less for each call.
    m_process->waitForBytesWritten(0);
    m_waiting = true;
    const auto end = m_waits->serveEventsUntil(
        m_options.timeoutMs, [this] { return m_reply.has_value() || !m_broken.isEmpty(); });
    // An answer already in the pipe is an answer, whatever the clock says: the event that
    // would have read it may simply not have had its turn yet.
    if (end == InterruptibleWait::End::TimedOut && !m_reply)
        readOutput();
    m_waiting = false;
    m_awaited = 0;
    if (m_reply)
        return {std::exchange(m_reply, std::nullopt), 0};
    if (!m_broken.isEmpty()) {
        fail(m_broken);
        return {std::nullopt, ResultCode::CannotPerform};
    }
    if (end == InterruptibleWait::End::Interrupted)
        fail(QStringLiteral("%1 given up: the program is ending").arg(request.op), false);
    else
        fail(QStringLiteral("did not answer %1 within %2")
                 .arg(request.op, seconds(m_options.timeoutMs)));
    return {std::nullopt, ResultCode::NoAnswer};
}

void ExternalDriver::brokeDown(const QString& why)
{
    if (!m_broken.isEmpty())
        return;
    m_broken = why;
    if (m_waiting)
        m_waits->wake(); // the call under way fails with it
    else
        fail(why); // between calls: reported at once, started again for the next call
}

void ExternalDriver::stop()
{
    if (!m_process)
        return;
    m_process->disconnect(this);
    m_child.end();
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(1000);
    }
    // It may be telling us something right now: it goes once that is over.
    m_process.release()->deleteLater();
    m_link = Link::Down;
}

void ExternalDriver::fail(const QString& why, bool countsAsFailure)
{
    stop();
    const QString& name = m_name;
    if (!countsAsFailure) {
        qWarning("Driver %s: %s", qPrintable(name), qPrintable(why));
        return;
    }
    ++m_failures;
    const int pause = m_failures <= 1
                          ? 0
                          : std::min(m_options.maxRestartPauseMs,
                                     m_options.firstRestartPauseMs << std::min(m_failures - 2, 16));
    m_restartNotBefore = QDeadlineTimer(pause);
    qWarning("Driver %s: %s; started again %s", qPrintable(name), qPrintable(why),
             pause == 0 ? "for the next call"
                        : qPrintable(QStringLiteral("in %1 at the earliest").arg(seconds(pause))));
    const QString shown = name + QStringLiteral(": ") + why;
    if (shown != m_shownFault) {
        m_shownFault = shown;
        emit faultChanged(shown);
    }
}

void ExternalDriver::succeeded()
{
    m_failures = 0;
    if (m_shownFault.isEmpty())
        return;
    m_shownFault.clear();
    qWarning("Driver %s works again", qPrintable(m_name));
    emit faultChanged(QString());
}

void ExternalDriver::readOutput()
{
    if (!m_process)
        return;
    m_output += m_child.readOutput();
    while (m_broken.isEmpty()) {
        const qsizetype end = m_output.indexOf('\n');
        if (end < 0) {
            if (m_output.size() > DriverProtocol::kMaxLineBytes)
                brokeDown(QStringLiteral("wrote a line longer than the protocol allows"));
            return;
        }
        QByteArray line = m_output.left(end);
        m_output.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.trimmed().isEmpty())
            handleLine(line);
    }
    m_output.clear();
}

void ExternalDriver::handleLine(const QByteArray& line)
{
    using Kind = DriverProtocol::Message::Kind;
    QString why;
    const auto message = DriverProtocol::decodeMessage(line, &why);
    if (!message) {
        brokeDown(QStringLiteral("wrote something that is not the protocol (%1): %2")
                      .arg(why, QString::fromUtf8(line.left(80))));
        return;
    }
    if (m_link == Link::Greeting) {
        if (message->kind != Kind::Hello)
            brokeDown(QStringLiteral("did not begin with the protocol's greeting"));
        else if (message->version != DriverProtocol::kVersion)
            brokeDown(QStringLiteral("speaks protocol version %1, this program version %2")
                          .arg(message->version)
                          .arg(DriverProtocol::kVersion));
        else
            m_link = Link::Greeted;
        m_waits->wake();
        return;
    }
    switch (message->kind) {
    case Kind::Hello:
        brokeDown(QStringLiteral("greeted twice"));
        return;
    case Kind::Answer:
        if (message->id != m_awaited) {
            brokeDown(QStringLiteral("answered request %1, which was not the one asked")
                          .arg(message->id));
            return;
        }
        m_reply = Reply{message->result, message->answer};
        m_waits->wake();
        return;
    case Kind::StatusUpdate:
        emit StatusUpdate(message->status);
        return;
    case Kind::DumpData:
        emit DumpData(0, message->count, message->text);
        return;
    }
}

void ExternalDriver::readErrors()
{
    if (m_process)
        m_errorOutput.take(m_name, m_process->readAllStandardError());
}
