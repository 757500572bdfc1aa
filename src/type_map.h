// The type map: a text file of rules "VALUE = TYPE [END_LEVEL]" that turns
// the type column's values (text classes such as "motorway") into map type
// numbers and end levels.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvtessel {

struct TypeRule {
    std::string value;      // as the file writes it
    std::string typeText;   // the type number as the file writes it
    int endLevel = -1;      // -1 when the rule gives none
};

class TypeMap {
public:
    // Reads the file. On failure returns nothing and sets `error` to the
    // whole "[ERR] ..." line.
    static std::optional<TypeMap> read(const std::string& path, std::string& error);

    // The rule for a value (UTF-8, or bytes as stored), ASCII letters
    // compared without case; the "*" rule when no other names it; nullptr
    // when there is neither.
    const TypeRule* find(std::string_view value) const;

    // True when "*" is the only rule: every record gets its type, and the
    // type column need not be read.
    bool onlyDefault() const { return rules_.size() == 1 && defaultIndex_ >= 0; }

    std::size_t size() const { return rules_.size(); }
    const std::vector<TypeRule>& rules() const { return rules_; }

private:
    // Takes one line of the file: nothing for a blank or comment line, else
    // the rule; returns the reason when the line is no rule.
    const char* addRule(std::string_view line, std::string& key);

    std::vector<TypeRule> rules_;
    std::unordered_map<std::string, std::size_t> byValue_;  // lower-cased value -> rule
    long defaultIndex_ = -1;  // the "*" rule's index, or -1
    mutable std::string key_;  // reused for lookups
};

// True for a type number as map compilers take it: decimal digits without
// a leading zero, or 0x / 0X and hexadecimal digits; zero is no type.
bool isTypeMapNumber(std::string_view text);

}  // namespace orvtessel
