#pragma once

#include <QRegularExpression>
#include <QString>
#include <optional>
#include <vector>

// One action of a rule of the simulated register.
struct SimAction
{
    enum class Kind { Result, Extended, Status, Delay, Cover, Dump };
    Kind kind;
    qint64 value = 0;
    QString text; // Dump only
};

// "PATTERN => ACTIONS" from key RuleN of section Rules.
struct SimRule
{
    QString key;
    qint64 number = 0;
    QRegularExpression pattern;
    std::vector<SimAction> actions;
};

// Nothing when the rule cannot be parsed (no "=>", a bad regular expression, an unknown action
// or a bad number).
std::optional<SimRule> parseSimulatorRule(const QString& key, const QString& value);

// The rule number of a key "RuleN", when it is one.
std::optional<qint64> simulatorRuleNumber(const QString& key);

// Replaces $1..$9 with the pattern's groups.
QString expandDumpText(const QString& text, const QRegularExpressionMatch& match);
