// The positional command-line arguments of one run.
#pragma once

#include <optional>
#include <string>

namespace orvtessel {

struct RunOptions {
    std::string layerPath;    // as typed; handed to shapelib unchanged
    std::string typeColumn;   // written under the key "Type"
    std::string labelColumn;  // written under the key "Label"
    bool includeAll = true;   // off only for an argument of exactly "n"
    std::optional<std::string> dictionaryPath;
    std::optional<std::string> mapId;    // used only with a dictionary
    std::optional<std::string> mapName;  // used only with a dictionary
    std::string outputFileName;          // layerPath + ".mp"
};

// Reads 3 to 7 arguments after the program name; anything else gives no
// options (the caller prints the usage).
std::optional<RunOptions> parseRunOptions(int argc, const char* const* argv);

}  // namespace orvtessel
