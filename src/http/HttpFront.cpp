#include "HttpFront.h"

#include "HttpConnection.h"
#include "LivePage.h"
#include "fronts/BodyText.h"
#include "server/DriverServer.h"

#include <QUrlQuery>

namespace {

QString fileNameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

} // namespace

HttpFront::HttpFront(HttpConfig config, DriverServer& server, JobDesk& desk, Options options,
                     QObject* parent)
    : QObject(parent), m_config(std::move(config)), m_server(server), m_desk(desk),
      m_options(std::move(options))
{
    m_options.limits.maxBodyBytes = m_config.maxBodyBytes;
    m_gate = new ConnectionGate(m_options.limits, this);
    m_gate->setHandler(this);
    m_newsTimer.setSingleShot(true);
    m_newsTimer.setInterval(0);
    connect(&m_newsTimer, &QTimer::timeout, this, &HttpFront::releaseNews);
    connect(&server, &DriverServer::verdictLeft, this, &HttpFront::verdictLeft);
    connect(&server, &DriverServer::fileStarted, this, &HttpFront::newsHappened);
    connect(&desk, &JobDesk::jobDone, this, [this](const QString& id) {
        if (const JobStore::Job* job = m_desk.find(id))
            releaseJob(id, *job);
    });
    connect(&server.status(), &StatusModel::changed, this, &HttpFront::newsHappened);
}

HttpFront::~HttpFront()
{
    // Answers held back are dropped, and the connections go while the rest of the front is
    // whole: a connection's end would otherwise reach a list already gone.
    for (auto& [id, held] : m_held) {
        disconnect(held.connectionGone);
        delete held.timer;
    }
    m_held.clear();
    delete m_gate;
}

bool HttpFront::start(QString& error)
{
    if (!m_gate->listen(m_config.address, m_config.port)) {
        error = QStringLiteral("cannot listen on %1: %2")
                    .arg(m_config.listenText(), m_gate->errorString());
        return false;
    }
    return true;
}

QString HttpFront::pageUrl() const
{
    QHostAddress address = m_config.address;
    if (address == QHostAddress::Any || address == QHostAddress::AnyIPv4)
        address = QHostAddress::LocalHost;
    else if (address == QHostAddress::AnyIPv6)
        address = QHostAddress::LocalHostIPv6;
    HttpConfig shown = m_config;
    shown.address = address;
    return QStringLiteral("http://%1/#token=%2")
        .arg(shown.listenText(), QString::fromLatin1(m_config.token));
}

HttpFront::Answer HttpFront::error(int status, const QString& text, int row)
{
    QJsonObject e{{"status", status}, {"text", text}};
    if (row > 0)
        e.insert("row", row);
    return {status, jsonBody({{"error", e}}), "application/json", {}};
}

HttpFront::Answer HttpFront::withCommonHeaders(Answer answer, const QByteArray& origin) const
{
    HttpAnswer common;
    common.header("Cache-Control", "no-store");
    common.header("X-Content-Type-Options", "nosniff");
    common.header("Referrer-Policy", "no-referrer");
    if (!origin.isEmpty() && m_config.allowOrigins.contains(QString::fromLatin1(origin))) {
        common.header("Access-Control-Allow-Origin", origin);
        common.header("Access-Control-Expose-Headers", "Location, Retry-After");
    }
    common.header("Vary", "Origin");
    answer.headers = common.headers + answer.headers;
    return answer;
}

void HttpFront::send(HttpReply& reply, const Answer& answer, const QByteArray& origin) const
{
    reply.send(withCommonHeaders(answer, origin));
}

std::optional<HttpFront::Answer> HttpFront::judge(const HttpRequest& head)
{
    auto given = [&](const Answer& a, const QByteArray& shownOrigin) {
        return std::optional(withCommonHeaders(a, shownOrigin));
    };
    if (head.count("Host") != 1 && head.versionMinor >= 1)
        return given(error(400, QStringLiteral("a request names one Host")), {});
    const QByteArray host = head.value("Host");
    const QByteArray origin = head.value("Origin");
    // A target in absolute form names its host too, and that is the one the request is for.
    if (!m_rules.hostAllowed(host) ||
        (!head.targetHost.isEmpty() && !m_rules.hostAllowed(head.targetHost)))
        return given(error(421, QStringLiteral("the Host header must name this machine's "
                                               "address as it listens, or localhost")),
                     {});
    if (!m_rules.originAllowed(origin, host))
        return given(error(403, QStringLiteral("this origin is not allowed")), {});
    if (auto a = page(head, origin))
        return given(*a, origin);
    // The token goes in the Authorization header only: an address is logged and shown.
    if (m_rules.tokenInQuery(QUrlQuery(head.url)))
        return given(error(400, QStringLiteral("the token goes in the Authorization header, "
                                               "never in the address")),
                     origin);
    if (!m_rules.bearsToken(head.value("Authorization"))) {
        Answer a = error(401, QStringLiteral("a valid Authorization: Bearer token is needed"));
        a.header("WWW-Authenticate", "Bearer");
        return given(a, origin);
    }
    return std::nullopt;
}

// What is answered without the token: the CORS preflight and the live page's files.
std::optional<HttpFront::Answer> HttpFront::page(const HttpRequest& head,
                                                 const QByteArray& origin) const
{
    const QString path = head.url.path();
    if (head.method == "OPTIONS") {
        if (!m_rules.listed(origin))
            return error(403, QStringLiteral("this origin is not allowed"));
        Answer a{204, {}, "text/plain", {}};
        a.headers = {
            {"Access-Control-Allow-Methods", "GET, POST"},
            {"Access-Control-Allow-Headers", "Authorization, Content-Type, Idempotency-Key"},
            {"Access-Control-Max-Age", "600"}};
        if (head.value("Access-Control-Request-Private-Network").toLower() == "true")
            a.header("Access-Control-Allow-Private-Network", "true");
        return a;
    }
    if (path.startsWith(QStringLiteral("/v1/")) || path == u"/metrics")
        return std::nullopt;
    const auto file = livePageFile(path, m_server.settings().languageOffset());
    if (!file)
        return error(404, QStringLiteral("nothing here"));
    if (head.method != "GET" && head.method != "HEAD") {
        Answer a = error(405, QStringLiteral("only GET here"));
        a.header("Allow", "GET");
        return a;
    }
    Answer a{200, file->body, file->contentType, {}};
    a.headers = {{"Content-Security-Policy", kLivePagePolicy}, {"X-Frame-Options", "DENY"}};
    return a;
}

void HttpFront::serve(HttpRequest& request, HttpReply reply)
{
    const QString path = request.url.path();
    const QByteArray& method = request.method;
    const QByteArray origin = request.value("Origin");
    const QUrlQuery query(request.url);

    auto onlyMethod = [&](const QByteArray& allowed) {
        if (method == allowed)
            return true;
        Answer a = error(405, QStringLiteral("only %1 here").arg(QString::fromLatin1(allowed)));
        a.header("Allow", allowed);
        send(reply, a, origin);
        return false;
    };

    if (path == u"/metrics") {
        if (onlyMethod("GET"))
            send(reply, {200, metricsText(metricsSample()), kMetricsContentType, {}}, origin);
    } else if (path == u"/v1/files") {
        if (onlyMethod("POST"))
            postFile(request, reply, origin);
    } else if (path.startsWith(u"/v1/files/")) {
        if (!onlyMethod("GET"))
            return;
        const QString id = path.mid(10);
        const JobStore::Job* job = JobStore::isJobId(id) ? m_desk.find(id) : nullptr;
        send(reply, job ? jobAnswer(*job, 200) : error(404, QStringLiteral("no such job")), origin);
    } else if (path == u"/v1/status") {
        if (onlyMethod("GET"))
            send(reply, {200, jsonBody(statusJson()), "application/json", {}}, origin);
    } else if (path == u"/v1/events") {
        if (!onlyMethod("GET"))
            return;
        bool ok = false;
        const quint64 after = query.queryItemValue(QStringLiteral("after")).toULongLong(&ok);
        if (ok && after == m_newsSeq)
            hold(reply, origin, QString(), after, m_options.eventsHoldMs);
        else
            send(reply, {200, jsonBody(newsJson()), "application/json", {}}, origin);
    } else {
        send(reply, error(404, QStringLiteral("nothing here")), origin);
    }
}

void HttpFront::postFile(HttpRequest& request, HttpReply& reply, const QByteArray& origin)
{
    auto say = [&](const Answer& a) { send(reply, a, origin); };
    QString why;
    const auto charset = bodyCharset(request.value("Content-Type"), why);
    if (!charset) {
        say(error(415, why));
        return;
    }
    if (utf8MarkWithoutCharset(request.value("Content-Type"), request.body)) {
        say(error(415, QStringLiteral("the body begins with UTF-8's byte order mark: send it as "
                                      "text/plain; charset=utf-8")));
        return;
    }
    const QUrlQuery query(request.url);
    int wait = kDefaultWaitSeconds;
    if (query.hasQueryItem(QStringLiteral("wait"))) {
        const QString text = query.queryItemValue(QStringLiteral("wait"));
        const auto seconds = plainNumber(text, 0, kMaxWaitSeconds);
        wait = int(seconds.value_or(0));
        if (!seconds) {
            say(error(400, QStringLiteral("wait is a number of seconds from 0 to 120")));
            return;
        }
    }
    QByteArray key;
    int keys = 0;
    for (const auto& [name, value] : request.headers) {
        if (name.compare("Idempotency-Key", Qt::CaseInsensitive) == 0) {
            key = value.trimmed();
            ++keys;
        }
    }
    if (keys > 1 || (keys == 1 && (key.isEmpty() || key.size() > 255 ||
                                   !isVisibleAscii(QString::fromLatin1(key))))) {
        say(error(400, QStringLiteral("Idempotency-Key must be 1 to 255 visible characters")));
        return;
    }
    const CommandFileBody body = commandFileBody(request.body, *charset);
    if (body.badRow > 0) {
        say(error(422, body.error, body.badRow));
        return;
    }
    using Kind = JobDesk::Submission::Kind;
    const JobDesk::Submission submitted = m_desk.submit(
        QString::fromLatin1(key), body.bytes, {},
        [this, reply, origin, wait](const JobStore::Job* job, const QString& why) mutable {
            answerMade(reply, origin, wait, job, why);
            newsHappened();
        });
    switch (submitted.kind) {
    case Kind::OtherBody:
        say(error(422, QStringLiteral("this Idempotency-Key was used for another body")));
        break;
    case Kind::Existing:
        answerMade(reply, origin, wait, submitted.job, {});
        break;
    case Kind::TooMany: {
        Answer a = error(503, QStringLiteral("too many jobs are waiting"));
        a.header("Retry-After", "5");
        say(a);
        break;
    }
    case Kind::Queued:
        break;
    }
}

void HttpFront::answerMade(HttpReply& reply, const QByteArray& origin, int wait,
                           const JobStore::Job* job, const QString& why)
{
    // A client that went does not cancel its job; there is only nobody to answer.
    if (!reply.pending())
        return;
    if (!job) {
        Answer a = error(503, why);
        a.header("Retry-After", "5");
        send(reply, a, origin);
    } else if (job->done || wait == 0) {
        send(reply, jobAnswer(*job, job->done ? 200 : 202), origin);
    } else {
        hold(reply, origin, job->id, 0, wait * 1000);
    }
}

HttpFront::Answer HttpFront::jobAnswer(const JobStore::Job& job, int status) const
{
    Answer a{status, jsonBody(m_desk.jobJson(job)), "application/json", {}};
    if (status == 202)
        a.header("Location", "/v1/files/" + job.id.toLatin1());
    return a;
}

void HttpFront::verdictLeft(const FileVerdict& verdict)
{
    if (verdict.code == 0) {
        ++m_filesSent;
        m_sinceLastSent.start();
    } else {
        ++m_filesFailed;
    }
    QJsonObject shown{{"time", verdict.time.toString(Qt::ISODate)},
                      {"file", fileNameOf(verdict.path)},
                      {"outcome", verdict.code == 0 ? "sent" : "failed"}};
    if (verdict.code != 0) {
        shown.insert("error", verdict.text);
        shown.insert("row", verdict.row);
    }
    m_verdicts.push_front(shown);
    if (m_verdicts.size() > kVerdictsShown)
        m_verdicts.pop_back();
    newsHappened();
}
