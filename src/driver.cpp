#include "driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <new>
#include <stdexcept>

#include <shapefil.h>
#include <unicode/uversion.h>

#include "attribute_lines.h"
#include "console.h"
#include "coordinate_system.h"
#include "fixed_format.h"
#include "map_header.h"
#include "output_stream.h"
#include "record_loop.h"
#include "run_options.h"
#include "sequential_hooks.h"
#include "text_code_page.h"
#include "type_map.h"

namespace orvtessel {
namespace {

constexpr std::string_view kBanner =
    "----------------------------------------------------------------------\n"
    "| Welcome to Orlavane tessel                                         |\n"
    "| This was modified from Dremmick's tessel                           |\n"
    "| Version: 0.9.8  (20160229)                                         |\n"
    "| Licenses: GPLv3, LGPLv2                                            |\n"
    "| Updates/info: https://example.org/orvtessel                        |\n"
    "|                                                                    |\n"
    "|                          ---USAGE---                               |\n"
    "|                                                                    |\n"
    "| Inputs: shapefile.shp type label (include all y/n) (dictionary.mp) |\n"
    "| (MapID) (MapName)                                                  |\n"
    "| Type must be the column with type information and label the column |\n"
    "| with name information. Include all should be n for only output the |\n"
    "| geographic data, name, and type code. Map ID & name can only be    |\n"
    "| used with a custom dictionary.                                     |\n"
    "----------------------------------------------------------------------\n"
    "\n";

constexpr std::string_view kUsage =
    "[INF] Usage: Orvtessel <selected shape layer> <type column> <label column> "
    "(<include all columns (default yes)>) (<dictionary file>) (<mapid>) (<MapName>)\n";

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // an [ERR] or [CRIT] message ended the run
constexpr int kExitUsage = 2;    // the command line is wrong

// Our version, then the libraries' that do the work.
std::string versionText() {
    std::string text = "orvtessel " ORVTESSEL_VERSION "\n";
    text += "PROJ " + projVersion() + "\n";
    UVersionInfo icuVersion;
    u_getVersion(icuVersion);
    char icuText[U_MAX_VERSION_STRING_LENGTH];
    u_versionToString(icuVersion, icuText);
    text += std::string("ICU ") + icuText + "\n";
    return text;
}

struct DbfCloser {
    void operator()(DBFInfo* hDBF) const { DBFClose(hDBF); }
};
struct ShpCloser {
    void operator()(SHPInfo* hSHP) const { SHPClose(hSHP); }
};
using DbfPtr = std::unique_ptr<DBFInfo, DbfCloser>;
using ShpPtr = std::unique_ptr<SHPInfo, ShpCloser>;

long long clockMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Writes the header and tells the code page it declares (nothing when a
// dictionary declares none).
bool writeMapHeader(OutputStream& out, const RunOptions& options, MapHeaderInfo& header) {
    if (!options.dictionaryPath) {
        printOut("[INF] No dictionary file provided, using default\n");
        header = writeDefaultHeader(out);
        return true;
    }
    printOut("[INF] Using dictionary file: " + *options.dictionaryPath + "\n");
    if (!copyDictionary(out, *options.dictionaryPath, options.mapId, options.mapName, header)) {
        printOut("[ERR] Dictionary file not found. Exiting...\n");
        return false;
    }
    return true;
}

// The map the sections are added to: its header tells the code page and
// the levels; the sections start on a line of their own.
bool openForAppending(OutputStream& out, const std::string& path, MapHeaderInfo& header) {
    std::string reason;
    int lastByte = -1;
    if (!readExistingHeader(path, header, reason)) {
        // As checked: the reason says what is wrong with the file.
    } else if (!out.openForAppend(path, lastByte)) {
        reason = "cannot be written";
    } else {
        const std::string codePage = header.codePage ? *header.codePage : "none";
        printOut("[INF] Appending to " + path + " (code page " + codePage + ").\n");
        if (lastByte != '\n') out.newline();
        return true;
    }
    printOut("[ERR] Cannot append to " + path + ": " + reason + ". Exiting...\n");
    return false;
}

// Map compilers cap an end level at the header's highest level: said once,
// with the largest level that is not below the number of levels.
void warnAboutEndLevels(const RunOptions& options, const TypeMap* typeMap,
                        const MapHeaderInfo& header) {
    if (!header.nLevels) return;
    int largest = options.endLevel;
    if (typeMap != nullptr) {
        for (const TypeRule& rule : typeMap->rules()) largest = std::max(largest, rule.endLevel);
    }
    if (largest >= 0 && largest >= *header.nLevels) {
        printOut("[WRN] End level " + std::to_string(largest) + " is not below the header's Levels=" +
                 std::to_string(*header.nLevels) + "; map compilers cap it.\n");
    }
}

#ifndef _WIN32
// A standard descriptor that is closed would be handed to the next file the
// run opens, and console messages would land in the map. Park /dev/null there.
// A map written to a closed standard output fails.
void reserveStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1) {
            if (fd == 1) markStandardOutputUnusable();
            const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (opened != -1 && opened != fd) close(opened);
        }
    }
}
#endif

}  // namespace

std::string runningTimeText(long long elapsedMs) {
    const double seconds = static_cast<double>(elapsedMs) / 1000.0;
    // The form is chosen before rounding: 59.96 s prints "60.0 seconds".
    if (seconds < 60.0) {
        return "\n[INF] Running time was: " + fixedString(seconds, 1) + " seconds\n";
    }
    const auto whole = static_cast<long long>(seconds);
    const long long secondsPart = whole % 60;
    const long long minutesPart = (whole - secondsPart) / 60;
    return "\n[INF] Running time was: " + std::to_string(minutesPart) + " minutes " +
           std::to_string(secondsPart) + " seconds.\n";
}

int runConverter(int argc, const char* const* argv) {
    const long long startMs = clockMilliseconds();

    const CommandLine commandLine = parseCommandLine(argc, argv);
    switch (commandLine.action) {
        case CommandLine::Action::Help:
            std::fputs(helpText(), stdout);
            return kExitSuccess;
        case CommandLine::Action::Version:
            std::fputs(versionText().c_str(), stdout);
            return kExitSuccess;
        case CommandLine::Action::Error:
            setConsoleForm({commandLine.quietAtError, commandLine.standardOutputAtError});
            printBanner(kBanner);
            printOut(commandLine.error);
            printAlways(kUsage);
            return kExitUsage;
        case CommandLine::Action::Run:
            break;
    }
    const RunOptions& options = commandLine.options;
    setConsoleForm({options.quiet, options.toStandardOutput()});
    printBanner(kBanner);

    // Both opens come first, so that shapelib's own reports of both reach
    // standard error whatever the outcome.
    SAHooks hooks = sequentialReadHooks();
    DbfPtr hDBF(DBFOpenLL(options.layerPath.c_str(), "rb", &hooks));
    ShpPtr hSHP(SHPOpenLL(options.layerPath.c_str(), "rb", &hooks));
    if (!hDBF) {
        printOut("[ERR] No .dbf file found. Exiting...\n");
        return kExitFailure;
    }
    if (!hSHP) {
        printOut("[ERR] No .shp file found. Exiting...\n");
        return kExitFailure;
    }

    std::optional<TypeMap> typeMap;
    if (options.typeMapPath) {
        std::string error;
        typeMap = TypeMap::read(*options.typeMapPath, error);
        if (!typeMap) {
            printOut(error);
            return kExitFailure;
        }
    }

    // Until close() succeeds, the output path keeps what it held before.
    OutputStream out;
    MapHeaderInfo header;
    if (options.append) {
        if (!openForAppending(out, options.outputFileName, header)) return kExitFailure;
    } else {
        if (!out.open(options.outputFileName)) {
            printOut("[ERR] Cannot create output file " + options.outputFileName +
                     ". Exiting...\n");
            return kExitFailure;
        }
        if (!writeMapHeader(out, options, header)) return kExitFailure;
    }
    CoordinateSystem coordinates = CoordinateSystem::forLayer(options.layerPath, hSHP.get());
    TextCodePage text =
        TextCodePage::forLayer(hDBF.get(), header.codePage,
                               options.layerCodePage ? options.layerCodePage->c_str() : nullptr);
    const ColumnTitle columnTitle = readColumnTitle(hDBF.get());
    // A type map of "*" alone never reads the type column.
    warnAboutMissingColumns(columnTitle, options, !(typeMap && typeMap->onlyDefault()));
    if (typeMap) {
        printOut("[INF] Types are taken from the type map " + *options.typeMapPath + " (" +
                 std::to_string(typeMap->size()) + " rules).\n");
    }
    warnAboutEndLevels(options, typeMap ? &*typeMap : nullptr, header);
    warnAboutCompilerKeys(columnTitle, options);
    AttributeLines attributes(hDBF.get(), columnTitle, options, text, typeMap ? &*typeMap : nullptr);

    const std::optional<LayerKind> kind = probeLayerKind(hSHP.get(), options.layerPath);
    if (!kind) return kExitFailure;
    runRecordLoop(out, hSHP.get(), hDBF.get(), *kind, coordinates, attributes);

    const bool written = out.close();
    hDBF.reset();
    hSHP.reset();
    if (!written) {
        printOut("\n[ERR] Writing " + options.outputFileName + " failed. Exiting...\n");
        return kExitFailure;
    }
    printOut("\n[INF] " + options.outputFileName + " file has been written out.");
    printOut(runningTimeText(clockMilliseconds() - startMs));
    flushOut();
    return kExitSuccess;
}

int orvtesselMain(int argc, const char* const* argv) {
#ifndef _WIN32
    reserveStandardDescriptors();
    // A console pipe whose reader has gone must not end the conversion.
    signal(SIGPIPE, SIG_IGN);
#endif
    try {
        return runConverter(argc, argv);
    } catch (const std::bad_alloc&) {
        // Unwinding removes a temporary output file on the way out.
        printOut("\n[ERR] Out of memory. Exiting...\n");
        flushOut();
        return kExitFailure;
    } catch (const std::runtime_error&) {
        // A library that cannot be loaded; it was said on standard error.
        flushOut();
        return kExitFailure;
    }
}

}  // namespace orvtessel
