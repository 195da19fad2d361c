#include "DriverProtocol.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <limits>

namespace DriverProtocol {

namespace {

QByteArray line(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// Reads the fields of one object and remembers the first thing wrong with them.
class Fields
{
public:
    explicit Fields(const QJsonObject& object) : m_object(object) {}

    bool has(const char* key) const { return m_object.contains(QLatin1String(key)); }

    qint64 integer(const char* key, qint64 min, qint64 max)
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        const double number = value.toDouble(std::nan(""));
        if (!value.isDouble() || number != std::floor(number) || number < double(min) ||
            number > double(max)) {
            fail(QStringLiteral("\"%1\" must be a whole number from %2 to %3")
                     .arg(QLatin1String(key))
                     .arg(min)
                     .arg(max));
            return 0;
        }
        return static_cast<qint64>(number);
    }
    qint32 int32(const char* key)
    {
        return static_cast<qint32>(
            integer(key, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
    }
    QString string(const char* key)
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (!value.isString())
            fail(QStringLiteral("\"%1\" must be a string").arg(QLatin1String(key)));
        return value.toString();
    }
    bool boolean(const char* key)
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (!value.isBool())
            fail(QStringLiteral("\"%1\" must be true or false").arg(QLatin1String(key)));
        return value.toBool();
    }
    void fail(const QString& why)
    {
        if (m_why.isEmpty())
            m_why = why;
    }
    bool ok() const { return m_why.isEmpty(); }
    const QString& why() const { return m_why; }

private:
    const QJsonObject& m_object;
    QString m_why;
};

std::optional<QJsonObject> object(const QByteArray& text, QString* why)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        if (why)
            *why = error.error != QJsonParseError::NoError
                       ? QStringLiteral("not JSON (%1)").arg(error.errorString())
                       : QStringLiteral("not a JSON object");
        return std::nullopt;
    }
    return document.object();
}

template <typename T> std::optional<T> checked(const T& value, const Fields& fields, QString* why)
{
    if (fields.ok())
        return value;
    if (why)
        *why = fields.why();
    return std::nullopt;
}

constexpr qint64 kMaxId = qint64(1) << 53; // exact in every JSON reader

} // namespace

QByteArray hello()
{
    return line({{"protocol", kName}, {"version", kVersion}});
}

QByteArray encode(const Request& r)
{
    QJsonObject o{{"id", r.id}, {"op", r.op}};
    if (r.op == QLatin1String("PreOpenFlag")) {
        o.insert("flag", r.flag);
    } else if (r.op == QLatin1String("OpenPort")) {
        o.insert("port", r.port);
        o.insert("speed", r.speed);
    } else if (r.op == QLatin1String("SendCommand")) {
        o.insert("row", r.row);
        o.insert("mode", r.mode);
        o.insert("line", r.line);
    } else if (r.op == QLatin1String("SendQuery")) {
        o.insert("param1", r.param1);
        o.insert("param2", r.param2);
        o.insert("query", r.query);
    }
    return line(o);
}

QByteArray encode(const Message& m)
{
    switch (m.kind) {
    case Message::Kind::Hello:
        return hello();
    case Message::Kind::Answer: {
        QJsonObject o{{"id", m.id}, {"result", m.result}};
        if (m.answer)
            o.insert("answer", *m.answer);
        return line(o);
    }
    case Message::Kind::StatusUpdate:
        return line({{"event", "StatusUpdate"}, {"status", m.status}});
    case Message::Kind::DumpData:
        return line({{"event", "DumpData"}, {"count", m.count}, {"text", m.text}});
    }
    return {};
}

std::optional<Request> decodeRequest(const QByteArray& text, QString* why)
{
    const auto o = object(text, why);
    if (!o)
        return std::nullopt;
    Fields f(*o);
    Request r;
    r.id = f.integer("id", 1, kMaxId);
    r.op = f.string("op");
    if (r.op == QLatin1String("PreOpenFlag")) {
        r.flag = f.boolean("flag");
    } else if (r.op == QLatin1String("OpenPort")) {
        r.port = f.string("port");
        r.speed = f.string("speed");
    } else if (r.op == QLatin1String("SendCommand")) {
        r.row = f.int32("row");
        r.mode = f.int32("mode");
        r.line = f.string("line");
    } else if (r.op == QLatin1String("SendQuery")) {
        r.param1 = f.int32("param1");
        r.param2 = f.int32("param2");
        r.query = f.string("query");
    }
    // An operation this version does not know still has its id: a driver answers it.
    return checked(r, f, why);
}

bool isKnownOperation(const QString& op)
{
    for (const char* known :
         {"PreOpenFlag", "OpenPort", "ClosePort", "SendCommand", "ExtendedResult", "SendQuery"})
        if (op == QLatin1String(known))
            return true;
    return false;
}

std::optional<Message> decodeMessage(const QByteArray& text, QString* why)
{
    const auto o = object(text, why);
    if (!o)
        return std::nullopt;
    Fields f(*o);
    Message m;
    if (f.has("protocol")) {
        m.kind = Message::Kind::Hello;
        if (f.string("protocol") != kName)
            f.fail(QStringLiteral("\"protocol\" must be \"%1\"").arg(kName));
        m.version = static_cast<int>(f.integer("version", 1, 1000000));
    } else if (f.has("event")) {
        const QString event = f.string("event");
        if (event == QLatin1String("StatusUpdate")) {
            m.kind = Message::Kind::StatusUpdate;
            m.status = f.int32("status");
        } else if (event == QLatin1String("DumpData")) {
            m.kind = Message::Kind::DumpData;
            m.count = f.int32("count");
            m.text = f.string("text");
        } else {
            f.fail(QStringLiteral("unknown event \"%1\"").arg(event));
        }
    } else {
        m.kind = Message::Kind::Answer;
        m.id = f.integer("id", 1, kMaxId);
        m.result = f.int32("result");
        if (f.has("answer"))
            m.answer = f.string("answer");
    }
    return checked(m, f, why);
}

} // namespace DriverProtocol
