// Any rule text either parses into actions or is refused; a dump text expands without crashing.
#include "common/Cp1252.h"
#include "register_sim/SimulatorRules.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString value = decodeCp1252(QByteArrayView(data, static_cast<qsizetype>(size)));
    const auto rule = parseSimulatorRule(QStringLiteral("Rule1"), value);
    if (!rule)
        return 0;
    const auto match = rule->pattern.match(QStringLiteral("TOTAL 42 PAY"));
    for (const SimAction& action : rule->actions) {
        if (action.kind == SimAction::Kind::Dump)
            expandDumpText(action.text, match);
        if ((action.kind == SimAction::Kind::Delay || action.kind == SimAction::Kind::Cover) &&
            action.value < 0)
            std::abort();
    }
    return 0;
}
