#include "map_header.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include "ascii_text.h"
#include "console.h"
#include "text_code_page.h"
#include "text_file.h"

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

constexpr const char* kDefaultHeaderCodePage = "1250";
constexpr int kDefaultHeaderLevels = 4;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The value of a "key=value" line whose key is `key` (in any case, blanks
// around key and value ignored); nothing for any other line.
std::optional<std::string_view> valueOf(std::string_view headerLine, std::string_view key) {
    const std::size_t equals = headerLine.find('=');
    if (equals == std::string_view::npos ||
        !equalsIgnoringCase(trimmed(headerLine.substr(0, equals), " \t"), key)) {
        return std::nullopt;
    }
    return trimmed(headerLine.substr(equals + 1), " \t");
}

}  // namespace

void MapHeaderReader::readLine(std::string_view headerLine) {
    if (!info_.codePage) {
        if (const auto value = valueOf(headerLine, "Codepage")) info_.codePage = std::string(*value);
    }
    if (!levelsSeen_) {
        if (const auto value = valueOf(headerLine, "Levels")) {
            levelsSeen_ = true;
            const bool isNumber = !value->empty() && value->size() <= 9 &&
                                  std::all_of(value->begin(), value->end(),
                                              [](char c) { return c >= '0' && c <= '9'; });
            if (isNumber) info_.nLevels = std::stoi(std::string(*value));
        }
    }
}

MapHeaderInfo writeDefaultHeader(OutputStream& out) {
    out.write(kDefaultHeader);
    MapHeaderInfo info;
    info.codePage = kDefaultHeaderCodePage;
    info.nLevels = kDefaultHeaderLevels;
    return info;
}

bool copyDictionary(OutputStream& out, const std::string& dictionaryPath,
                    const std::optional<std::string>& mapId,
                    const std::optional<std::string>& mapName, MapHeaderInfo& info) {
    // Read whole first: the code page the ID and name are converted to may
    // come after their lines.
    std::string text;
    if (!readTextFile(dictionaryPath, text)) return false;
    MapHeaderReader reader;
    forEachLine(text, [&](std::string_view line, bool) { reader.readLine(line); });
    info = reader.info();

    std::optional<std::string> writtenId;
    std::optional<std::string> writtenName;
    if (mapId) writtenId = TextCodePage::convertCommandLineText(*mapId, info.codePage);
    if (mapName) writtenName = TextCodePage::convertCommandLineText(*mapName, info.codePage);
    forEachLine(text, [&](std::string_view dictionaryLine, bool) {
        if (mapId && dictionaryLine == "ID=") {
            out.write("ID=");
            out.write(*writtenId);
            printOut("[INF] Using custom ID: " + *mapId + "\n");
        } else if (mapName && dictionaryLine == "Name=") {
            out.write("Name=");
            out.write(*writtenName);
            printOut("[INF] Using custom map name: " + *mapName + "\n");
        } else {
            // The line holds no LF; a lone CR stays as it is.
            out.writeRaw(dictionaryLine);
        }
        out.newline();
    });
    return true;
}

bool readExistingHeader(const std::string& path, MapHeaderInfo& info, std::string& reason) {
    struct stat linkInfo {};
    struct stat fileInfo {};
    if (lstat(path.c_str(), &linkInfo) != 0 || stat(path.c_str(), &fileInfo) != 0) {
        reason = "no such file";
        return false;
    }
    FilePtr file(S_ISREG(fileInfo.st_mode) ? std::fopen(path.c_str(), "rb") : nullptr);
    if (!file) {
        reason = "cannot be read";
        return false;
    }
    if (access(path.c_str(), W_OK) != 0) {
        reason = "cannot be written";
        return false;
    }

    // Line by line until "[END-IMG ID]"; only the current line is kept.
    MapHeaderReader reader;
    bool inHeader = false;
    bool complete = false;
    bool broken = false;
    std::string line;
    const auto takeLine = [&](std::string_view headerLine) {
        if (!inHeader) {
            if (headerLine == "[IMG ID]") {
                inHeader = true;
            } else if (!headerLine.empty() && headerLine.front() != ';') {
                broken = true;
            }
        } else if (headerLine == "[END-IMG ID]") {
            complete = true;
        } else {
            reader.readLine(headerLine);
        }
    };
    char chunk[65536];
    std::size_t nRead = 0;
    while (!complete && !broken && (nRead = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        std::string_view rest(chunk, nRead);
        for (std::size_t lf = rest.find('\n'); lf != std::string_view::npos && !complete && !broken;
             lf = rest.find('\n')) {
            line.append(rest.data(), lf);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            takeLine(line);
            line.clear();
            rest.remove_prefix(lf + 1);
        }
        if (!complete && !broken) line.append(rest.data(), rest.size());
    }
    if (!complete && !broken && !line.empty() && std::ferror(file.get()) == 0) takeLine(line);
    if (std::ferror(file.get()) != 0) {
        reason = "cannot be read";
        return false;
    }
    if (!complete) {
        reason = "no map header";
        return false;
    }
    info = reader.info();
    return true;
}

}  // namespace orvtessel
