#include "SimulatorRules.h"

#include <limits>

namespace {

std::optional<qint64> integerArgument(const QString& text, qint64 min, qint64 max)
{
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    if (!ok || v < min || v > max)
        return std::nullopt;
    return v;
}

} // namespace

std::optional<qint64> simulatorRuleNumber(const QString& key)
{
    if (!key.startsWith(QLatin1String("Rule"), Qt::CaseInsensitive) || key.size() == 4)
        return std::nullopt;
    const QStringView digits = QStringView(key).mid(4);
    for (QChar c : digits) {
        if (!c.isDigit() || c.unicode() > '9')
            return std::nullopt;
    }
    bool ok = false;
    const qint64 n = digits.toLongLong(&ok);
    return ok ? std::optional<qint64>(n) : std::nullopt;
}

std::optional<SimRule> parseSimulatorRule(const QString& key, const QString& value)
{
    const qsizetype arrow = value.indexOf(QLatin1String("=>"));
    if (arrow < 0)
        return std::nullopt;
    SimRule rule;
    rule.key = key;
    rule.number = simulatorRuleNumber(key).value_or(0);
    rule.pattern = QRegularExpression(value.left(arrow).trimmed());
    if (!rule.pattern.isValid())
        return std::nullopt;

    constexpr qint64 i32min = std::numeric_limits<qint32>::min();
    constexpr qint64 i32max = std::numeric_limits<qint32>::max();
    QString rest = value.mid(arrow + 2).trimmed();
    while (!rest.isEmpty()) {
        if (rest.compare(QLatin1String("dump"), Qt::CaseInsensitive) == 0 ||
            (rest.startsWith(QLatin1String("dump "), Qt::CaseInsensitive))) {
            rule.actions.push_back({SimAction::Kind::Dump, 0, rest.mid(5)});
            break;
        }
        const qsizetype comma = rest.indexOf(u',');
        const QString item = (comma < 0 ? rest : rest.left(comma)).trimmed();
        rest = comma < 0 ? QString() : rest.mid(comma + 1).trimmed();
        const qsizetype space = item.indexOf(u' ');
        if (space < 0)
            return std::nullopt;
        const QString name = item.left(space).toLower();
        const QString arg = item.mid(space + 1);
        SimAction action{SimAction::Kind::Result, 0, {}};
        std::optional<qint64> v;
        if (name == QLatin1String("result")) {
            action.kind = SimAction::Kind::Result;
            v = integerArgument(arg, i32min, i32max);
        } else if (name == QLatin1String("extended")) {
            action.kind = SimAction::Kind::Extended;
            v = integerArgument(arg, i32min, i32max);
        } else if (name == QLatin1String("status")) {
            action.kind = SimAction::Kind::Status;
            v = integerArgument(arg, i32min, i32max);
        } else if (name == QLatin1String("delay")) {
            action.kind = SimAction::Kind::Delay;
            v = integerArgument(arg, 0, i32max);
        } else if (name == QLatin1String("cover")) {
            action.kind = SimAction::Kind::Cover;
            v = integerArgument(arg, 0, i32max);
        }
        if (!v)
            return std::nullopt;
        action.value = *v;
        rule.actions.push_back(action);
    }
    return rule;
}

QString expandDumpText(const QString& text, const QRegularExpressionMatch& match)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'$' && i + 1 < text.size() && text[i + 1] >= u'1' && text[i + 1] <= u'9') {
            out += match.captured(text[i + 1].unicode() - '0');
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}
