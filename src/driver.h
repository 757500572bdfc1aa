// One run of the converter, from the command line to the finished file.
#pragma once

#include <string>

namespace orvtessel {

// Runs one conversion with the given argument vector (program name first).
// Returns the exit status: 0 when the map was written, 1 when the run ended
// with an error, 2 for a command-line error.
int runConverter(int argc, const char* const* argv);

// The process entry: makes a console that goes away harmless, then runs.
int orvtesselMain(int argc, const char* const* argv);

// The running-time line for an elapsed time in milliseconds.
std::string runningTimeText(long long elapsedMs);

}  // namespace orvtessel
