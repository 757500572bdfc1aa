#include "attribute_lines.h"

#include <cctype>
#include <cstdio>

#include "ascii_text.h"
#include "console.h"

namespace orvtessel {
namespace {

void warnIfMissing(const ColumnTitle& columnTitle, const std::string& argument, const char* key) {
    const std::string* sameButCase = nullptr;
    for (const std::string& name : columnTitle.names) {
        if (name == argument) return;
        if (sameButCase == nullptr && equalsIgnoringCase(name, argument)) sameButCase = &name;
    }
    std::string message = "[WRN] The table has no column " + argument + "; sections get no " +
                          key + " line.";
    message += sameButCase != nullptr ? " Did you mean " + *sameButCase + "?\n" : "\n";
    printOut(message);
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

void warnAboutMissingColumns(const ColumnTitle& columnTitle, const RunOptions& options) {
    warnIfMissing(columnTitle, options.typeColumn, "Type");
    // The type column's warning covers a label naming the same column.
    if (options.labelColumn != options.typeColumn) {
        warnIfMissing(columnTitle, options.labelColumn, "Label");
    }
}

bool isTypeNumber(std::string_view value) {
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
        for (const char c : value.substr(2)) {
            if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return false;
        }
        return true;
    }
    if (value.empty()) return false;
    // A leading zero makes the number octal to one compiler: 08 is none.
    const bool octal = value.size() > 1 && value[0] == '0';
    for (const char c : value) {
        if (!isDigit(c) || (octal && c > '7')) return false;
    }
    return true;
}

AttributeLines::AttributeLines(DBFHandle hDBF, const ColumnTitle& columnTitle,
                               const RunOptions& options, TextCodePage& text)
    : hDBF_(hDBF), text_(text) {
    // The first rule that fits decides each column's key: type, then label,
    // then the column's own name when every column is wanted.
    int field = 0;
    for (const std::string& name : columnTitle.names) {
        if (name == options.typeColumn) {
            columns_.push_back({field, "Type=", true});
        } else if (name == options.labelColumn) {
            columns_.push_back({field, "Label=", false});
        } else if (options.includeAll) {
            columns_.push_back({field, text.convertName(name) + "=", false});
        }
        ++field;
    }
}

void AttributeLines::write(OutputStream& out, int record) {
    bool badType = false;
    for (const Column& column : columns_) {
        out.writeRaw(column.key);
        // No text (an unreadable record) gives an empty value: the section
        // keeps its keys.
        const char* value = DBFReadStringAttribute(hDBF_, record, column.field);
        std::string_view written;
        if (value != nullptr) written = text_.writeValue(out, value, record);
        // The type as written: converted, and with any CR or LF, which are
        // written as spaces, no number.
        if (column.isType) badType |= !isTypeNumber(written);
        out.newline();
    }
    if (badType) {
        if (nBadTypes_ == 0) firstBadType_ = record + 1;
        ++nBadTypes_;
    }
}

void AttributeLines::printClosingWarnings() const {
    text_.printClosingWarnings();
    if (nBadTypes_ > 0) {
        char message[200];
        std::snprintf(message, sizeof message,
                      "\n[WRN] %i records have a type value that is not a number, which map "
                      "compilers reject (first: record %i).",
                      nBadTypes_, firstBadType_);
        printOut(message);
    }
}

}  // namespace orvtessel
