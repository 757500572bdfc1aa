// The command line of one run: options first, then 3 to 7 positional
// arguments.
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

    std::optional<std::string> outputOption;  // -o, --output
    bool quiet = false;                       // -q, --quiet
    std::optional<std::string> typeMapPath;   // --type-map
    int endLevel = -1;                        // --end-level, 0 to 9; -1 when not given
    std::optional<std::string> layerCodePage; // --layer-code-page, as typed
    bool append = false;                      // -a, --append

    // The -o path as given, or the layer path with ".mp" appended; "-" is
    // standard output.
    std::string outputFileName;

    bool toStandardOutput() const { return outputOption && *outputOption == "-"; }
};

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    RunOptions options;
    // For Action::Error: the "[ERR] ..." line, and how the options read
    // before the error want the console (quiet, standard error).
    std::string error;
    bool quietAtError = false;
    bool standardOutputAtError = false;
};

// Options come before the first positional argument; "--" ends them, and a
// lone "-" is positional. Short options take their value as the next
// argument, long ones as the next argument or after "=". The last of a
// repeated option counts; the first option that ends the run (help,
// version, an error) decides.
CommandLine parseCommandLine(int argc, const char* const* argv);

// The --help text.
const char* helpText();

}  // namespace orvtessel
