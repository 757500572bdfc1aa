#include "console.h"

#include <cstdio>

namespace orvtessel {

void printOut(std::string_view text) {
    // A console that went away (closed, or a pipe whose reader quit) must not
    // stop the conversion: write errors are ignored here.
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

void flushOut() { std::fflush(stdout); }

}  // namespace orvtessel
