#include "console.h"

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace orvtessel {
namespace {

ConsoleForm currentForm;

std::FILE* consoleStream() { return currentForm.toStandardError ? stderr : stdout; }

void writeText(std::string_view text) {
    // A console that went away (closed, or a pipe whose reader quit) must not
    // stop the conversion: write errors are ignored here.
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), consoleStream());
}

bool lineForm() { return currentForm.quiet || currentForm.toStandardError; }

// The message as one line: without the line ends before it, with exactly
// one after it.
void writeAsLine(std::string_view text, bool always) {
    const std::size_t start = text.find_first_not_of('\n');
    if (start == std::string_view::npos) return;
    text.remove_prefix(start);
    if (currentForm.quiet && !always && text.substr(0, 6) == "[INF] ") return;
    writeText(text);
    if (text.back() != '\n') writeText("\n");
}

}  // namespace

void setConsoleForm(ConsoleForm form) {
    flushOut();
    currentForm = form;
}

bool showsProgress() { return !lineForm(); }

void printOut(std::string_view text) {
    if (lineForm()) {
        writeAsLine(text, false);
    } else {
        writeText(text);
    }
}

void printAlways(std::string_view text) {
    if (lineForm()) {
        writeAsLine(text, true);
    } else {
        writeText(text);
    }
}

void printBanner(std::string_view text) {
    if (!currentForm.quiet) writeText(text);
}

void printProgress(std::string_view text) {
    if (!lineForm()) writeText(text);
}

void flushOut() {
    std::fflush(stdout);
    std::fflush(stderr);
}

bool consoleIsTerminal() { return isatty(fileno(consoleStream())) != 0; }

}  // namespace orvtessel
