// The reading half of a conversion, without any output, as a baseline for
// the converter's running time:
//
//   orvtessel_bench_read <layer.shp>
//       opens the layer, reads every shape record and every column of every
//       attribute record as text, as the converter does, and prints a
//       checksum of what it read (so that nothing can be optimised away).
//
//   orvtessel_bench_read --skip-same-seeks <layer.shp>
//       the same through the converter's own file hooks, which drop a seek
//       to the position the file is already at (shapelib seeks before every
//       record it reads, and the C library turns each such seek into an
//       lseek system call even when the record follows the previous one).
//
//   orvtessel_bench_read --format <layer.shp>
//       reads every vertex first (latitude, then longitude, as the converter
//       writes them), then times formatting all of them with six decimals
//       into a 1 MB buffer, once with snprintf("%.6f") and once with
//       orvtessel::formatFixed, and prints both times per coordinate.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <shapefil.h>

#include "fixed_format.h"
#include "sequential_hooks.h"

namespace {

int readLayer(const char* path, bool skipSameSeeks) {
    SAHooks hooks;
    SASetupDefaultHooks(&hooks);
    if (skipSameSeeks) hooks = orvtessel::sequentialReadHooks();
    DBFHandle hDBF = DBFOpenLL(path, "rb", &hooks);
    SHPHandle hSHP = SHPOpenLL(path, "rb", &hooks);
    if (hDBF == nullptr || hSHP == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", path);
        return 1;
    }
    int nShapes = 0;
    SHPGetInfo(hSHP, &nShapes, nullptr, nullptr, nullptr);
    const int nRecords = DBFGetRecordCount(hDBF);
    const int nColumns = DBFGetFieldCount(hDBF);

    std::uint64_t nVertices = 0;
    std::uint64_t nTextBytes = 0;
    double sum = 0.0;
    for (int r = 0; r < nShapes; ++r) {
        SHPObject* shape = SHPReadObject(hSHP, r);
        if (shape != nullptr) {
            nVertices += static_cast<std::uint64_t>(shape->nVertices);
            if (shape->nVertices > 0) {
                sum += shape->padfX[shape->nVertices - 1] + shape->padfY[0];
            }
        }
        SHPDestroyObject(shape);
    }
    for (int r = 0; r < nRecords; ++r) {
        for (int c = 0; c < nColumns; ++c) {
            const char* text = DBFReadStringAttribute(hDBF, r, c);
            if (text != nullptr) nTextBytes += std::strlen(text);
        }
    }
    SHPClose(hSHP);
    DBFClose(hDBF);
    std::printf("shapes=%d vertices=%llu records=%d columns=%d text_bytes=%llu checksum=%.6f\n",
                nShapes, static_cast<unsigned long long>(nVertices), nRecords, nColumns,
                static_cast<unsigned long long>(nTextBytes), sum);
    return 0;
}

std::vector<double> readCoordinates(const char* path) {
    std::vector<double> coordinates;
    SHPHandle hSHP = SHPOpen(path, "rb");
    if (hSHP == nullptr) return coordinates;
    int nShapes = 0;
    SHPGetInfo(hSHP, &nShapes, nullptr, nullptr, nullptr);
    for (int r = 0; r < nShapes; ++r) {
        SHPObject* shape = SHPReadObject(hSHP, r);
        if (shape != nullptr) {
            for (int v = 0; v < shape->nVertices; ++v) {
                coordinates.push_back(shape->padfY[v]);
                coordinates.push_back(shape->padfX[v]);
            }
        }
        SHPDestroyObject(shape);
    }
    SHPClose(hSHP);
    return coordinates;
}

constexpr std::size_t kBufferSize = std::size_t{1} << 20;

// Formats every value into a buffer that starts over when nearly full, as
// the converter's output buffer does, and returns the seconds taken; the
// byte count and a checksum go to *nBytes and *check.
template <typename Format>
double timeFormatting(const std::vector<double>& coordinates, std::vector<char>& buffer,
                      Format format, std::uint64_t* nBytes, unsigned* check) {
    const auto start = std::chrono::steady_clock::now();
    char* const begin = buffer.data();
    char* const limit = begin + buffer.size() - 2 * orvtessel::kFixedBufferSize;
    char* p = begin;
    std::uint64_t total = 0;
    unsigned sum = 0;
    for (const double value : coordinates) {
        char* end = format(p, value);
        sum += static_cast<unsigned char>(end[-1]);
        p = end;
        *p++ = ',';
        if (p > limit) {
            total += static_cast<std::uint64_t>(p - begin);
            p = begin;
        }
    }
    total += static_cast<std::uint64_t>(p - begin);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    *nBytes = total;
    *check = sum;
    return elapsed.count();
}

int timeFormats(const char* path) {
    const std::vector<double> coordinates = readCoordinates(path);
    if (coordinates.empty()) {
        std::fprintf(stderr, "no coordinates in %s\n", path);
        return 1;
    }
    std::vector<char> buffer(kBufferSize);
    std::uint64_t nBytesC = 0;
    std::uint64_t nBytesFixed = 0;
    unsigned checkC = 0;
    unsigned checkFixed = 0;
    const double secondsC = timeFormatting(
        coordinates, buffer,
        [](char* out, double value) {
            const int n = std::snprintf(out, orvtessel::kFixedBufferSize, "%.6f", value);
            return out + n;
        },
        &nBytesC, &checkC);
    const double secondsFixed = timeFormatting(
        coordinates, buffer,
        [](char* out, double value) { return orvtessel::formatFixed(out, value, 6); },
        &nBytesFixed, &checkFixed);
    const double n = static_cast<double>(coordinates.size());
    // The byte counts differ only where the C library rounds a tie to even,
    // which cannot change a length; a difference means a formatting fault.
    std::printf("coordinates=%zu snprintf_ns=%.2f fixed_ns=%.2f ratio=%.1f bytes=%llu/%llu "
                "check=%u/%u\n",
                coordinates.size(), secondsC * 1e9 / n, secondsFixed * 1e9 / n,
                secondsC / secondsFixed, static_cast<unsigned long long>(nBytesC),
                static_cast<unsigned long long>(nBytesFixed), checkC, checkFixed);
    return nBytesC == nBytesFixed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2) return readLayer(argv[1], false);
    if (argc == 3 && std::strcmp(argv[1], "--skip-same-seeks") == 0) return readLayer(argv[2], true);
    if (argc == 3 && std::strcmp(argv[1], "--format") == 0) return timeFormats(argv[2]);
    std::fprintf(stderr, "usage: orvtessel_bench_read [--skip-same-seeks | --format] <layer.shp>\n");
    return 2;
}
