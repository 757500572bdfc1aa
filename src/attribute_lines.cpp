#include "attribute_lines.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "ascii_text.h"
#include "console.h"

namespace orvtessel {
namespace {

void warnIfMissing(const ColumnTitle& columnTitle, const std::string& argument, const char* key,
                   bool typeFromMap = false) {
    const std::string* sameButCase = nullptr;
    for (const std::string& name : columnTitle.names) {
        if (name == argument) return;
        if (sameButCase == nullptr && equalsIgnoringCase(name, argument)) sameButCase = &name;
    }
    // With a type map the sections still get a Type line: the rule for an
    // empty value.
    std::string message;
    if (typeFromMap) {
        message = "[WRN] The table has no column " + argument +
                  "; sections get the type the type map gives an empty value.";
    } else {
        message = "[WRN] The table has no column " + argument + "; sections get no " + key + " line.";
    }
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

void warnAboutMissingColumns(const ColumnTitle& columnTitle, const RunOptions& options,
                             bool checkType) {
    if (checkType) warnIfMissing(columnTitle, options.typeColumn, "Type", options.typeMapPath.has_value());
    // The type column's warning covers a label naming the same column.
    if (options.labelColumn != options.typeColumn || !checkType) {
        warnIfMissing(columnTitle, options.labelColumn, "Label");
    }
}

void warnAboutCompilerKeys(const ColumnTitle& columnTitle, const RunOptions& options) {
    if (!options.includeAll) return;
    static constexpr const char* kKeys[] = {"Type",    "SubType",  "Label", "Label2", "Label3",
                                            "EndLevel", "Levels", "RoadID", "RouteParam"};
    const auto isNumbered = [](std::string_view name, std::string_view stem) {
        return name.size() == stem.size() + 1 && equalsIgnoringCase(name.substr(0, stem.size()), stem) &&
               name.back() >= '0' && name.back() <= '9';
    };
    for (const std::string& name : columnTitle.names) {
        if (name == options.typeColumn || name == options.labelColumn) continue;
        bool isKey = isNumbered(name, "Data") || isNumbered(name, "Origin");
        for (const char* key : kKeys) isKey = isKey || equalsIgnoringCase(name, key);
        if (isKey) {
            printOut("[WRN] The column " + name +
                     " is written as a key that map compilers read and may override the section's "
                     "own; give n as include all, or rename the column.\n");
        }
    }
}

AttributeLines::AttributeLines(DBFHandle hDBF, const ColumnTitle& columnTitle,
                               const RunOptions& options, TextCodePage& text,
                               const TypeMap* typeMap)
    : hDBF_(hDBF), text_(text), typeMap_(typeMap), endLevel_(options.endLevel) {
    // The first rule that fits decides each column's key: type, then label,
    // then the column's own name when every column is wanted.
    bool typeWritten = false;
    int field = 0;
    for (const std::string& name : columnTitle.names) {
        if (name == options.typeColumn) {
            if (typeMap == nullptr) {
                columns_.push_back({field, "Type=", Kind::Value, true});
            } else if (!typeWritten) {
                // With a type map the column is only looked up; its first
                // place gets the Type line.
                if (!typeMap->onlyDefault()) typeField_ = field;
                if (name == options.labelColumn) {
                    columns_.push_back({field, "Label=", Kind::MappedTypeAndLabel, false});
                } else {
                    columns_.push_back({field, "Type=", Kind::MappedType, false});
                }
            }
            typeWritten = true;
        } else if (name == options.labelColumn) {
            columns_.push_back({field, "Label=", Kind::Value, false});
        } else if (options.includeAll) {
            columns_.push_back({field, text.convertName(name) + "=", Kind::Value, false});
        }
        ++field;
    }
    // Without a type column the Type line comes first.
    if (typeMap != nullptr && !typeWritten) {
        columns_.insert(columns_.begin(), Column{-1, "Type=", Kind::MappedType, false});
    }
}

bool AttributeLines::selectRecord(int record) {
    if (typeMap_ == nullptr) return true;
    std::string_view value;
    if (typeField_ >= 0) {
        const char* stored = DBFReadStringAttribute(hDBF_, record, typeField_);
        if (stored != nullptr) value = text_.valueAsUtf8(stored);
    }
    rule_ = typeMap_->find(value);
    if (rule_ != nullptr) return true;
    if (nUnlisted_ == 0) firstUnlisted_ = record + 1;
    ++nUnlisted_;
    // Values differing only in ASCII case are one value to the type map.
    if (unlistedValues_.size() < 6 &&
        std::none_of(unlistedValues_.begin(), unlistedValues_.end(),
                     [&](const std::string& seen) { return equalsIgnoringCase(seen, value); })) {
        unlistedValues_.emplace_back(value);
    }
    return false;
}

void AttributeLines::write(OutputStream& out, int record) {
    bool badType = false;
    for (const Column& column : columns_) {
        if (column.kind != Kind::Value) {
            writeMappedType(out, record, column);
            continue;
        }
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

// The Type line of the type map's rule, and for a type column that is also
// the label column its Label line.
void AttributeLines::writeMappedType(OutputStream& out, int record, const Column& column) {
    out.writeRaw("Type=", 5);
    out.writeRaw(rule_->typeText);
    out.newline();
    if (column.kind == Kind::MappedTypeAndLabel) {
        out.writeRaw(column.key);
        const char* value = DBFReadStringAttribute(hDBF_, record, column.field);
        if (value != nullptr) text_.writeValue(out, value, record);
        out.newline();
    }
}

void AttributeLines::printUnlistedWarning() const {
    if (nUnlisted_ == 0) return;
    std::string values;
    for (std::size_t i = 0; i < unlistedValues_.size() && i < 5; ++i) {
        if (i > 0) values += ", ";
        // A line break in a value would split the warning's line.
        std::string shown = unlistedValues_[i].empty() ? "\"\"" : unlistedValues_[i];
        for (char& c : shown) {
            if (c == '\r' || c == '\n') c = ' ';
        }
        values += shown;
    }
    if (unlistedValues_.size() > 5) values += ", ...";
    printOut("\n[WRN] " + std::to_string(nUnlisted_) +
             " records have a type value the type map does not list and were skipped (first: "
             "record " +
             std::to_string(firstUnlisted_) + "; values: " + values + ").");
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
