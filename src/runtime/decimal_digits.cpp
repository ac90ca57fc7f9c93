#include "runtime/decimal_digits.h"

namespace dovemarl::runtime {

namespace {

constexpr uint32_t Base = 10;
constexpr uint32_t PairBase = Base * Base;
constexpr int MaxDigits32 = 10; // UINT32_MAX has 10 digits
constexpr int DigitRoom64 = 24; // UINT64_MAX has 20

// "00", "01", ... "99": two digits per division.
struct DigitPairTable {
    char digits[2 * PairBase];
};

constexpr DigitPairTable MakeDigitPairs() {
    DigitPairTable table = {};
    for (uint32_t pair = 0; pair < PairBase; ++pair) {
        table.digits[2 * pair] = static_cast<char>('0' + pair / Base);
        table.digits[2 * pair + 1] = static_cast<char>('0' + pair % Base);
    }
    return table;
}

constexpr DigitPairTable DigitPairs = MakeDigitPairs();

int CountDigits(uint32_t value) {
    constexpr uint32_t Powers[MaxDigits32 - 1] = {10,      100,      1000,      10000,     100000,
                                                  1000000, 10000000, 100000000, 1000000000};
    int count = 1;
    while (count < MaxDigits32 && value >= Powers[count - 1]) {
        ++count;
    }
    return count;
}

// Writes the digits of value, most significant first, from the last digit
// backwards: the count is known first, so nothing needs turning round.
int WriteDigits32(char* out, uint32_t value) {
    int count = CountDigits(value);
    char* at = out + count;
    while (value >= PairBase) {
        const char* pair = &DigitPairs.digits[2 * (value % PairBase)];
        value /= PairBase;
        at -= 2;
        at[0] = pair[0];
        at[1] = pair[1];
    }
    if (value >= Base) {
        const char* pair = &DigitPairs.digits[2 * value];
        out[0] = pair[0];
        out[1] = pair[1];
    } else {
        out[0] = static_cast<char>('0' + value);
    }
    return count;
}

// 64-bit division is a library call on this 32-bit machine: only the digits
// above 32 bits take it, the rest divide in 32 bits.
int WriteDigits64(char* out, uint64_t magnitude) {
    if (magnitude <= UINT32_MAX) {
        return WriteDigits32(out, static_cast<uint32_t>(magnitude));
    }
    constexpr uint64_t Base64 = Base;
    char trailing[DigitRoom64]; // the last digits, last first
    int trailingCount = 0;
    while (magnitude > UINT32_MAX) {
        trailing[trailingCount++] = static_cast<char>('0' + magnitude % Base64);
        magnitude /= Base64;
    }
    int count = WriteDigits32(out, static_cast<uint32_t>(magnitude));
    for (int i = trailingCount - 1; i >= 0; --i) {
        out[count++] = trailing[i];
    }
    return count;
}

} // namespace

int WriteDecimal32(char* out, int32_t value) {
    if (value >= 0) {
        return WriteDigits32(out, static_cast<uint32_t>(value));
    }
    out[0] = '-';
    // Negated in unsigned arithmetic, which is exact for INT32_MIN too.
    return 1 + WriteDigits32(out + 1, ~static_cast<uint32_t>(value) + 1);
}

int WriteDecimal64(char* out, int64_t value) {
    if (value >= 0) {
        return WriteDigits64(out, static_cast<uint64_t>(value));
    }
    out[0] = '-';
    return 1 + WriteDigits64(out + 1, ~static_cast<uint64_t>(value) + 1);
}

} // namespace dovemarl::runtime
