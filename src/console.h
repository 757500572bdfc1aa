// Console messages: everything the program says goes to standard output,
// in program order, through this one stream.
#pragma once

#include <string_view>

namespace orvtessel {

void printOut(std::string_view text);

// Pushes buffered console text out, for progress shown on a terminal.
void flushOut();

}  // namespace orvtessel
