#include "expected.h"

namespace testsupport {

const char* const kBanner =
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

const char* const kUsageLine =
    "[INF] Usage: Orvtessel <selected shape layer> <type column> <label column> "
    "(<include all columns (default yes)>) (<dictionary file>) (<mapid>) (<MapName>)\n";

const char* const kUsageError =
    "[ERR] Incorrect parameter! Exiting...\n"
    "[INF] Usage: Orvtessel <selected shape layer> <type column> <label column> "
    "(<include all columns (default yes)>) (<dictionary file>) (<mapid>) (<MapName>)\n";

const char* const kDefaultHeader =
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

const char* const kNoDictionary = "[INF] No dictionary file provided, using default\n";

std::string progress(const std::vector<int>& percents) {
    std::string text;
    for (int p : percents) text += "\r[INF] Processing: " + std::to_string(p) + "%";
    return text;
}

std::string convertedRun(const std::string& layer, const std::string& kind,
                         const std::string& progressText, const std::string& afterLoop,
                         const std::string& headerMessages) {
    return std::string(kBanner) + headerMessages + "[INF] The " + layer + " file contains " +
           kind + " elements.\n" + progressText + afterLoop + "\n[INF] " + layer +
           ".mp file has been written out.\n[INF] Running time was: <T>\n";
}

}  // namespace testsupport
