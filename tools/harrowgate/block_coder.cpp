#include "tools/harrowgate/block_coder.h"

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace harrowgate {

const std::array<uint8_t, 64> kZigZag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

namespace {

// Code number of +level for (level, run) in one table, or -1 when the pair must be escaped.
int TableCode(const RunLevelTable& table, int level, int run) {
    for (int pair = 0; pair < 29; ++pair) {
        if (table.pairs[pair][0] == level && table.pairs[pair][1] == run)
            return 2 * pair < table.end_of_block_code ? 2 * pair : 2 * pair + 1;
    }
    return -1;
}

// TableCode of every (level, run) with level below kLookupLevels, for the tables of the
// three sets the coder uses: a search per coefficient was a tenth of the encoding time.
constexpr int kLookupLevels = 32;
constexpr int kLookupRuns = 65;  // runs 1..64
struct CodeLookup {
    int8_t code[kLookupLevels][kLookupRuns];
};

struct KnownTables {
    const RunLevelTableSet* sets[3];
    std::vector<CodeLookup> lookups[3];
};

const KnownTables& Known() {
    static const KnownTables kKnown = [] {
        KnownTables k{{&IntraLumaTables(), &InterLumaTables(), &ChromaTables()}, {}};
        for (int s = 0; s < 3; ++s)
            for (int t = 0; t < k.sets[s]->count; ++t) {
                CodeLookup lookup;
                for (int level = 0; level < kLookupLevels; ++level)
                    for (int run = 0; run < kLookupRuns; ++run)
                        lookup.code[level][run] = static_cast<int8_t>(
                            level == 0 || run == 0 ? -1
                                                   : TableCode(k.sets[s]->tables[t], level, run));
                k.lookups[s].push_back(lookup);
            }
        return k;
    }();
    return kKnown;
}

// The lookups of `tables` when it is one of the known sets, else null.
const CodeLookup* LookupsFor(const RunLevelTableSet& tables) {
    const KnownTables& known = Known();
    for (int s = 0; s < 3; ++s)
        if (known.sets[s] == &tables) return known.lookups[s].data();
    return nullptr;
}

struct Pair {
    int level;
    int run;
};

// The smallest |level| an escape of a pair with this run codes in `table`; -1 when none.
int EscapeOffset(const RunLevelTable& table, int run) {
    return run > table.max_run ? 1 : table.escape_offset[run];
}

// The codes of one (level, run) pair in table `current` of `tables`, each handed to
// `put(value, order)` as a k-th order Exp-Golomb code.
template <class Put>
void CodePair(const RunLevelTableSet& tables, const CodeLookup* lookups, int current, int level,
              int run, Put&& put) {
    const RunLevelTable& table = tables.tables[current];
    const int magnitude = std::abs(level);
    const int code = lookups != nullptr && magnitude < kLookupLevels
                         ? lookups[current].code[magnitude][run]
                         : TableCode(table, magnitude, run);
    if (code >= 0) {
        put(static_cast<uint32_t>(code + (level < 0 ? 1 : 0)), table.golomb_order);
        return;
    }
    const int escape = kEscapeCode + 2 * (run - 1) + (level > 0 ? 1 : 0);
    const int offset = EscapeOffset(table, run);
    if (offset < 0 || magnitude < offset)
        throw std::logic_error("coefficient cannot be escaped in this table");
    put(static_cast<uint32_t>(escape), table.golomb_order);
    put(static_cast<uint32_t>(magnitude - offset), tables.escape_golomb_order);
}

int NextTableOf(const RunLevelTableSet& tables, int current, int magnitude) {
    while (current + 1 < tables.count && magnitude > tables.tables[current].switch_limit) ++current;
    return current;
}

// The codes of a block's coefficients: (level, run) pairs from the last non-zero
// coefficient back to the first, then end-of-block. One walk serves writing and counting.
template <class Put>
void CodeCoefficients(const std::array<int16_t, 64>& levels, const RunLevelTableSet& tables,
                      Put&& put) {
    // Collect pairs in scan order; run counts the zeros before a coefficient plus one.
    Pair pairs[64];
    int count = 0;
    int zeros = 0;
    for (int i = 0; i < 64; ++i) {
        const int level = levels[kZigZag[i]];
        if (level == 0) {
            ++zeros;
            continue;
        }
        pairs[count++] = {level, zeros + 1};
        zeros = 0;
    }
    const CodeLookup* lookups = LookupsFor(tables);
    int current = 0;
    for (int i = count - 1; i >= 0; --i) {
        CodePair(tables, lookups, current, pairs[i].level, pairs[i].run, put);
        current = NextTableOf(tables, current, std::abs(pairs[i].level));
    }
    const RunLevelTable& table = tables.tables[current];
    put(table.end_of_block_code, table.golomb_order);
}

// PairBits of every pair of the known sets' tables with |level| below kPricedLevels; 0 where
// the pair has no code (an escape the table cannot take), which the slow path reports.
struct KnownLengths {
    std::vector<CoefficientPricer::PairLengths> lengths[3];
};

const KnownLengths& KnownPairLengths() {
    static const KnownLengths kLengths = [] {
        const KnownTables& known = Known();
        KnownLengths k;
        for (int s = 0; s < 3; ++s)
            for (int t = 0; t < known.sets[s]->count; ++t) {
                CoefficientPricer::PairLengths lengths{};
                for (int level = 1; level < CoefficientPricer::kPricedLevels; ++level)
                    for (int run = 1; run <= 64; ++run)
                        for (int negative = 0; negative < 2; ++negative) {
                            const RunLevelTable& table = known.sets[s]->tables[t];
                            const int offset = EscapeOffset(table, run);
                            if (TableCode(table, level, run) < 0 && (offset < 0 || level < offset))
                                continue;
                            int bits = 0;
                            CodePair(*known.sets[s], known.lookups[s].data(), t,
                                     negative ? -level : level, run,
                                     [&bits](uint32_t value, int order) {
                                         bits += UeKLength(value, order);
                                     });
                            lengths.bits[level][run][negative] = static_cast<uint8_t>(bits);
                        }
                k.lengths[s].push_back(lengths);
            }
        return k;
    }();
    return kLengths;
}

}  // namespace

CoefficientPricer::CoefficientPricer(const RunLevelTableSet& tables) : tables_(tables) {
    const KnownTables& known = Known();
    for (int s = 0; s < 3; ++s)
        if (known.sets[s] == &tables) lengths_ = KnownPairLengths().lengths[s].data();
}

int CoefficientPricer::SlowPairBits(int table, int level, int run) const {
    int bits = 0;
    CodePair(tables_, LookupsFor(tables_), table, level, run,
             [&bits](uint32_t value, int order) { bits += UeKLength(value, order); });
    return bits;
}

int CoefficientPricer::EndOfBlockBits(int table) const {
    const RunLevelTable& t = tables_.tables[table];
    return UeKLength(t.end_of_block_code, t.golomb_order);
}

void WriteBlockCoefficients(BitWriter& out, const std::array<int16_t, 64>& levels,
                            const RunLevelTableSet& tables) {
    CodeCoefficients(levels, tables,
                     [&out](uint32_t value, int order) { out.PutUeK(value, order); });
}

int BlockCoefficientBits(const std::array<int16_t, 64>& levels, const RunLevelTableSet& tables) {
    int bits = 0;
    CodeCoefficients(levels, tables,
                     [&bits](uint32_t value, int order) { bits += UeKLength(value, order); });
    return bits;
}

}  // namespace harrowgate
