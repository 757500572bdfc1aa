// Small text files the user gives the run (the dictionary, the type map):
// read whole, then taken line by line.
#pragma once

#include <string>
#include <string_view>

namespace orvtessel {

// Reads the file whole. A pipe is read to its end (`<(...)` in a shell is a
// real use); a folder, or a read error, gives false.
bool readTextFile(const std::string& path, std::string& text);

// Calls takeLine(line, endsWithLf) for each line of the text: everything up
// to the next LF, a CR right before the LF belonging to the line end. A last
// line without a line end is still a line, and a final line end opens no
// further line.
template <typename TakeLine>
void forEachLine(std::string_view text, TakeLine takeLine) {
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const bool endsWithLf = lf != std::string_view::npos;
        std::string_view line = text.substr(0, lf);
        if (endsWithLf && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        takeLine(line, endsWithLf);
        text.remove_prefix(endsWithLf ? lf + 1 : text.size());
    }
}

}  // namespace orvtessel
