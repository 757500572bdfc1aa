#include "map_header.h"

#include <cstdio>
#include <memory>
#include <string_view>

#include <sys/stat.h>

#include "ascii_text.h"
#include "console.h"

namespace orvtessel {
namespace {

constexpr std::string_view kDefaultHeader =
    ";#################\n"
    ";Created by Orlavane tessel\n"
    ";#################\n"
    ";\n"
    "[IMG ID]\n"
    "ID=99999999\n"
    "Name=test_map\n"
    "Elevation=M\n"
    "LBLcoding=9\n"
    "Codepage=1250\n"
    "Marine=N\n"
    "Copyright=Check the Copyright details for the source file!\n"
    "Preprocess=F\n"
    ";TreSize=3000\n"
    "POIIndex=N\n"
    "Transparent=Y\n"
    "Levels=4\n"
    "Level0=24\n"
    "Level1=22\n"
    "Level2=20\n"
    "Level3=18\n"
    "Zoom0=1\n"
    "Zoom1=2\n"
    "Zoom2=3\n"
    "Zoom3=4\n"
    "[END-IMG ID]\n"
    "\n";

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file (or anything readable that is not a folder) for
// reading; a folder cannot be read as a dictionary.
FilePtr openDictionary(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return nullptr;
    struct stat info {};
    if (fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) return nullptr;
    return file;
}

// The value of a "Codepage=" line, key in any case and blanks around key
// and value ignored; nothing for any other line.
std::optional<std::string> codePageOf(std::string_view dictionaryLine) {
    const std::size_t equals = dictionaryLine.find('=');
    if (equals == std::string_view::npos ||
        !equalsIgnoringCase(trimmed(dictionaryLine.substr(0, equals), " \t"), "Codepage")) {
        return std::nullopt;
    }
    return std::string(trimmed(dictionaryLine.substr(equals + 1), " \t"));
}

void writeDictionaryLine(OutputStream& out, std::string_view dictionaryLine,
                         const std::optional<std::string>& mapId,
                         const std::optional<std::string>& mapName,
                         std::optional<std::string>& codePage) {
    if (!codePage) codePage = codePageOf(dictionaryLine);
    if (mapId && dictionaryLine == "ID=") {
        out.write("ID=");
        out.write(*mapId);
        printOut("[INF] Using custom ID: " + *mapId + "\n");
    } else if (mapName && dictionaryLine == "Name=") {
        out.write("Name=");
        out.write(*mapName);
        printOut("[INF] Using custom map name: " + *mapName + "\n");
    } else {
        // The line holds no LF; a lone CR stays as it is.
        out.writeRaw(dictionaryLine);
    }
    out.newline();
}

}  // namespace

void writeDefaultHeader(OutputStream& out) { out.write(kDefaultHeader); }

bool copyDictionary(OutputStream& out, const std::string& dictionaryPath,
                    const std::optional<std::string>& mapId,
                    const std::optional<std::string>& mapName,
                    std::optional<std::string>& codePage) {
    codePage.reset();
    FilePtr dictionaryFile = openDictionary(dictionaryPath);
    if (!dictionaryFile) return false;

    // A line is everything up to the next LF; a CR right before the LF
    // belongs to the line end. A last line without a line end is still a
    // line, and a final line end opens no further line.
    std::string dictionaryLine;
    char chunk[65536];
    std::size_t nRead = 0;
    while ((nRead = std::fread(chunk, 1, sizeof chunk, dictionaryFile.get())) > 0) {
        std::string_view rest(chunk, nRead);
        for (std::size_t lf = rest.find('\n'); lf != std::string_view::npos;
             lf = rest.find('\n')) {
            dictionaryLine.append(rest.data(), lf);
            if (!dictionaryLine.empty() && dictionaryLine.back() == '\r') dictionaryLine.pop_back();
            writeDictionaryLine(out, dictionaryLine, mapId, mapName, codePage);
            dictionaryLine.clear();
            rest.remove_prefix(lf + 1);
        }
        dictionaryLine.append(rest.data(), rest.size());
    }
    if (!dictionaryLine.empty()) writeDictionaryLine(out, dictionaryLine, mapId, mapName, codePage);
    return true;
}

}  // namespace orvtessel
