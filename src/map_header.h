// The head of the output file: the built-in [IMG ID] block, or a copy of
// the user's dictionary file with its bare "ID=" and "Name=" lines filled in.
#pragma once

#include <optional>
#include <string>

#include "output_stream.h"

namespace orvtessel {

// The code page the built-in header declares.
inline constexpr const char* kDefaultHeaderCodePage = "1250";

void writeDefaultHeader(OutputStream& out);

// Copies the dictionary line by line. Returns false when the file cannot be
// opened (or is not a regular file); the caller then ends the run.
// `codePage` receives the value of the first line whose key is "Codepage"
// (in any case, as map compilers read it), or nothing when there is none.
bool copyDictionary(OutputStream& out, const std::string& dictionaryPath,
                    const std::optional<std::string>& mapId,
                    const std::optional<std::string>& mapName,
                    std::optional<std::string>& codePage);

}  // namespace orvtessel
