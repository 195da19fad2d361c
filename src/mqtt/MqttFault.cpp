#include "MqttFault.h"

QString MqttFault::text(bool italian) const
{
    switch (kind) {
    case Kind::NameUnknown:
        return (italian ? QStringLiteral("il nome del broker %1 non si trova: %2")
                        : QStringLiteral("the broker's name %1 cannot be looked up: %2"))
            .arg(subject, !detail.isEmpty() ? detail
                          : italian         ? QStringLiteral("nessun indirizzo")
                                            : QStringLiteral("no address"));
    case Kind::Unreachable:
        return (italian ? QStringLiteral("il broker %1 non è raggiungibile (%2)")
                        : QStringLiteral("the broker %1 cannot be reached (%2)"))
            .arg(subject, detail);
    case Kind::NoAnswer:
        return (italian ? QStringLiteral("il broker %1 non ha risposto entro %2 s")
                        : QStringLiteral("the broker %1 did not answer within %2 s"))
            .arg(subject, detail);
    case Kind::Lost:
        return (italian ? QStringLiteral("la connessione con %1 si è interrotta (%2)")
                        : QStringLiteral("the connection to %1 was lost (%2)"))
            .arg(subject, detail);
    case Kind::Ended:
        return (italian ? QStringLiteral("il broker %1 ha chiuso la connessione: %2")
                        : QStringLiteral("the broker %1 ended the connection: %2"))
            .arg(subject, detail);
    case Kind::Refused:
        return (italian ? QStringLiteral("il broker %1 ha rifiutato la connessione: %2")
                        : QStringLiteral("the broker %1 refused the connection: %2"))
            .arg(subject, detail);
    case Kind::Untrusted:
        return (italian ? QStringLiteral("il certificato del broker non è attendibile: %1")
                        : QStringLiteral("the broker's certificate is not trusted: %1"))
            .arg(detail);
    case Kind::TlsFailed:
        return (italian ? QStringLiteral("la negoziazione TLS con %1 non è riuscita")
                        : QStringLiteral("the TLS handshake with %1 failed"))
            .arg(subject);
    }
    return detail;
}
