#pragma once

#include "driver/RegisterDriver.h"
#include "status/StatusModel.h"

#include <QHash>
#include <QStringList>
#include <deque>
#include <functional>

// A driver that answers whatever a test tells it to, line by line, and records every call.
class FakeDriver : public RegisterDriver
{
public:
    struct Answer
    {
        qint32 result = 0;
        qint32 extended = 0;
        bool callFails = false;
    };
    struct Sent
    {
        qint32 row;
        qint16 mode;
        QString line;
    };

    // Answers for the next sends of a line, in order; once used up the line is accepted.
    void answer(const QString& line, std::deque<Answer> answers) { m_answers[line] = answers; }

    void setPreOpenFlag(bool flag) override { preOpenFlags.append(flag); }
    void setPortSpeed(const QString& speed) override { m_speed = speed; }
    qint32 OpenPort(QString& port) override
    {
        openedPorts.append(port);
        openedSpeeds.append(m_speed);
        return openResult;
    }
    qint32 ClosePort() override
    {
        ++closeCount;
        return 0;
    }
    qint32 SendCommand(qint32& row, qint16 mode, QString& line) override
    {
        sent.push_back({row, mode, line});
        if (onSend)
            onSend(row, line);
        Answer a;
        auto it = m_answers.find(line);
        if (it != m_answers.end() && !it->empty()) {
            a = it->front();
            it->pop_front();
        }
        if (a.callFails)
            throw DriverCallError("simulated failure");
        m_extended = a.extended;
        extendedReadsSinceSend = 0;
        return a.result;
    }
    qint32 ExtendedResult() override
    {
        ++extendedReadsSinceSend;
        return m_extended;
    }
    qint32 SendQuery(qint32, qint16, const QString& query, QString& answer) override
    {
        queries.append(query);
        if (onQuery)
            onQuery();
        if (queryFails)
            throw DriverCallError("simulated failure");
        answer = queryAnswer;
        return queryResult;
    }

    QStringList sentLines() const
    {
        QStringList out;
        for (const Sent& s : sent)
            out.append(s.line);
        return out;
    }

    qint32 openResult = 0;
    qint32 queryResult = 0;
    bool queryFails = false;
    QString queryAnswer = QStringLiteral("000000000042");
    std::vector<Sent> sent;
    QStringList queries;
    QStringList openedPorts;
    QStringList openedSpeeds; // the speed told before each OpenPort
    QList<bool> preOpenFlags;
    int closeCount = 0;
    int extendedReadsSinceSend = 0;
    std::function<void(qint32 row, const QString& line)> onSend;
    std::function<void()> onQuery;

private:
    QHash<QString, std::deque<Answer>> m_answers;
    QString m_speed;
    qint32 m_extended = 0;
};

// What the window would show of a status model: its lines after each change, and how often the
// window was brought forward.
class RecordingDisplay
{
public:
    explicit RecordingDisplay(const Settings& settings) : model(settings)
    {
        QObject::connect(&model, &StatusModel::changed, [this] {
            state = model.stateText();
            error = model.errorText();
            toolTip = model.toolTip();
            picture = model.trayPicture();
            receiptTime = model.receiptTime();
            receiptNumber = model.receiptNumber();
        });
        QObject::connect(&model, &StatusModel::forwardRequested, [this] { ++raised; });
    }
    RecordingDisplay(const RecordingDisplay&) = delete;
    RecordingDisplay& operator=(const RecordingDisplay&) = delete;

    StatusModel model;
    QString state, error, toolTip, receiptTime, receiptNumber;
    TrayPicture picture = TrayPicture::Normal;
    int raised = 0;
};
