// The HTTP front's answers held back: a job's verdict awaited (wait=) and the page's news. Each
// is known by its number only, since it may be released inside a wait for the register.
#include "HttpConnection.h"
#include "HttpFront.h"

void HttpFront::hold(HttpReply reply, const QByteArray& origin, const QString& jobId, quint64 after,
                     int ms)
{
    HttpConnection* connection = reply.connection();
    if (!connection)
        return;
    const quint64 id = ++m_lastHeld;
    Held& held =
        m_held.emplace(id, Held{reply, origin, jobId, after, new QTimer(this), {}}).first->second;
    held.timer->setSingleShot(true);
    connect(held.timer, &QTimer::timeout, this, [this, id] { heldTimedOut(id); });
    // A client that goes does not cancel its job; only its answer is dropped.
    held.connectionGone =
        connect(connection, &HttpConnection::closed, this, [this, id] { drop(id); });
    held.timer->start(ms);
}

void HttpFront::heldTimedOut(quint64 id)
{
    const auto it = m_held.find(id);
    if (it == m_held.end())
        return;
    if (it->second.jobId.isEmpty()) {
        release(id, {200, jsonBody(newsJson()), "application/json", {}});
    } else if (const JobStore::Job* job = m_desk.find(it->second.jobId)) {
        release(id, jobAnswer(*job, job->done ? 200 : 202));
    } else {
        release(id, error(404, QStringLiteral("no such job")));
    }
}

void HttpFront::release(quint64 id, const Answer& answer)
{
    const auto it = m_held.find(id);
    if (it == m_held.end())
        return;
    Held& held = it->second;
    send(held.reply, answer, held.origin);
    drop(id);
}

void HttpFront::drop(quint64 id)
{
    const auto it = m_held.find(id);
    if (it == m_held.end())
        return;
    // Stopped and cut off now: a deletion asked for here waits for the event loop this call
    // came from, and a wait for the register in between must not see the timer fire.
    it->second.timer->stop();
    it->second.timer->disconnect(this);
    it->second.timer->deleteLater();
    disconnect(it->second.connectionGone);
    m_held.erase(it);
}

std::vector<quint64> HttpFront::heldIds() const
{
    std::vector<quint64> ids;
    ids.reserve(m_held.size());
    for (const auto& entry : m_held)
        ids.push_back(entry.first);
    return ids;
}

void HttpFront::releaseJob(const QString& id, const JobStore::Job& done)
{
    const Answer answer = jobAnswer(done, 200);
    for (const quint64 held : heldIds()) {
        const auto it = m_held.find(held);
        if (it != m_held.end() && it->second.jobId == id)
            release(held, answer);
    }
}

void HttpFront::newsHappened()
{
    ++m_newsSeq;
    if (!m_newsTimer.isActive())
        m_newsTimer.start();
}

void HttpFront::releaseNews()
{
    const Answer news{200, jsonBody(newsJson()), "application/json", {}};
    for (const quint64 held : heldIds()) {
        const auto it = m_held.find(held);
        if (it != m_held.end() && it->second.jobId.isEmpty() && it->second.after != m_newsSeq)
            release(held, news);
    }
}
