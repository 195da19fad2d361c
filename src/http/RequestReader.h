#pragma once

#include "HttpMessage.h"

#include <memory>

struct http_parser;

// The memory every body being read may take together, whatever the number of connections.
struct BodyBudget
{
    qint64 limit = 64 * 1024 * 1024;
    qint64 used = 0;
    bool take(qint64 bytes)
    {
        if (bytes > limit - used)
            return false;
        used += bytes;
        return true;
    }
    void give(qint64 bytes) { used -= bytes; }
};

// Reads one connection's requests with http-parser, one at a time: it stops when a request's
// head is in, so that who asks is judged before a byte of body is read, and again when the
// request is whole, so that the next one (pipelined behind it) waits for its answer. What the
// parser lets through and HTTP/1.1 does not (another version, a coding other than chunked, a
// space in a header's name, too many headers, a body over the limit in any framing) fails
// here, with the status to answer.
class RequestReader
{
public:
    struct Limits
    {
        qint64 maxBodyBytes = 16 * 1024 * 1024;
        qsizetype maxHeaderBytes = 16 * 1024;
        int maxHeaders = 100;
    };
    enum class Stage { Head, HeadDone, Body, Complete, Failed };
    struct Failure
    {
        int status = 0;
        QByteArray text;
    };

    explicit RequestReader(Limits limits, BodyBudget* budget = nullptr);
    ~RequestReader();
    RequestReader(const RequestReader&) = delete;
    RequestReader& operator=(const RequestReader&) = delete;

    // Takes what it may of data and says how much it took: it stops at HeadDone, Complete and
    // Failed, and reads nothing in those stages.
    qsizetype read(const char* data, qsizetype size);
    Stage stage() const { return m_stage; }
    // A byte of the request being read has come.
    bool started() const { return m_started; }
    const Failure& failure() const { return m_failure; }
    HttpRequest& request() { return m_request; }
    // The connection cannot carry another request after this one (an upgrade, CONNECT).
    bool lastOnConnection() const { return m_last; }

    // After HeadDone: read the body (the announced length is taken from the budget at once).
    void readBody();
    // After Complete: ready for the next request; the body's share of the budget is given back.
    void next();

private:
    struct Parser;
    friend struct Parser;
    void fail(int status, const QByteArray& text);
    bool headComplete(http_parser* p);
    bool reserve(qint64 total);
    void releaseBudget();

    Limits m_limits;
    BodyBudget* m_budget;
    std::unique_ptr<Parser> m_parser;
    Stage m_stage = Stage::Head;
    HttpRequest m_request;
    Failure m_failure;
    bool m_started = false;
    bool m_last = false;
    qsizetype m_headBytes = 0;
    qint64 m_reserved = 0;
};
