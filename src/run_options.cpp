#include "run_options.h"

namespace orvtessel {

std::optional<RunOptions> parseRunOptions(int argc, const char* const* argv) {
    const int nArguments = argc - 1;
    if (nArguments < 3 || nArguments > 7) return std::nullopt;

    RunOptions options;
    options.layerPath = argv[1];
    options.typeColumn = argv[2];
    options.labelColumn = argv[3];
    if (nArguments >= 4) options.includeAll = std::string(argv[4]) != "n";
    if (nArguments >= 5) options.dictionaryPath = argv[5];
    if (nArguments >= 6) options.mapId = argv[6];
    if (nArguments >= 7) options.mapName = argv[7];
    // Plain concatenation: roads.shp gives roads.shp.mp, roads gives roads.mp.
    options.outputFileName = options.layerPath + ".mp";
    return options;
}

}  // namespace orvtessel
