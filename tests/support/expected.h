// Texts the program must print and write, spelled out independently of
// the program's own sources.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

extern const char* const kBanner;
extern const char* const kUsageError;
// The usage line alone, as every command-line error ends.
extern const char* const kUsageLine;
// The built-in header with "\n" line ends (crlf() gives the file's bytes).
extern const char* const kDefaultHeader;
extern const char* const kNoDictionary;

// "\r[INF] Processing: P%" for each of the given percentages.
std::string progress(const std::vector<int>& percents);

// Standard output of a run that converts `layer` without a dictionary.
// `kind` is "Point", "Polyline" or "Polygon"; `afterLoop` holds what is
// printed between the last progress line and the written-out line.
std::string convertedRun(const std::string& layer, const std::string& kind,
                         const std::string& progressText, const std::string& afterLoop = "",
                         const std::string& headerMessages = kNoDictionary);

}  // namespace testsupport
