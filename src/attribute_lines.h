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

namespace orvtessel {

// Column names as the attribute table stores them, in column order.
// There is no fixed limit on the number of columns.
struct ColumnTitle {
    std::vector<std::string> names;
};

ColumnTitle readColumnTitle(DBFHandle hDBF);

// Warns when the type or the label column names no column of the table,
// and names a column that differs only in case.
void warnAboutMissingColumns(const ColumnTitle& columnTitle, const RunOptions& options);

// True for a type value map compilers take as a number: decimal digits
// (with a leading zero, octal ones only), or 0x and hexadecimal digits.
bool isTypeNumber(std::string_view value);

// Writes the attribute lines of one record: one "key=value" line per
// column, in column order; the type column under "Type", the label column
// under "Label" and, unless include-all is off, every other column under
// its own name.
class AttributeLines {
public:
    AttributeLines(DBFHandle hDBF, const ColumnTitle& columnTitle, const RunOptions& options,
                   TextCodePage& text);

    void write(OutputStream& out, int record);

    // The closing warnings about the written values: the text's, then the
    // type values map compilers reject.
    void printClosingWarnings() const;

private:
    struct Column {
        int field;
        std::string key;  // the key followed by "="
        bool isType;
    };

    DBFHandle hDBF_;
    TextCodePage& text_;
    std::vector<Column> columns_;
    int nBadTypes_ = 0;
    int firstBadType_ = 0;
};

}  // namespace orvtessel
