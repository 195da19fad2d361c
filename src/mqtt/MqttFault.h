#pragma once

#include <QString>

// Why the link to the broker is down, kept apart from its wording: the window says it in the
// program's language, standard error and the log in English. What libmosquitto, the resolver or
// TLS said (detail) stays as they said it.
struct MqttFault
{
    enum class Kind {
        NameUnknown, // subject: the broker's host name; detail: the resolver's answer, if any
        Unreachable, // subject: the broker; detail: libmosquitto's reason
        NoAnswer,    // subject: the broker; detail: the seconds waited
        Lost,        // subject: the broker; detail: libmosquitto's reason
        Ended,       // subject: the broker; detail: libmosquitto's reason
        Refused,     // subject: the broker; detail: the broker's reason code, as text
        Untrusted,   // detail: why TLS did not trust the broker's certificate
        TlsFailed,   // subject: the broker
    };

    Kind kind = Kind::Unreachable;
    QString subject;
    QString detail;

    // In English (italian false) or Italian.
    QString text(bool italian = false) const;
};
