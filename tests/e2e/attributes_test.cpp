// Attribute lines: the column table, the key rules, and values written as
// they are stored, except that they cannot start new lines.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "expected.h"
#include "layer_writer.h"
#include "program_run.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// A one-point layer with the given columns and one record of values;
// returns the attribute lines of its section (between Data0= and [END]).
std::string attributeLinesOf(const std::string& name, const std::vector<Field>& fields,
                             const std::vector<std::string>& values,
                             const std::vector<std::string>& args) {
    const fs::path dir = scratchFolder("Attributes." + name);
    Layer layer;
    layer.shapes = {point(1, 2)};
    layer.fields = fields;
    layer.records = {values};
    writeLayer(dir / "layer", layer);
    std::vector<std::string> fullArgs = {"layer.shp"};
    fullArgs.insert(fullArgs.end(), args.begin(), args.end());
    const RunResult run = runProgram(dir, fullArgs);
    const std::string file = readFile(dir / "layer.shp.mp");
    const std::string head = crlf(std::string(kDefaultHeader) + "[POI]\nData0=(2.000000,1.000000)\n");
    const std::string tail = crlf("[END]\n\n");
    if (file.size() < head.size() + tail.size() || file.compare(0, head.size(), head) != 0 ||
        file.compare(file.size() - tail.size(), tail.size(), tail) != 0) {
        ADD_FAILURE() << name << ": not one point section: " << file;
        return "";
    }
    return file.substr(head.size(), file.size() - head.size() - tail.size());
}

Field text(const char* name, int width = 20) { return {name, FTString, width, 0}; }

TEST(Attributes, KeyRulesAndColumnOrder) {
    const std::vector<Field> nameKindRemark = {text("NAME"), text("KIND"), text("REMARK")};
    const std::vector<std::string> values = {"Main St", "0x06", "paved"};
    const struct {
        const char* name;
        std::vector<Field> fields;
        std::vector<std::string> values;
        std::vector<std::string> args;
        const char* expected;
    } cases[] = {
        // Column order, not type first.
        {"ColumnOrder", nameKindRemark, values, {"KIND", "NAME"},
         "Label=Main St\nType=0x06\nREMARK=paved\n"},
        {"IncludeAllOff", nameKindRemark, values, {"KIND", "NAME", "n"}, "Label=Main St\nType=0x06\n"},
        // Only exactly "n" switches the other columns off.
        {"IncludeAllN", nameKindRemark, values, {"KIND", "NAME", "N"},
         "Label=Main St\nType=0x06\nREMARK=paved\n"},
        {"IncludeAllNo", nameKindRemark, values, {"KIND", "NAME", "no"},
         "Label=Main St\nType=0x06\nREMARK=paved\n"},
        {"IncludeAll0", nameKindRemark, values, {"KIND", "NAME", "0"},
         "Label=Main St\nType=0x06\nREMARK=paved\n"},
        {"IncludeAllEmpty", nameKindRemark, values, {"KIND", "NAME", ""},
         "Label=Main St\nType=0x06\nREMARK=paved\n"},
        // Type and label naming the same column: one Type line.
        {"SameColumn", nameKindRemark, values, {"NAME", "NAME", "n"}, "Type=Main St\n"},
        // Unknown columns give no line; names are case-sensitive and whole.
        {"NoSuchColumn", nameKindRemark, values, {"kind", "NAMEX"},
         "NAME=Main St\nKIND=0x06\nREMARK=paved\n"},
        {"LongArgument", nameKindRemark, values, {"KINDKINDKINDKIND", "NAME", "n"}, "Label=Main St\n"},
        // A column called Type that is not the type column keeps its name.
        {"ColumnNamedType", {text("Type"), text("KIND")}, {"old", "0x01"}, {"KIND", "NAME"},
         "Type=old\nType=0x01\n"},
        // Duplicate names are tested one by one.
        {"DuplicateNames", {text("KIND"), text("KIND"), text("NAME")}, {"a", "b", "c"}, {"KIND", "NAME"},
         "Type=a\nType=b\nLabel=c\n"},
        // Empty values end the line at "="; numbers, dates and logicals
        // come as their stored text.
        {"EmptyAndTyped",
         {text("NAME"), text("KIND"), {"LANES", FTInteger, 4, 0}, {"LEN", FTDouble, 10, 3},
          {"OPENED", FTDate, 8, 0}, {"PAVED", FTLogical, 1, 0}},
         {"", "0x06", "2", "12.500", "20240131", "T"},
         {"KIND", "NAME"},
         "Label=\nType=0x06\nLANES=2\nLEN=12.500\nOPENED=20240131\nPAVED=T\n"},
        // No columns at all.
        {"NoColumnsSelected", nameKindRemark, values, {"X", "Y", "n"}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(attributeLinesOf(c.name, c.fields, c.values, c.args), crlf(c.expected)) << c.name;
    }
}

TEST(Attributes, ValuesAreWrittenAsStoredButCannotBreakLines) {
    const std::vector<Field> fields = {text("KIND"), text("NAME", 40), text("NOTE", 40)};
    const struct {
        const char* name;
        std::string value;
        std::string expectedNote;
    } cases[] = {
        {"Percent", "100% %s %d %n", "100% %s %d %n"},
        {"InnerSpaces", "  two  spaces  ", "two  spaces"},  // shapelib trims the padding
        {"Cp1250", "\x8e\x61\x62ov\xf8\x65sky \x96 \xc8\x65rn\xe1", "\x8e\x61\x62ov\xf8\x65sky \x96 \xc8\x65rn\xe1"},
        {"LineFeed", "first\nsecond", "first second"},
        {"CarriageReturn", "first\rsecond", "first second"},
        {"CrLf", "a\r\nb[END]", "a  b[END]"},
        {"Tab", "a\tb", "a\tb"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(attributeLinesOf(c.name, fields, {"0x01", "n", c.value}, {"KIND", "NAME"}),
                  crlf("Type=0x01\nLabel=n\n") + "NOTE=" + c.expectedNote + "\r\n")
            << c.name;
    }
}

TEST(Attributes, ManyColumnsAreAllWrittenInOrder) {
    // More than 255 columns: nothing is dropped.
    std::vector<Field> fields;
    std::vector<std::string> values;
    std::string expected;
    for (int j = 0; j < 300; ++j) {
        const std::string name = "C" + std::to_string(j);
        fields.push_back({name, FTString, 5, 0});
        values.push_back("v" + std::to_string(j));
        expected += name + "=v" + std::to_string(j) + "\n";
    }
    EXPECT_EQ(attributeLinesOf("Columns300", fields, values, {"X", "Y"}), crlf(expected));
}

TEST(Attributes, UnreadableRecordKeepsItsKeys) {
    // The table header promises 2 records, but the file holds only one: the
    // second record's values cannot be read and are written empty, and its
    // empty type is one a map compiler rejects.
    const fs::path dir = scratchFolder("Attributes.Unreadable");
    Layer layer;
    layer.shapes = {point(1, 2), point(3, 4)};
    layer.fields = {text("KIND"), text("NAME")};
    layer.records = {{"0x01", "a"}, {"0x02", "b"}};
    writeLayer(dir / "layer", layer);
    std::string dbf = readFile(dir / "layer.dbf");
    const std::size_t recordLength = 1 + 20 + 20;
    dbf.resize(dbf.size() - 1 - recordLength);  // drop the end marker and record 2
    writeFile(dir / "layer.dbf", dbf);
    const RunResult run = runProgram(dir, {"layer.shp", "KIND", "NAME"});
    EXPECT_EQ(maskRunningTime(run.out),
              convertedRun("layer.shp", "Point", progress({0, 50}),
                           "\n[WRN] 1 records have a type value that is not a number, which map "
                           "compilers reject (first: record 2)."));
    EXPECT_EQ(readFile(dir / "layer.shp.mp"),
              crlf(std::string(kDefaultHeader) +
                   "[POI]\nData0=(2.000000,1.000000)\nType=0x01\nLabel=a\n[END]\n\n"
                   "[POI]\nData0=(4.000000,3.000000)\nType=\nLabel=\n[END]\n\n"));
}

TEST(Attributes, DeletedRecordsAreWrittenLikeOthers) {
    const fs::path dir = scratchFolder("Attributes.Deleted");
    Layer layer;
    layer.shapes = {point(1, 2), point(3, 4)};
    layer.fields = {text("KIND")};
    layer.records = {{"0x01"}, {"0x02"}};
    layer.deletedRecords = {0};
    writeLayer(dir / "layer", layer);
    runProgram(dir, {"layer.shp", "KIND", "NAME"});
    EXPECT_EQ(readFile(dir / "layer.shp.mp"),
              crlf(std::string(kDefaultHeader) +
                   "[POI]\nData0=(2.000000,1.000000)\nType=0x01\n[END]\n\n"
                   "[POI]\nData0=(4.000000,3.000000)\nType=0x02\n[END]\n\n"));
}

}  // namespace
