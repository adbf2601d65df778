// How an elephant's age and weight turn into work, and how its name is held.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "cp1251_unit.h"
#include "elephant_unit.h"
#include "format_unit.h"
#include "herd_unit.h"
#include "locale_unit.h"
#include "number_text_unit.h"

namespace {

constexpr std::int32_t kMostUnits = std::numeric_limits<std::int32_t>::max();

// Search bound and drinking units of each built-in elephant, in table order.
struct ExpectedWork {
    std::int32_t searchBound;
    std::int32_t drinkingUnits;
};
constexpr ExpectedWork kExpectedWork[kHerdSize] = {
    {114, 8}, {112, 6}, {40, 24}, {46, 21}, {16, 22}, {92, 16}, {36, 35},  {100, 35},
    {84, 20}, {24, 50}, {40, 35}, {4, 75},  {34, 70}, {80, 30}, {118, 15},
};

// The weight as the elephant receives it: written by the launcher with two
// decimals and read back in the same locale.
double WeightThroughCommandLine(double weight) {
    return TextToFloat(FormatText("%f", {weight}));
}

TEST(ElephantWork, BuiltInHerdGetsItsBoundsAndUnitsInBothSeparators) {
    for (const char separator : {'.', ','}) {
        UseLocaleSettings({':', separator});
        for (int i = 0; i < kHerdSize; ++i) {
            const HerdRecord& row = kBuiltInHerd[i];
            SCOPED_TRACE("elephant " + std::to_string(row.number) + ", separator " + separator);
            EXPECT_EQ(SearchBound(row.age), kExpectedWork[i].searchBound);
            EXPECT_EQ(DrinkingUnits(row.weight), kExpectedWork[i].drinkingUnits);
            EXPECT_EQ(DrinkingUnits(WeightThroughCommandLine(row.weight)),
                      kExpectedWork[i].drinkingUnits);
        }
    }
    UseLocaleSettings({});
}

TEST(ElephantWork, ProductIsRoundedOnceHalvesToEven) {
    // Exact halves go to the even neighbour.
    EXPECT_EQ(DrinkingUnits(0.5), 2);   // 2.5
    EXPECT_EQ(DrinkingUnits(1.5), 8);   // 7.5
    EXPECT_EQ(DrinkingUnits(2.5), 12);  // 12.5
    EXPECT_EQ(DrinkingUnits(3.5), 18);  // 17.5
    EXPECT_EQ(DrinkingUnits(4.5), 22);  // 22.5
    // Not halves, although the product rounded to a double is one.
    EXPECT_EQ(DrinkingUnits(4.3), 21);  // 21.4999999999999991...
    EXPECT_EQ(DrinkingUnits(6.9), 35);  // 34.5000000000000017...
    EXPECT_EQ(DrinkingUnits(0.3), 1);   // 1.4999999999999999...
    EXPECT_EQ(DrinkingUnits(0.1), 1);   // 0.5000000000000000277...
    EXPECT_EQ(DrinkingUnits(std::nextafter(0.1, 0.0)), 0);
    // Whole weights of the edit dialogue: exactly 5 x weight.
    for (int weight = 1; weight <= 40; ++weight) {
        EXPECT_EQ(DrinkingUnits(weight), 5 * weight) << weight;
    }
}

TEST(ElephantWork, NoDrinkingWithoutWeightAndHugeWeightsClamp) {
    EXPECT_EQ(DrinkingUnits(0.0), 0);
    EXPECT_EQ(DrinkingUnits(-0.0), 0);
    EXPECT_EQ(DrinkingUnits(-4.8), 0);
    EXPECT_EQ(DrinkingUnits(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(DrinkingUnits(std::numeric_limits<double>::denorm_min()), 0);
    EXPECT_EQ(DrinkingUnits(1e-300), 0);
    EXPECT_EQ(DrinkingUnits(429496729.4), kMostUnits);  // exactly 2147483647
    EXPECT_EQ(DrinkingUnits(429496729.2), kMostUnits - 1);
    EXPECT_EQ(DrinkingUnits(429496729.5), kMostUnits);  // 2147483647.5 would overflow
    EXPECT_EQ(DrinkingUnits(1e300), kMostUnits);
    EXPECT_EQ(DrinkingUnits(std::numeric_limits<double>::infinity()), kMostUnits);
}

// The 64-bit mantissa of x87 long double holds weight x 5 exactly, which
// gives an independent reference where the platform has it.
TEST(ElephantWork, AgreesWithExactLongDoubleProduct) {
    if (std::numeric_limits<long double>::digits < 56) {
        GTEST_SKIP() << "long double cannot hold the exact product here";
    }
    std::mt19937_64 generator(20240607);
    std::uniform_real_distribution<double> weights(0.0, 1000.0);
    for (int i = 0; i < 200000; ++i) {
        // Weights with few decimals lie close to halves, where rounding errs.
        const double weight =
            i % 2 == 0 ? weights(generator) : std::round(weights(generator) * 100.0) / 100.0;
        const long double product = static_cast<long double>(weight) * 5.0L;
        ASSERT_EQ(DrinkingUnits(weight), static_cast<std::int32_t>(std::nearbyintl(product)))
            << weight;
    }
}

TEST(ElephantWork, SearchBoundNeverNegativeNorOverflowing) {
    EXPECT_EQ(SearchBound(1), 118);
    EXPECT_EQ(SearchBound(60), 0);
    EXPECT_EQ(SearchBound(61), 0);
    EXPECT_EQ(SearchBound(std::numeric_limits<std::int32_t>::max()), 0);
    EXPECT_EQ(SearchBound(0), 120);
    EXPECT_EQ(SearchBound(-1000), 2120);
    EXPECT_EQ(SearchBound(std::numeric_limits<std::int32_t>::min()), kMostUnits);
}

TEST(ElephantRecordName, KeepsSixteenCharactersAndZeroFillsTheRest) {
    ElephantRecord record;
    SetElephantName(record, "ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(record.nameLength, 16);
    EXPECT_EQ(ElephantName(record), "ABCDEFGHIJKLMNOP");

    // Windows-1251 text: one byte per character, so 16 Russian letters fit.
    SetElephantName(record, "СлонСлонСлонСлонСлон"_cp1251);
    EXPECT_EQ(ElephantName(record), "СлонСлонСлонСлон"_cp1251);

    // A shorter name leaves no trace of the longer one: the feeders name
    // shared blocks by all these bytes.
    SetElephantName(record, "Tandy");
    EXPECT_EQ(ElephantName(record), "Tandy");
    for (int i = 5; i < kElephantNameLimit; ++i) {
        EXPECT_EQ(record.nameChars[i], '\0') << i;
    }
    SetElephantName(record, "");
    EXPECT_EQ(record.nameLength, 0);
}

}  // namespace
