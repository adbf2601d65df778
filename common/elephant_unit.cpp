// An elephant's record and the arithmetic of its search and drinking.
#include "elephant_unit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

void SetElephantName(ElephantRecord& record, std::string_view name) {
    const std::size_t length = std::min(name.size(), static_cast<std::size_t>(kElephantNameLimit));
    std::memset(record.nameChars, 0, sizeof record.nameChars);
    std::memcpy(record.nameChars, name.data(), length);
    record.nameLength = static_cast<std::uint8_t>(length);
}

std::string_view ElephantName(const ElephantRecord& record) {
    return {record.nameChars, record.nameLength};
}

std::int32_t SearchBound(std::int32_t age) {
    // In 64 bits: 120 - 2 x age overflows int32 for ages beyond about +-1e9.
    const std::int64_t bound = 120 - 2 * static_cast<std::int64_t>(age);
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(bound, 0, std::numeric_limits<std::int32_t>::max()));
}

std::int32_t DrinkingUnits(double weight) {
    constexpr std::int32_t kMostUnits = std::numeric_limits<std::int32_t>::max();
    if (!(weight > 0.0)) {  // also NaN
        return 0;
    }
    if (std::isinf(weight)) {
        return kMostUnits;
    }
    // weight = mantissa x 2^exponent with a 53-bit integer mantissa, so
    // weight x 5 = (5 x mantissa) x 2^exponent, and 5 x mantissa < 2^56 is an
    // exact integer: the rounding below sees the true product.
    int exponent = 0;
    const double fraction = std::frexp(weight, &exponent);  // in [0.5, 1)
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    exponent -= 53;
    const std::uint64_t product = 5 * mantissa;

    if (exponent >= 0) {
        return kMostUnits;  // weight >= 2^52: far beyond the int32 range
    }
    const int shift = -exponent;
    if (shift >= 64) {
        return 0;  // product x 2^exponent < 2^56 / 2^64: well below one half
    }
    std::uint64_t whole = product >> shift;
    const std::uint64_t rest = product & ((std::uint64_t{1} << shift) - 1);
    const std::uint64_t half = std::uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (whole & 1) != 0)) {
        ++whole;
    }
    return static_cast<std::int32_t>(std::min<std::uint64_t>(whole, kMostUnits));
}
