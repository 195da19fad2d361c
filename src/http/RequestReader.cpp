#include "RequestReader.h"

#include <http_parser.h>

namespace {

bool isTokenChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

constexpr qint64 kBodyStep = 64 * 1024;

} // namespace

struct RequestReader::Parser
{
    http_parser parser;
    http_parser_settings settings;
    RequestReader* reader = nullptr;
    bool inValue = false;  // the last piece was a header's value
    bool trailers = false; // past the last chunk: trailer fields, read and dropped
    int fields = 0;

    static RequestReader& of(http_parser* p) { return *static_cast<Parser*>(p->data)->reader; }
    static Parser& self(http_parser* p) { return *static_cast<Parser*>(p->data); }

    Parser()
    {
        http_parser_settings_init(&settings);
        settings.on_message_begin = [](http_parser* p) {
            of(p).m_started = true;
            return 0;
        };
        settings.on_url = [](http_parser* p, const char* at, size_t length) {
            of(p).m_request.target.append(at, qsizetype(length));
            return 0;
        };
        settings.on_header_field = [](http_parser* p, const char* at, size_t length) {
            Parser& s = self(p);
            RequestReader& r = of(p);
            if (s.inValue || s.fields == 0)
                ++s.fields;
            if (s.fields > r.m_limits.maxHeaders) {
                r.fail(431, "a request may have at most " +
                                QByteArray::number(r.m_limits.maxHeaders) + " header fields");
                return 1;
            }
            if (!std::all_of(at, at + length, isTokenChar)) {
                r.fail(400, "a header's name may hold no space or other separator (is there a "
                            "space before its colon?)");
                return 1;
            }
            if (!s.trailers) {
                if (s.inValue || r.m_request.headers.isEmpty())
                    r.m_request.headers.append(QPair<QByteArray, QByteArray>());
                r.m_request.headers.last().first.append(at, qsizetype(length));
            }
            s.inValue = false;
            return 0;
        };
        settings.on_header_value = [](http_parser* p, const char* at, size_t length) {
            Parser& s = self(p);
            if (!s.trailers)
                of(p).m_request.headers.last().second.append(at, qsizetype(length));
            s.inValue = true;
            return 0;
        };
        settings.on_headers_complete = [](http_parser* p) {
            RequestReader& r = of(p);
            if (!r.headComplete(p))
                return -1;
            r.m_stage = Stage::HeadDone;
            http_parser_pause(p, 1);
            return 0;
        };
        settings.on_body = [](http_parser* p, const char* at, size_t length) {
            RequestReader& r = of(p);
            const qint64 size = r.m_request.body.size() + qint64(length);
            if (size > r.m_limits.maxBodyBytes) {
                r.fail(413, "the body passes the limit of " +
                                QByteArray::number(r.m_limits.maxBodyBytes / 1024) + " KiB");
                return 1;
            }
            if (!r.reserve(size))
                return 1;
            r.m_request.body.append(at, qsizetype(length));
            return 0;
        };
        settings.on_chunk_header = [](http_parser* p) {
            if (p->content_length == 0) {
                Parser& s = self(p);
                s.trailers = true;
                s.fields = 0;
                s.inValue = false;
            }
            return 0;
        };
        settings.on_message_complete = [](http_parser* p) {
            RequestReader& r = of(p);
            r.m_stage = Stage::Complete;
            r.m_last = r.m_last || p->upgrade;
            http_parser_pause(p, 1);
            return 0;
        };
    }

    void reset(RequestReader* owner)
    {
        http_parser_init(&parser, HTTP_REQUEST);
        parser.data = this;
        reader = owner;
        inValue = false;
        trailers = false;
        fields = 0;
    }
};

RequestReader::RequestReader(Limits limits, BodyBudget* budget)
    : m_limits(limits), m_budget(budget), m_parser(std::make_unique<Parser>())
{
    m_parser->reset(this);
}

RequestReader::~RequestReader()
{
    releaseBudget();
}

void RequestReader::fail(int status, const QByteArray& text)
{
    if (m_stage != Stage::Failed)
        m_failure = {status, text};
    m_stage = Stage::Failed;
}

bool RequestReader::reserve(qint64 total)
{
    if (total <= m_reserved)
        return true;
    // A chunked body takes its share in steps; an announced length at once, exactly.
    const qint64 want =
        m_request.contentLength >= 0
            ? total
            : std::min(std::max(total, m_reserved + kBodyStep), m_limits.maxBodyBytes);
    if (m_budget && !m_budget->take(want - m_reserved)) {
        fail(503, "the front is receiving as many bodies as it may hold; try again");
        return false;
    }
    m_reserved = want;
    return true;
}

void RequestReader::releaseBudget()
{
    if (m_budget)
        m_budget->give(m_reserved);
    m_reserved = 0;
}

bool RequestReader::headComplete(http_parser* p)
{
    HttpRequest& r = m_request;
    if (p->http_major != 1) {
        fail(505, "only HTTP/1.1 and HTTP/1.0 are spoken here");
        return false;
    }
    r.versionMinor = p->http_minor;
    r.method = http_method_str(http_method(p->method));
    r.keepAlive = http_should_keep_alive(p) != 0;
    if (r.count("Transfer-Encoding") > 0) {
        const auto& codings = r.value("Transfer-Encoding").trimmed();
        if (r.count("Transfer-Encoding") > 1 || codings.compare("chunked", Qt::CaseInsensitive)) {
            fail(400, "the only Transfer-Encoding taken is chunked");
            return false;
        }
    }
    const bool chunked = (p->flags & F_CHUNKED) != 0;
    if (r.count("Content-Length") > 1 || (chunked && r.count("Content-Length") > 0)) {
        fail(400, "the body's length is not clear");
        return false;
    }
    if (r.count("Content-Length") == 1)
        r.contentLength = qint64(p->content_length);
    r.announcesBody = chunked || r.contentLength > 0;
    r.expectsContinue =
        r.value("Expect").trimmed().compare("100-continue", Qt::CaseInsensitive) == 0;
    if (p->method == HTTP_CONNECT) {
        fail(405, "CONNECT is not served here");
        return false;
    }
    // The target: origin form, or absolute form whose host is judged like a Host header.
    QByteArray local = r.target;
    if (local == "*") {
        r.url = QUrl(QStringLiteral("*"));
        return true;
    }
    if (!local.startsWith('/')) {
        const qsizetype scheme = local.indexOf("://");
        if (scheme < 0 || local.left(scheme).compare("http", Qt::CaseInsensitive) != 0) {
            fail(400, "a request's target is a path, or an http address");
            return false;
        }
        const qsizetype from = scheme + 3;
        qsizetype to = from;
        while (to < local.size() && local[to] != '/' && local[to] != '?')
            ++to;
        r.targetHost = local.mid(from, to - from);
        if (r.targetHost.isEmpty() || r.targetHost.contains('@')) {
            fail(400, "a request's target names a host and nothing else before its path");
            return false;
        }
        local = local.mid(to);
        if (!local.startsWith('/'))
            local.prepend('/');
    }
    r.url = QUrl::fromEncoded(local);
    if (!r.url.isValid()) {
        fail(400, "the request's target is not a valid path");
        return false;
    }
    return true;
}

qsizetype RequestReader::read(const char* data, qsizetype size)
{
    if (m_stage == Stage::HeadDone || m_stage == Stage::Complete || m_stage == Stage::Failed)
        return 0;
    qsizetype slice = size;
    if (m_stage == Stage::Head)
        slice = std::min<qsizetype>(size, m_limits.maxHeaderBytes + 1 - m_headBytes);
    const qsizetype taken =
        qsizetype(http_parser_execute(&m_parser->parser, &m_parser->settings, data, size_t(slice)));
    const http_errno error = HTTP_PARSER_ERRNO(&m_parser->parser);
    if (m_stage == Stage::Head || m_stage == Stage::HeadDone)
        m_headBytes += taken;
    if (m_stage == Stage::Failed)
        return taken;
    if (error != HPE_OK && error != HPE_PAUSED) {
        switch (error) {
        case HPE_HEADER_OVERFLOW:
            fail(431, "the request's headers pass 16 KiB");
            break;
        case HPE_INVALID_VERSION:
            fail(505, "only HTTP/1.1 and HTTP/1.0 are spoken here");
            break;
        case HPE_INVALID_TRANSFER_ENCODING:
            fail(400, "the only Transfer-Encoding taken is chunked");
            break;
        case HPE_UNEXPECTED_CONTENT_LENGTH:
        case HPE_INVALID_CONTENT_LENGTH:
            fail(400, "the body's length is not clear");
            break;
        default:
            fail(400, QByteArray("the request is not HTTP/1.1 as it may be written: ") +
                          http_errno_description(error));
        }
        return taken;
    }
    if (m_stage == Stage::Head && m_headBytes > m_limits.maxHeaderBytes)
        fail(431, "the request's headers pass 16 KiB");
    return taken;
}

void RequestReader::readBody()
{
    if (m_stage != Stage::HeadDone)
        return;
    m_stage = Stage::Body;
    // Who asks is judged first: the length is refused only to one who may send a body.
    if (m_request.contentLength > m_limits.maxBodyBytes) {
        fail(413, "the body passes the limit of " +
                      QByteArray::number(m_limits.maxBodyBytes / 1024) + " KiB");
        return;
    }
    if (m_request.contentLength > 0) {
        if (!reserve(m_request.contentLength))
            return;
        m_request.body.reserve(m_request.contentLength);
    }
    http_parser_pause(&m_parser->parser, 0);
}

void RequestReader::next()
{
    releaseBudget();
    m_request = HttpRequest();
    m_failure = {};
    m_started = false;
    m_headBytes = 0;
    m_stage = Stage::Head;
    const bool last = m_last;
    m_parser->reset(this);
    m_last = last;
}
