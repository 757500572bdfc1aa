#include "attribute_lines.h"

namespace orvtessel {
namespace {

// Table data must not start new lines in the file: a CR or LF inside a
// column name or a value is written as a space.
std::string withoutLineBreaks(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return text;
}

}  // namespace

ColumnTitle readColumnTitle(DBFHandle hDBF) {
    ColumnTitle columnTitle;
    const int nColumns = DBFGetFieldCount(hDBF);
    columnTitle.names.reserve(static_cast<std::size_t>(nColumns > 0 ? nColumns : 0));
    for (int j = 0; j < nColumns; ++j) {
        char Title[50] = {};
        int nWidth = 0;
        int nDecimals = 0;
        DBFGetFieldInfo(hDBF, j, Title, &nWidth, &nDecimals);
        columnTitle.names.emplace_back(Title);
    }
    return columnTitle;
}

AttributeLines::AttributeLines(DBFHandle hDBF, const ColumnTitle& columnTitle,
                               const RunOptions& options)
    : hDBF_(hDBF) {
    // The first rule that fits decides each column's key: type, then label,
    // then the column's own name when every column is wanted.
    int field = 0;
    for (const std::string& name : columnTitle.names) {
        if (name == options.typeColumn) {
            columns_.push_back({field, "Type="});
        } else if (name == options.labelColumn) {
            columns_.push_back({field, "Label="});
        } else if (options.includeAll) {
            columns_.push_back({field, withoutLineBreaks(name) + "="});
        }
        ++field;
    }
}

void AttributeLines::write(OutputStream& out, int record) const {
    for (const Column& column : columns_) {
        out.writeRaw(column.key);
        // No text (an unreadable record) gives an empty value: the section
        // keeps its keys.
        const char* value = DBFReadStringAttribute(hDBF_, record, column.field);
        if (value != nullptr) {
            // CR and LF become spaces, as in withoutLineBreaks.
            for (const char* p = value; *p != '\0';) {
                const char* start = p;
                while (*p != '\0' && *p != '\r' && *p != '\n') ++p;
                out.writeRaw(start, static_cast<std::size_t>(p - start));
                if (*p != '\0') {
                    out.writeRaw(" ", 1);
                    ++p;
                }
            }
        }
        out.newline();
    }
}

}  // namespace orvtessel
