// The fixed-point formatter against exact ties, their neighbours, printf
// and a slow exact reference.
#include <cmath>
#include <cstring>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "exact_decimal.h"
#include "fixed_format.h"

using orvtessel::fixedString;
using testsupport::isExactTie;
using testsupport::referenceFixed;

namespace {

std::string printfFixed(double value, int nDecimals) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", nDecimals, value);
    return buf;
}

struct Case {
    double value;
    int nDecimals;
    const char* expected;
};

// Ties are exact in binary; glibc would round most of them to even.
const Case kTable[] = {
    {12.5, 0, "13"},
    {13.5, 0, "14"},
    {0.5, 0, "1"},
    {1.5, 0, "2"},
    {2.5, 0, "3"},
    {-0.5, 0, "-1"},
    {-2.5, 0, "-3"},
    {0.25, 1, "0.3"},
    {0.75, 1, "0.8"},
    {-0.25, 1, "-0.3"},
    {5.25, 1, "5.3"},
    {0.125, 2, "0.13"},
    {0.0078125, 6, "0.007813"},
    {-0.0078125, 6, "-0.007813"},
    {0.0000005, 6, "0.000000"},      // not a tie: just below 5e-7 in binary
    {1.0000005, 6, "1.000001"},      // not a tie: just above in binary
    {52.25, 6, "52.250000"},
    {13.5, 6, "13.500000"},
    {-0.1234567, 6, "-0.123457"},
    {2.675, 2, "2.67"},              // decimal-looking, below the tie in binary
    {57.49999999999999, 0, "57"},
    {59.96, 1, "60.0"},
    {99.95, 1, "100.0"},             // 99.9500000000000028...
    {0.05, 1, "0.1"},
    {0.0, 6, "0.000000"},
    {-0.0, 6, "-0.000000"},
    {-1e-9, 6, "-0.000000"},
    {-0.0000004, 6, "-0.000000"},
    {1e-320, 6, "0.000000"},         // subnormal
    {4503599627370495.5, 0, "4503599627370496"},   // 2^52 - 0.5: last tie of the fast path
    {5000000000.0078125, 6, "5000000000.007813"},  // tie on the exact path
    {-5000000000.0078125, 6, "-5000000000.007813"},
    {4503599627.3704965, 6, "4503599627.370497"},
    {9007199254740993.0, 0, "9007199254740992"},   // not representable: 2^53
    {1e15, 6, "1000000000000000.000000"},
    {1e22, 0, "10000000000000000000000"},
    {1.7976931348623157e308, 0,
     "179769313486231570814527423731704356798070567525844996598917476803157260780028538760589558632"
     "766878171540458953514382464234321326889464182768467546703537516986049910576551282076245490090"
     "389328944075868508455133942304583236903222948165808559332123348274797826204144723168738177180"
     "919299881250404026184124858368"},
    {180.0, 6, "180.000000"},
    {-180.0, 6, "-180.000000"},
};

TEST(FixedFormat, TableOfTiesAndNeighbours) {
    for (const Case& c : kTable) {
        EXPECT_EQ(fixedString(c.value, c.nDecimals), c.expected)
            << "value " << printfFixed(c.value, 20) << " with " << c.nDecimals << " decimals";
    }
}

TEST(FixedFormat, TiesAndTheirNearestNeighbours) {
    // k / 2^(d+1) with k odd has exactly d + 1 fraction digits, the last a
    // 5: an exact tie at d decimals. Small k and large k, both signs, and
    // the doubles right beside each tie.
    std::mt19937_64 random(1);
    for (int nDecimals = 0; nDecimals <= 6; ++nDecimals) {
        std::vector<double> ks;
        for (int k = 1; k < 4000; k += 2) ks.push_back(k);
        for (int i = 0; i < 2000; ++i) ks.push_back(static_cast<double>((random() >> 19) | 1U));
        for (double k : ks) {
            const double tie = std::ldexp(k, -(nDecimals + 1));
            ASSERT_TRUE(isExactTie(tie, nDecimals)) << printfFixed(tie, 30);
            for (double v : {tie, std::nextafter(tie, 0.0), std::nextafter(tie, 1e300)}) {
                for (double s : {v, -v}) {
                    ASSERT_EQ(fixedString(s, nDecimals), referenceFixed(s, nDecimals))
                        << printfFixed(s, 30) << " with " << nDecimals << " decimals";
                }
            }
        }
    }
}

TEST(FixedFormat, AroundTheSixDecimalShortcutsLimit) {
    // Six decimals of values below 2147.483648 take a shortcut; the values
    // on both sides of that limit, and ties there, must not notice.
    for (double start : {2147.483648, 2147.4836475, 2147.4836485, 999.9999995, 9.9999995}) {
        double v = start;
        for (int i = 0; i < 2000; ++i) v = std::nextafter(v, 0.0);
        for (int i = 0; i < 4000; ++i, v = std::nextafter(v, 1e9)) {
            ASSERT_EQ(fixedString(v, 6), referenceFixed(v, 6)) << printfFixed(v, 30);
            ASSERT_EQ(fixedString(-v, 6), referenceFixed(-v, 6)) << printfFixed(-v, 30);
        }
    }
}

TEST(FixedFormat, NonFiniteValuesAsPrintf) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (int d : {0, 1, 6}) {
        EXPECT_EQ(fixedString(inf, d), "inf");
        EXPECT_EQ(fixedString(-inf, d), "-inf");
        EXPECT_EQ(fixedString(nan, d), printfFixed(nan, d));
        EXPECT_EQ(fixedString(-nan, d), printfFixed(-nan, d));
    }
}

TEST(FixedFormat, MatchesPrintfAwayFromTies) {
    std::mt19937_64 random(20261210);
    std::uniform_real_distribution<double> coordinate(-180.0, 180.0);
    std::uniform_int_distribution<int> exponent(-40, 70);
    int nCompared = 0;
    for (int i = 0; i < 300000; ++i) {
        double value = 0;
        switch (i % 3) {
            case 0: value = coordinate(random); break;
            case 1: value = std::ldexp(coordinate(random), exponent(random)); break;
            default: {
                // Any bit pattern, non-finite ones aside.
                const std::uint64_t bits = random();
                std::memcpy(&value, &bits, sizeof value);
                if (!std::isfinite(value)) continue;
            }
        }
        for (int d : {0, 1, 6}) {
            if (isExactTie(value, d)) continue;
            ASSERT_EQ(fixedString(value, d), printfFixed(value, d)) << printfFixed(value, 30);
            ++nCompared;
        }
    }
    EXPECT_GT(nCompared, 800000);
}

TEST(FixedFormat, MatchesExactReferenceOnCoordinates) {
    // Full-precision coordinates, and values on a 1e-7 grid whose scaled
    // value lands next to .5 where a careless formatter slips.
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> coordinate(-180.0, 180.0);
    std::uniform_int_distribution<long long> grid(-1800000000LL, 1800000000LL);
    for (int i = 0; i < 250000; ++i) {
        const double full = coordinate(random);
        const double onGrid = static_cast<double>(grid(random) * 10 + 5) / 1e8;
        for (double v : {full, onGrid, std::nextafter(onGrid, 0.0), std::nextafter(onGrid, 1e9)}) {
            ASSERT_EQ(fixedString(v, 6), referenceFixed(v, 6)) << printfFixed(v, 30);
        }
    }
}

}  // namespace
