#include "NamedComma.h"

const std::vector<NamedComma>& namedCommas()
{
    static const std::vector<NamedComma> table = [] {
        const struct
        {
            const char* name;
            std::uint64_t numerator;
            std::uint64_t denominator;
        } entries[] = {
            {"Pythagorean comma", 531441, 524288},
            {"schisma", 32805, 32768},
            {"kleisma", 15625, 15552},
            {"syntonic comma", 81, 80},
            {"diaschisma", 2048, 2025},
            {"lesser diesis", 128, 125},
            {"greater diesis", 648, 625},
            {"septimal kleisma", 225, 224},
            {"septimal semicomma", 126, 125},
            {"septimal comma", 64, 63},
            {"undecimal comma", 33, 32},
            {"tridecimal third-tone", 27, 26},
            {"septendecimal schisma", 2187, 2176},
            {"19-limit schisma", 513, 512},
            {"23-limit comma", 736, 729},
        };
        std::vector<NamedComma> commas;
        for (const auto& entry : entries) {
            const LatticeRatio ratio(entry.numerator, entry.denominator);
            commas.push_back({entry.name, ratio, Monzo::ofRatio(ratio)});
        }
        return commas;
    }();
    return table;
}

const NamedComma* namedCommaFor(const Monzo& monzo, bool* downward)
{
    const Monzo odd = monzo.withoutOctaves();
    for (const NamedComma& comma : namedCommas()) {
        const Monzo commaOdd = comma.monzo.withoutOctaves();
        if (odd != commaOdd && odd != -commaOdd)
            continue;
        if (downward)
            *downward = odd != commaOdd;
        return &comma;
    }
    return nullptr;
}
