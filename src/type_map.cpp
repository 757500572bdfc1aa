#include "type_map.h"

#include <cctype>

#include "ascii_text.h"
#include "text_file.h"

namespace orvtessel {
namespace {

constexpr std::string_view kBlanks = " \t";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

void lowerAscii(std::string_view text, std::string& lowered) {
    lowered.assign(text.data(), text.size());
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
}

// Splits the text after "=" into fields separated by blanks.
std::vector<std::string_view> fieldsOf(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i])) ++i;
        const std::size_t start = i;
        while (i < text.size() && !isBlank(text[i])) ++i;
        if (i > start) fields.push_back(text.substr(start, i - start));
    }
    return fields;
}

}  // namespace

bool isTypeMapNumber(std::string_view text) {
    bool nonZero = false;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        for (const char c : text.substr(2)) {
            if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return false;
            nonZero |= c != '0';
        }
        return nonZero;
    }
    if (text.empty() || text[0] == '0') return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

std::optional<TypeMap> TypeMap::read(const std::string& path, std::string& error) {
    std::string content;
    if (!readTextFile(path, content)) {
        error = "[ERR] Type map " + path + " cannot be read. Exiting...\n";
        return std::nullopt;
    }
    std::string_view rest = content;
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);

    TypeMap map;
    const auto lineError = [&](int lineNumber, const char* reason) {
        error = "[ERR] Type map " + path + ", line " + std::to_string(lineNumber) + ": " + reason +
                ". Exiting...\n";
        return std::nullopt;
    };
    int lineNumber = 0;
    const char* reason = nullptr;
    std::string key;
    forEachLine(rest, [&](std::string_view line, bool endsWithLf) {
        if (reason != nullptr) return;
        ++lineNumber;
        // A CR that ends the file belongs to the line end as well.
        if (!endsWithLf && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        reason = map.addRule(line, key);
    });
    if (reason != nullptr) return lineError(lineNumber, reason);
    if (map.rules_.empty()) {
        error = "[ERR] Type map " + path + " holds no rule. Exiting...\n";
        return std::nullopt;
    }
    // "*" names no value: it is the rule for every value no other names.
    const auto star = map.byValue_.find("*");
    if (star != map.byValue_.end()) {
        map.defaultIndex_ = static_cast<long>(star->second);
        map.byValue_.erase(star);
    }
    return map;
}

const char* TypeMap::addRule(std::string_view line, std::string& key) {
    const std::string_view ruleText = trimmed(line, kBlanks);
    if (ruleText.empty() || ruleText.front() == '#') return nullptr;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return "no \"=\"";
    TypeRule rule;
    rule.value = std::string(trimmed(line.substr(0, equals), kBlanks));
    if (rule.value.empty()) return "no value";
    const std::vector<std::string_view> fields = fieldsOf(line.substr(equals + 1));
    if (fields.empty() || !isTypeMapNumber(fields[0])) return "no type number";
    rule.typeText = std::string(fields[0]);
    if (fields.size() >= 2) {
        if (fields[1].size() != 1 || fields[1][0] < '0' || fields[1][0] > '9') {
            return "no end level from 0 to 9";
        }
        rule.endLevel = fields[1][0] - '0';
    }
    if (fields.size() >= 3) return "text after the end level";
    lowerAscii(rule.value, key);
    if (!byValue_.emplace(key, rules_.size()).second) return "value listed twice";
    rules_.push_back(std::move(rule));
    return nullptr;
}

const TypeRule* TypeMap::find(std::string_view value) const {
    lowerAscii(value, key_);
    const auto found = byValue_.find(key_);
    if (found != byValue_.end()) return &rules_[found->second];
    return defaultIndex_ >= 0 ? &rules_[static_cast<std::size_t>(defaultIndex_)] : nullptr;
}

}  // namespace orvtessel
