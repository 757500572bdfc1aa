// The head of the output file: the built-in [IMG ID] block, or a copy of
// the user's dictionary file with its bare "ID=" and "Name=" lines filled in.
#pragma once

#include <optional>
#include <string>

#include "output_stream.h"

namespace orvtessel {

// What the rest of the run needs to know of the map's header: its code
// page and its number of levels, as its first "Codepage=" and "Levels="
// lines give them (keys in any case, as map compilers read them).
struct MapHeaderInfo {
    std::optional<std::string> codePage;  // nothing when there is no such line
    std::optional<int> nLevels;           // nothing without a line whose value is a number
};

// Reads the code page and levels from header lines.
class MapHeaderReader {
public:
    void readLine(std::string_view headerLine);
    const MapHeaderInfo& info() const { return info_; }

private:
    MapHeaderInfo info_;
    bool levelsSeen_ = false;
};

// Writes the built-in block; returns what it declares.
MapHeaderInfo writeDefaultHeader(OutputStream& out);

// Copies the dictionary line by line. Returns false when the file cannot be
// opened or read (or is a folder); the caller then ends the run. A map ID
// or map name in UTF-8 is converted to the dictionary's code page.
bool copyDictionary(OutputStream& out, const std::string& dictionaryPath,
                    const std::optional<std::string>& mapId,
                    const std::optional<std::string>& mapName, MapHeaderInfo& info);

// Reads the header of an existing map the run appends to: the file must
// begin with an "[IMG ID]" line (only empty lines and ";" comments before
// it) and hold an "[END-IMG ID]" line later; the code page and levels are
// read up to that line. On failure returns false with the reason: "no such
// file", "cannot be read", "cannot be written" or "no map header".
bool readExistingHeader(const std::string& path, MapHeaderInfo& info, std::string& reason);

}  // namespace orvtessel
