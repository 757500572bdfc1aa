// The attribute-column names of the layer and the attribute lines that
// each feature section carries.
#pragma once

#include <string>
#include <vector>

#include <shapefil.h>

#include "output_stream.h"
#include "run_options.h"

namespace orvtessel {

// Column names as the attribute table stores them, in column order.
// There is no fixed limit on the number of columns.
struct ColumnTitle {
    std::vector<std::string> names;
};

ColumnTitle readColumnTitle(DBFHandle hDBF);

// Writes the attribute lines of one record: one "key=value" line per
// column, in column order; the type column under "Type", the label column
// under "Label" and, unless include-all is off, every other column under
// its own name.
class AttributeLines {
public:
    AttributeLines(DBFHandle hDBF, const ColumnTitle& columnTitle, const RunOptions& options);

    void write(OutputStream& out, int record) const;

private:
    struct Column {
        int field;
        std::string key;  // the key followed by "="
    };

    DBFHandle hDBF_;
    std::vector<Column> columns_;
};

}  // namespace orvtessel
