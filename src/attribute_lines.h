// The attribute-column names of the layer and the attribute lines that
// each feature section carries.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <shapefil.h>

#include "output_stream.h"
#include "run_options.h"
#include "text_code_page.h"
#include "type_map.h"

namespace orvtessel {

// Column names as the attribute table stores them, in column order.
// There is no fixed limit on the number of columns.
struct ColumnTitle {
    std::vector<std::string> names;
};

ColumnTitle readColumnTitle(DBFHandle hDBF);

// Warns when the type or the label column names no column of the table,
// and names a column that differs only in case.
// The type column is left out of the check when `checkType` is false.
void warnAboutMissingColumns(const ColumnTitle& columnTitle, const RunOptions& options,
                             bool checkType = true);

// True for a type value map compilers take as a number: decimal digits
// (with a leading zero, octal ones only), or 0x and hexadecimal digits.
// Checked for every section, so kept to plain comparisons.
inline bool isTypeNumber(std::string_view value) {
    const std::size_t n = value.size();
    if (n > 2 && value[0] == '0' && (value[1] | 0x20) == 'x') {
        for (std::size_t i = 2; i < n; ++i) {
            const auto c = static_cast<unsigned char>(value[i]);
            if (static_cast<unsigned>(c - '0') > 9u && static_cast<unsigned>((c | 0x20) - 'a') > 5u) {
                return false;
            }
        }
        return true;
    }
    if (n == 0) return false;
    // A leading zero makes the number octal to one compiler: 08 is none.
    const unsigned largestDigit = n > 1 && value[0] == '0' ? 7u : 9u;
    for (const char c : value) {
        if (static_cast<unsigned>(static_cast<unsigned char>(c) - '0') > largestDigit) return false;
    }
    return true;
}

// Warns once per column that include-all writes under a name map compilers
// read as a key of their own (Label, EndLevel, Data1, ...).
void warnAboutCompilerKeys(const ColumnTitle& columnTitle, const RunOptions& options);

// Writes the attribute lines of one record: one "key=value" line per
// column, in column order; the type column under "Type", the label column
// under "Label" and, unless include-all is off, every other column under
// its own name. With a type map, the Type line holds the type of the rule
// the type column's value selects.
class AttributeLines {
public:
    // `typeMap` may be null; it must outlive the lines.
    AttributeLines(DBFHandle hDBF, const ColumnTitle& columnTitle, const RunOptions& options,
                   TextCodePage& text, const TypeMap* typeMap);

    // Looks up the record's type in the type map. False when the map has no
    // rule for it: the record then gets no section, and is counted.
    bool selectRecord(int record);

    void write(OutputStream& out, int record);

    // The section's "EndLevel=N" line, when the type map's rule or the
    // --end-level option gives one.
    void writeEndLevel(OutputStream& out) const {
        const int level = rule_ != nullptr && rule_->endLevel >= 0 ? rule_->endLevel : endLevel_;
        if (level >= 0) {
            char line[] = "EndLevel=0\r\n";
            line[9] = static_cast<char>('0' + level);
            out.writeRaw(line, sizeof line - 1);
        }
    }

    // The warning about records whose type value the type map does not list.
    void printUnlistedWarning() const;

    // The closing warnings about the written values: the text's, then the
    // type values map compilers reject.
    void printClosingWarnings() const;

private:
    enum class Kind {
        Value,              // the key, then the column's value
        MappedType,         // "Type=" and the rule's type; the column is not read
        MappedTypeAndLabel  // the rule's Type line, then the column's value as Label
    };
    struct Column {
        int field;
        std::string key;  // the key followed by "="
        Kind kind;
        bool isType;      // a Type line whose value must be a number
    };

    void writeMappedType(OutputStream& out, int record, const Column& column);

    DBFHandle hDBF_;
    TextCodePage& text_;
    const TypeMap* typeMap_;
    int typeField_ = -1;  // the first column of the type column's name
    int endLevel_ = -1;
    const TypeRule* rule_ = nullptr;
    std::vector<Column> columns_;
    int nBadTypes_ = 0;
    int firstBadType_ = 0;
    int nUnlisted_ = 0;
    int firstUnlisted_ = 0;
    std::vector<std::string> unlistedValues_;  // the first six distinct ones
};

}  // namespace orvtessel
