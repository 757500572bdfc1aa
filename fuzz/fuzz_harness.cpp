#include "fuzz_harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

#include "driver.h"

namespace orvtesselfuzz {
namespace {

std::string& scratchFolder() {
    static std::string folder;
    return folder;
}

bool writeBytes(const std::string& path, std::string_view bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// Writes bytes to path, or removes path when the input holds no such file,
// so nothing of an earlier input survives into this one.
void placeFile(const std::string& path, const std::string_view* bytes) {
    if (bytes != nullptr) {
        if (!writeBytes(path, *bytes)) {
            std::fprintf(stderr, "fuzz harness: cannot write %s\n", path.c_str());
            std::abort();
        }
    } else {
        std::remove(path.c_str());
    }
}

// The name of column `index` as the table's header stores it (11 bytes,
// NUL padded), read straight from the bytes; empty when out of range.
// Reading it here rather than through shapelib keeps the choice of the type
// and label columns independent of how shapelib copes with the header.
std::string columnName(std::string_view dbf, std::size_t index) {
    const std::size_t offset = 32 + 32 * index;
    if (dbf.size() < offset + 11 || dbf[offset] == '\r') return std::string();
    const std::string_view raw = dbf.substr(offset, 11);
    return std::string(raw.substr(0, raw.find('\0')));
}

std::size_t columnCount(std::string_view dbf) {
    std::size_t n = 0;
    while (dbf.size() >= 32 + 32 * (n + 1) && dbf[32 + 32 * n] != '\r' && n < 1000) ++n;
    return n;
}

std::string chooseColumn(std::string_view dbf, unsigned choice) {
    const std::size_t nColumns = columnCount(dbf);
    switch (choice) {
        case 0:
            return columnName(dbf, 0);
        case 1:
            return columnName(dbf, 1);
        case 2:
            return nColumns > 0 ? columnName(dbf, nColumns - 1) : std::string();
        default:
            return "NO_SUCH_COLUMN";
    }
}

}  // namespace

void initializeHarness() {
    std::string& folder = scratchFolder();
    if (!folder.empty()) return;
    char pattern[] = "/tmp/orvtessel-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("fuzz harness: mkdtemp");
        std::abort();
    }
    folder = pattern;
    // A normal exit (the replay, a fuzz run that ends by time) leaves no
    // scratch folder behind; after a crash it stays, with the files of the
    // input that crashed.
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(scratchFolder(), ignored);
    });
    std::string dictionaryFolder = folder + "/folder.mp";
    if (mkdir(dictionaryFolder.c_str(), 0700) != 0) {
        std::perror("fuzz harness: mkdir");
        std::abort();
    }
    std::fflush(stdout);
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull == -1 || dup2(devNull, STDOUT_FILENO) == -1) {
        std::perror("fuzz harness: redirecting standard output");
        std::abort();
    }
    close(devNull);
}

void runOneInput(const std::uint8_t* data, std::size_t size) {
    initializeHarness();
    const std::string& folder = scratchFolder();

    const unsigned choice0 = size > 0 ? data[0] : 0u;
    const unsigned choice1 = size > 1 ? data[1] : 0u;
    const std::size_t nHeader = size < 2 ? size : 2;
    std::string_view rest(reinterpret_cast<const char*>(data) + nHeader, size - nHeader);

    // .shp, .shx, .dbf, dictionary, .prj, .cpg: split at the first five
    // separators.
    std::array<std::string_view, 6> parts{};
    std::size_t nParts = 0;
    const std::string_view separator(kSeparator, kSeparatorSize);
    while (nParts < 5) {
        const std::size_t at = rest.find(separator);
        if (at == std::string_view::npos) break;
        parts[nParts++] = rest.substr(0, at);
        rest.remove_prefix(at + kSeparatorSize);
    }
    parts[nParts++] = rest;

    const std::string base = folder + "/layer";
    placeFile(base + ".shp", nParts > 0 ? &parts[0] : nullptr);
    placeFile(base + ".shx", nParts > 1 ? &parts[1] : nullptr);
    placeFile(base + ".dbf", nParts > 2 ? &parts[2] : nullptr);
    const std::string dictionaryPath = folder + "/dictionary.mp";
    placeFile(dictionaryPath, nParts > 3 ? &parts[3] : nullptr);
    placeFile(base + ".prj", nParts > 4 ? &parts[4] : nullptr);
    placeFile(base + ".cpg", nParts > 5 ? &parts[5] : nullptr);
    // Output of the previous input must not be what this one appends to.
    std::remove((base + ".shp.mp").c_str());
    std::remove((base + ".mp").c_str());

    const std::string_view dbf = nParts > 2 ? parts[2] : std::string_view();
    const std::string layerPath = (choice1 & 1u) != 0 ? base : base + ".shp";
    const std::string typeColumn = chooseColumn(dbf, choice0 & 3u);
    const std::string labelColumn = chooseColumn(dbf, (choice0 >> 2) & 3u);
    const unsigned includeChoice = (choice0 >> 4) & 3u;
    const unsigned nTrailing = (choice0 >> 6) & 3u;

    std::string dictionaryArgument = dictionaryPath;
    if ((choice1 & 2u) != 0) dictionaryArgument = folder + "/missing.mp";
    if ((choice1 & 8u) != 0) dictionaryArgument = folder + "/folder.mp";
    const bool oddText = (choice1 & 4u) != 0;
    const std::string mapId = oddText ? std::string("12\r\n34") : std::string("55501234");
    const std::string mapName = oddText ? std::string("Karte \xE4\xF6\n[END]") : std::string("fuzz map");

    std::vector<const char*> argv = {"orvtessel", layerPath.c_str(), typeColumn.c_str(),
                                     labelColumn.c_str()};
    if (includeChoice != 0 || nTrailing != 0) {
        static const char* const kIncludeAll[] = {"y", "n", "y", ""};
        argv.push_back(kIncludeAll[includeChoice]);
    }
    if (nTrailing >= 1) argv.push_back(dictionaryArgument.c_str());
    if (nTrailing >= 2) argv.push_back(mapId.c_str());
    if (nTrailing >= 3) argv.push_back(mapName.c_str());

    orvtessel::runConverter(static_cast<int>(argv.size()), argv.data());
    // The converter writes through stdio; what it buffered belongs to this
    // input, and /dev/null takes it at once.
    std::fflush(stdout);
}

}  // namespace orvtesselfuzz
