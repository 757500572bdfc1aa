#include "fuzz_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
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

// The whole file, or nothing when there is no readable regular file.
std::optional<std::string> fileContent(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

[[noreturn]] void failCheck(const char* what, const std::string& path) {
    std::fprintf(stderr, "fuzz harness: %s: %s\n", what, path.c_str());
    std::abort();
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Every section the converter writes ends so; a map cut short does not.
constexpr std::string_view kSectionEnd = "[END]\r\n\r\n";

// A converter run must never leave its temporary output file behind.
void checkNoTemporaryFiles(const std::string& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".tmp") failCheck("temporary file left behind", entry.path());
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

// The choices of one input, decoded from bytes 0 to 3.
struct Choices {
    unsigned typeColumn = 0;
    unsigned labelColumn = 0;
    unsigned includeAll = 0;
    unsigned nTrailing = 0;
    bool layerWithoutSuffix = false;
    bool dictionaryMissing = false;
    bool oddText = false;
    bool dictionaryFolder = false;
    bool extended = false;
    // Bytes 2 and 3, only with `extended`.
    unsigned typeMap = 0;
    unsigned endLevel = 0;
    bool quiet = false;
    bool endOfOptions = false;
    unsigned runs = 0;
    unsigned layerCodePage = 0;
    unsigned output = 0;
    bool outputExists = false;
};

enum Runs : unsigned { kOneRun = 0, kAppend = 1, kRunThenAppend = 2, kAppendThroughLink = 3 };

// The arguments of one converter run; the strings live as long as it does.
class Arguments {
public:
    void add(std::string argument) { strings_.push_back(std::move(argument)); }
    int run() {
        std::vector<const char*> argv;
        for (const std::string& s : strings_) argv.push_back(s.c_str());
        // The converter installs handlers for these signals that remove its
        // temporary file and end the process; outside a run, the fuzzer's
        // own handlers (final statistics, clean exit on SIGINT) come back.
        static const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
        struct sigaction saved[std::size(kSignals)] {};
        for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], nullptr, &saved[i]);
        const int status = orvtessel::runConverter(static_cast<int>(argv.size()), argv.data());
        for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &saved[i], nullptr);
        // ORVTESSEL_FUZZ_TRACE set: each run's arguments and exit status on
        // standard error, for reading what an artifact does.
        static const bool trace = std::getenv("ORVTESSEL_FUZZ_TRACE") != nullptr;
        if (trace) {
            std::string line = "fuzz harness: run";
            for (const std::string& s : strings_) line += " '" + s + "'";
            std::fprintf(stderr, "%s -> %d\n", line.c_str(), status);
        }
        return status;
    }

private:
    std::vector<std::string> strings_;
};

struct RunPaths {
    std::string folder;
    std::string layer;       // as given to the converter
    std::string typeColumn;
    std::string labelColumn;
    std::string dictionary;  // the dictionary argument
    std::string typeMap;     // the file the input's type map is written to
};

// The options before the positional arguments: type map, end level, -q,
// code page and output, as the choices select them.
void addOptions(Arguments& arguments, const Choices& c, const RunPaths& paths, bool append,
                const std::string& outputPath) {
    if (c.quiet) arguments.add("-q");
    switch (c.typeMap) {
        case 1:
            arguments.add("--type-map");
            arguments.add(paths.typeMap);
            break;
        case 2:
            arguments.add("--type-map=" + paths.typeMap);
            break;
        case 3:
            arguments.add("--type-map");
            arguments.add(paths.folder + "/folder.mp");
            break;
        default:
            break;
    }
    if (c.endLevel >= 1 && c.endLevel <= 10) {
        arguments.add("--end-level");
        arguments.add(std::to_string(c.endLevel - 1));
    } else if (c.endLevel == 11) {
        arguments.add("--end-level");
        arguments.add("10");
    } else if (c.endLevel >= 12) {
        arguments.add("--end-level=" + std::to_string((c.endLevel - 12) * 3));
    }
    static const char* const kCodePages[] = {nullptr,        "UTF-8", "1252",         "CP1251",
                                             "ISO-8859-2",   "cp866", "windows-1250", "CP99999"};
    if (kCodePages[c.layerCodePage] != nullptr) {
        arguments.add("--layer-code-page");
        arguments.add(kCodePages[c.layerCodePage]);
    }
    if (append) arguments.add(c.output == 3 ? "--append" : "-a");
    switch (c.output) {
        case 1:
            arguments.add("-o");
            arguments.add(outputPath);
            break;
        case 2:
            arguments.add("-o");
            arguments.add("-");
            break;
        case 3:
            arguments.add("--output=" + outputPath);
            break;
        default:
            break;
    }
    if (c.endOfOptions) arguments.add("--");
}

void addPositional(Arguments& arguments, const Choices& c, const RunPaths& paths, bool append,
                   const std::string& mapId, const std::string& mapName) {
    arguments.add(paths.layer);
    arguments.add(paths.typeColumn);
    arguments.add(paths.labelColumn);
    // An append run takes no dictionary: its trailing arguments are dropped.
    const unsigned nTrailing = append ? 0 : c.nTrailing;
    if (c.includeAll != 0 || nTrailing != 0) {
        static const char* const kIncludeAll[] = {"y", "n", "y", ""};
        arguments.add(kIncludeAll[c.includeAll]);
    }
    if (nTrailing >= 1) arguments.add(paths.dictionary);
    if (nTrailing >= 2) arguments.add(mapId);
    if (nTrailing >= 3) arguments.add(mapName);
}

// After a run: no temporary file stays; a failed run leaves the output
// path as it was; a successful one into a file leaves a whole map there.
// `before` is the output path's content before the run (nothing: absent).
void checkRun(int status, const std::string& folder, const std::string& outputPath, bool toFile,
              bool append, bool defaultHeader, const std::optional<std::string>& before) {
    checkNoTemporaryFiles(folder);
    const std::optional<std::string> after = fileContent(outputPath);
    if (status != 0 || !toFile) {
        if (after != before) failCheck("output changed by a run that wrote none", outputPath);
        return;
    }
    if (!after) failCheck("successful run left no output", outputPath);
    std::string_view added = *after;
    if (append) {
        if (!before || after->compare(0, before->size(), *before) != 0) {
            failCheck("appending changed the existing map", outputPath);
        }
        added.remove_prefix(before->size());
        if (!before->empty() && before->back() != '\n') {
            if (added.substr(0, 2) != "\r\n") failCheck("appended sections not on a new line", outputPath);
            added.remove_prefix(2);
        }
    } else if (defaultHeader) {
        constexpr std::string_view kHeaderEnd = "[END-IMG ID]\r\n\r\n";
        const std::size_t end = added.find(kHeaderEnd);
        if (end == std::string_view::npos) failCheck("map without its header", outputPath);
        added.remove_prefix(end + kHeaderEnd.size());
    } else {
        // A dictionary's copy: every line ends with CR LF.
        if (!added.empty() && !endsWith(added, "\r\n")) failCheck("map cut short", outputPath);
        return;
    }
    if (!added.empty() && !endsWith(added, kSectionEnd)) failCheck("map cut short", outputPath);
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

    const auto byteAt = [&](std::size_t i) -> unsigned { return i < size ? data[i] : 0u; };
    Choices c;
    const unsigned choice0 = byteAt(0);
    const unsigned choice1 = byteAt(1);
    c.typeColumn = choice0 & 3u;
    c.labelColumn = (choice0 >> 2) & 3u;
    c.includeAll = (choice0 >> 4) & 3u;
    c.nTrailing = (choice0 >> 6) & 3u;
    c.layerWithoutSuffix = (choice1 & 1u) != 0;
    c.dictionaryMissing = (choice1 & 2u) != 0;
    c.oddText = (choice1 & 4u) != 0;
    c.dictionaryFolder = (choice1 & 8u) != 0;
    c.extended = (choice1 & 16u) != 0;
    std::size_t nHeader = 2;
    if (c.extended) {
        const unsigned choice2 = byteAt(2);
        const unsigned choice3 = byteAt(3);
        c.typeMap = choice2 & 3u;
        c.endLevel = (choice2 >> 2) & 15u;
        c.quiet = (choice2 & 64u) != 0;
        c.endOfOptions = (choice2 & 128u) != 0;
        c.runs = choice3 & 3u;
        c.layerCodePage = (choice3 >> 2) & 7u;
        c.output = (choice3 >> 5) & 3u;
        c.outputExists = (choice3 & 128u) != 0;
        nHeader = 4;
    }
    if (nHeader > size) nHeader = size;
    std::string_view rest(reinterpret_cast<const char*>(data) + nHeader, size - nHeader);

    // .shp, .shx, .dbf, dictionary, .prj, .cpg, and with the extended
    // choices the type map and the existing map: split at the separators.
    const std::size_t maxParts = c.extended ? 8 : 6;
    std::array<std::string_view, 8> parts{};
    std::size_t nParts = 0;
    const std::string_view separator(kSeparator, kSeparatorSize);
    while (nParts + 1 < maxParts) {
        const std::size_t at = rest.find(separator);
        if (at == std::string_view::npos) break;
        parts[nParts++] = rest.substr(0, at);
        rest.remove_prefix(at + kSeparatorSize);
    }
    parts[nParts++] = rest;
    const auto part = [&](std::size_t i) { return nParts > i ? &parts[i] : nullptr; };

    const std::string base = folder + "/layer";
    placeFile(base + ".shp", part(0));
    placeFile(base + ".shx", part(1));
    placeFile(base + ".dbf", part(2));
    const std::string dictionaryPath = folder + "/dictionary.mp";
    placeFile(dictionaryPath, part(3));
    placeFile(base + ".prj", part(4));
    placeFile(base + ".cpg", part(5));
    RunPaths paths;
    paths.folder = folder;
    paths.typeMap = folder + "/types.txt";
    placeFile(paths.typeMap, part(6));
    // Output of the previous input must not be what this one appends to.
    const std::string outputFile = folder + "/out.mp";
    const std::string linkPath = folder + "/link.mp";
    for (const std::string& old : {base + ".shp.mp", base + ".mp", outputFile, linkPath}) {
        std::remove(old.c_str());
    }

    const std::string_view dbf = nParts > 2 ? parts[2] : std::string_view();
    paths.layer = c.layerWithoutSuffix ? base : base + ".shp";
    paths.typeColumn = chooseColumn(dbf, c.typeColumn);
    paths.labelColumn = chooseColumn(dbf, c.labelColumn);
    paths.dictionary = dictionaryPath;
    if (c.dictionaryMissing) paths.dictionary = folder + "/missing.mp";
    if (c.dictionaryFolder) paths.dictionary = folder + "/folder.mp";
    const std::string mapId = c.oddText ? std::string("12\r\n34") : std::string("55501234");
    const std::string mapName =
        c.oddText ? std::string("Karte \xE4\xF6\n[END]") : std::string("fuzz map");

    // Where the map goes: -o FILE, or the layer path with ".mp" added.
    const bool toStandardOutput = c.output == 2;
    const std::string outputPath = c.output == 0 ? paths.layer + ".mp" : outputFile;
    const bool defaultHeader = c.nTrailing == 0;

    const bool appendRun = c.extended && c.runs != kOneRun;
    if (!appendRun || c.runs == kRunThenAppend) {
        if (c.outputExists && !toStandardOutput) placeFile(outputPath, part(7));
        const std::optional<std::string> before = fileContent(outputPath);
        Arguments arguments;
        arguments.add("orvtessel");
        addOptions(arguments, c, paths, false, outputPath);
        addPositional(arguments, c, paths, false, mapId, mapName);
        const int status = arguments.run();
        // The converter writes through stdio; what it buffered belongs to
        // this input, and /dev/null takes it at once.
        std::fflush(stdout);
        checkRun(status, folder, outputPath, !toStandardOutput, false, defaultHeader, before);
    }
    if (appendRun) {
        std::string appendPath = outputPath;
        if (c.runs == kAppend) {
            placeFile(outputPath, part(7));
        } else if (c.runs == kAppendThroughLink) {
            placeFile(outputPath, part(7));
            if (!toStandardOutput && c.output != 0) {
                // -o names a symbolic link to the existing map.
                if (symlink(outputPath.c_str(), linkPath.c_str()) != 0) {
                    failCheck("cannot make a symbolic link", linkPath);
                }
                appendPath = linkPath;
            }
        }
        const std::optional<std::string> before = fileContent(outputPath);
        Arguments arguments;
        arguments.add("orvtessel");
        addOptions(arguments, c, paths, true, appendPath);
        addPositional(arguments, c, paths, true, mapId, mapName);
        const int status = arguments.run();
        std::fflush(stdout);
        checkRun(status, folder, outputPath, !toStandardOutput, true, false, before);
    }
}

}  // namespace orvtesselfuzz
