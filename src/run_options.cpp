#include "run_options.h"

#include <string_view>

#include "code_page_names.h"

namespace orvtessel {
namespace {

enum class OptionId { Output, Quiet, Help, Version, TypeMap, EndLevel, LayerCodePage, Append };

struct KnownOption {
    OptionId id;
    const char* shortName;  // nullptr when there is none
    const char* longName;
    bool takesValue;
};

constexpr KnownOption kOptions[] = {
    {OptionId::Output, "-o", "--output", true},
    {OptionId::Quiet, "-q", "--quiet", false},
    {OptionId::Help, "-h", "--help", false},
    {OptionId::Version, "-V", "--version", false},
    {OptionId::TypeMap, nullptr, "--type-map", true},
    {OptionId::EndLevel, nullptr, "--end-level", true},
    {OptionId::LayerCodePage, nullptr, "--layer-code-page", true},
    {OptionId::Append, "-a", "--append", false},
};

const KnownOption* findOption(std::string_view name, bool isLong) {
    for (const KnownOption& known : kOptions) {
        const char* candidate = isLong ? known.longName : known.shortName;
        if (candidate != nullptr && name == candidate) return &known;
    }
    return nullptr;
}

CommandLine failed(CommandLine commandLine, const std::string& error) {
    commandLine.action = CommandLine::Action::Error;
    commandLine.error = error;
    commandLine.quietAtError = commandLine.options.quiet;
    commandLine.standardOutputAtError =
        commandLine.standardOutputAtError || commandLine.options.toStandardOutput();
    return commandLine;
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
    CommandLine commandLine;
    RunOptions& options = commandLine.options;

    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") {
            ++i;
            break;
        }
        // A lone "-" and anything not starting with "-" is the first
        // positional argument.
        if (argument.size() < 2 || argument[0] != '-') break;

        const bool isLong = argument.substr(0, 2) == "--";
        std::string_view name = argument;
        std::optional<std::string> inlineValue;
        if (isLong) {
            const std::size_t equals = argument.find('=');
            if (equals != std::string_view::npos) {
                name = argument.substr(0, equals);
                inlineValue = std::string(argument.substr(equals + 1));
            }
        }
        // Short options are not clustered: "-qo" is no option.
        const KnownOption* option = findOption(name, isLong);
        if (option == nullptr) {
            return failed(commandLine, "[ERR] Unknown option " + std::string(argument) +
                                           ". Exiting...\n");
        }
        std::string value;
        if (option->takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                return failed(commandLine,
                              "[ERR] Option " + std::string(name) + " needs a value. Exiting...\n");
            }
            // An empty value is no value: --output= and -o "" alike.
            if (value.empty()) {
                return failed(commandLine,
                              "[ERR] Option " + std::string(name) + " needs a value. Exiting...\n");
            }
        } else if (inlineValue) {
            return failed(commandLine, "[ERR] Option " + std::string(name) +
                                           " does not take the value " + *inlineValue +
                                           ". Exiting...\n");
        }

        switch (option->id) {
            case OptionId::Output:
                options.outputOption = value;
                // From here on a command-line error goes to standard error,
                // whatever a later -o says.
                if (value == "-") commandLine.standardOutputAtError = true;
                break;
            case OptionId::Quiet:
                options.quiet = true;
                break;
            case OptionId::TypeMap:
                options.typeMapPath = value;
                break;
            case OptionId::EndLevel:
                if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
                    return failed(commandLine, "[ERR] Option " + std::string(name) +
                                                   " does not take the value " + value +
                                                   ". Exiting...\n");
                }
                options.endLevel = value[0] - '0';
                break;
            case OptionId::LayerCodePage:
                if (!isKnownCodePage(value)) {
                    return failed(commandLine, "[ERR] Code page " + value + " is unknown. Exiting...\n");
                }
                options.layerCodePage = value;
                break;
            case OptionId::Append:
                options.append = true;
                break;
            case OptionId::Help:
                commandLine.action = CommandLine::Action::Help;
                return commandLine;
            case OptionId::Version:
                commandLine.action = CommandLine::Action::Version;
                return commandLine;
        }
    }

    const int nArguments = argc - i;
    if (nArguments < 3 || nArguments > 7) {
        return failed(commandLine, "[ERR] Incorrect parameter! Exiting...\n");
    }
    const char* const* positional = argv + i;
    options.layerPath = positional[0];
    options.typeColumn = positional[1];
    options.labelColumn = positional[2];
    if (nArguments >= 4) options.includeAll = std::string(positional[3]) != "n";
    if (nArguments >= 5) options.dictionaryPath = positional[4];
    if (nArguments >= 6) options.mapId = positional[5];
    if (nArguments >= 7) options.mapName = positional[6];
    if (options.append && options.toStandardOutput()) {
        return failed(commandLine,
                      "[ERR] --append needs an output file, not standard output. Exiting...\n");
    }
    if (options.append && options.dictionaryPath) {
        return failed(commandLine, "[ERR] A dictionary, map ID or map name cannot be given with "
                                   "--append. Exiting...\n");
    }
    // Plain concatenation: roads.shp gives roads.shp.mp, roads gives roads.mp.
    options.outputFileName = options.outputOption ? *options.outputOption : options.layerPath + ".mp";
    return commandLine;
}

const char* helpText() {
    return "Usage: orvtessel [options] <layer> <type column> <label column>\n"
           "                 [<include all> [<dictionary> [<map ID> [<map name>]]]]\n"
           "\n"
           "Converts one shapefile layer (.shp, .shx, .dbf) into a Polish map source\n"
           "file (.mp).\n"
           "\n"
           "Arguments:\n"
           "  <layer>          the layer: roads.shp, roads.dbf and roads name the same\n"
           "  <type column>    the column written under the key Type\n"
           "  <label column>   the column written under the key Label\n"
           "  <include all>    every other column is written too, unless this is n\n"
           "  <dictionary>     a header file used instead of the built-in [IMG ID] block\n"
           "  <map ID>         fills the dictionary's bare ID= lines\n"
           "  <map name>       fills the dictionary's bare Name= lines\n"
           "\n"
           "Options (before the arguments; -- ends them):\n"
           "  -o, --output FILE  write the map to FILE instead of <layer>.mp;\n"
           "                     - writes it to standard output (messages then go to\n"
           "                     standard error)\n"
           "  -q, --quiet        print only warnings and errors\n"
           "  -a, --append       add the sections to the end of the existing map in the\n"
           "                     output file, in its header's code page (no dictionary,\n"
           "                     map ID or map name then)\n"
           "  --type-map FILE    take each section's type (and end level) from the rules\n"
           "                     \"VALUE = TYPE [END_LEVEL]\" of FILE, looked up by the\n"
           "                     type column's value\n"
           "  --end-level N      give every section EndLevel=N (0 to 9)\n"
           "  --layer-code-page CP\n"
           "                     the layer's code page (UTF-8, 1252, CP1251, ISO-8859-2,\n"
           "                     ...), instead of its .cpg file or language driver\n"
           "  -h, --help         print this help and exit\n"
           "  -V, --version      print the version and the libraries' versions and exit\n"
           "\n"
           "Exit status: 0 when the map was written, 1 when the run failed, 2 for a\n"
           "command-line error.\n";
}

}  // namespace orvtessel
