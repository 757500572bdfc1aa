// Console messages: banner, messages and the progress line, in program
// order, through this one stream. By default everything goes to standard
// output exactly as the program words it. In line form (quiet runs, and runs
// whose map goes to standard output) every message is one line of its own:
// no leading line end, one line end after it, and no progress line.
#pragma once

#include <string_view>

namespace orvtessel {

struct ConsoleForm {
    bool quiet = false;           // only warnings, errors and the usage line
    bool toStandardError = false; // standard output carries the map
};

void setConsoleForm(ConsoleForm form);

// True when progress lines are shown at all.
bool showsProgress();

// One message (or several whole lines) beginning with its level tag, maybe
// after the line end that closes a progress line.
void printOut(std::string_view text);

// A message that quiet runs print too (the usage line after an error).
void printAlways(std::string_view text);

// The banner: left out in quiet runs.
void printBanner(std::string_view text);

// A progress line ("\r[INF] Processing: N%"): only in the default form.
void printProgress(std::string_view text);

// Pushes buffered console text out, for progress shown on a terminal.
void flushOut();

// True when the console stream is a terminal.
bool consoleIsTerminal();

}  // namespace orvtessel
