// Six-decimal formatting of full-precision coordinates: the converter's
// formatFixed against snprintf("%.6f") and std::to_chars. The values are
// generated before timing starts; each benchmark reports the time per
// coordinate ("per_coordinate", in ns as shown by the time unit).
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <benchmark/benchmark.h>

#include "fixed_format.h"

namespace {

constexpr std::size_t kNumCoordinates = std::size_t{1} << 16;

// Latitudes around 45-55 and longitudes around 5-25, alternating as the
// converter writes them, with every bit of the mantissa random.
const std::vector<double>& coordinates() {
    static const std::vector<double> values = [] {
        std::vector<double> v(kNumCoordinates);
        std::uint64_t state = 0x2545F4914F6CDD1DULL;
        for (std::size_t i = 0; i < v.size(); ++i) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            const double unit = static_cast<double>(state >> 11) * 0x1.0p-53;
            v[i] = i % 2 == 0 ? 45.0 + 10.0 * unit : 5.0 + 20.0 * unit;
        }
        return v;
    }();
    return values;
}

template <typename Format>
void runFormatting(benchmark::State& state, Format format) {
    const std::vector<double>& values = coordinates();
    char buffer[orvtessel::kFixedBufferSize];
    for (auto _ : state) {
        for (const double value : values) {
            char* end = format(buffer, value);
            benchmark::DoNotOptimize(end);
            benchmark::ClobberMemory();
        }
    }
    const auto nFormatted = static_cast<double>(values.size());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
    state.counters["per_coordinate"] = benchmark::Counter(
        nFormatted, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void formatFixedSix(benchmark::State& state) {
    runFormatting(state, [](char* out, double value) {
        return orvtessel::formatFixed(out, value, 6);
    });
}

void snprintfSix(benchmark::State& state) {
    runFormatting(state, [](char* out, double value) {
        const int n = std::snprintf(out, orvtessel::kFixedBufferSize, "%.6f", value);
        return out + n;
    });
}

void toCharsSix(benchmark::State& state) {
    runFormatting(state, [](char* out, double value) {
        return std::to_chars(out, out + orvtessel::kFixedBufferSize, value,
                             std::chars_format::fixed, 6)
            .ptr;
    });
}

}  // namespace

BENCHMARK(formatFixedSix);
BENCHMARK(snprintfSix);
BENCHMARK(toCharsSix);

BENCHMARK_MAIN();
