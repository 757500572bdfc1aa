// Column checks: a type or label column the table lacks, and type values a
// map compiler would reject, are reported; the output stays as it was.
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

struct Conversion {
    std::string out;
    std::string file;
};

// A point layer with the columns GTYPE, name and Name2 and one record per
// type value.
Conversion convert(const std::string& name, const std::vector<std::string>& types,
                   const std::vector<std::string>& args) {
    const fs::path dir = scratchFolder("Columns." + name);
    Layer layer;
    layer.fields = {{"GTYPE", FTString, 12, 0}, {"name", FTString, 12, 0}, {"Name2", FTString, 4, 0}};
    for (const std::string& type : types) {
        layer.shapes.push_back(point(1, 2));
        layer.records.push_back({type, "Main", "x"});
    }
    writeLayer(dir / "layer", layer);
    std::vector<std::string> fullArgs = {"layer.shp"};
    fullArgs.insert(fullArgs.end(), args.begin(), args.end());
    const RunResult run = runProgram(dir, fullArgs);
    return {maskRunningTime(run.out), readFile(dir / "layer.shp.mp")};
}

std::string sections(const std::vector<std::string>& types, const std::string& lines) {
    std::string text = kDefaultHeader;
    for (const std::string& type : types) {
        std::string body = lines;
        for (std::size_t at = body.find("<T>"); at != std::string::npos; at = body.find("<T>")) {
            body.replace(at, 3, type);
        }
        text += "[POI]\nData0=(2.000000,1.000000)\n" + body + "[END]\n\n";
    }
    return crlf(text);
}

TEST(Columns, MissingTypeOrLabelColumnIsReported) {
    const std::vector<std::string> types = {"0x06"};
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string warnings;
        std::string lines;
    } cases[] = {
        {"BothPresent", {"GTYPE", "name"}, "", "Type=<T>\nLabel=Main\nName2=x\n"},
        // Wrong case: the stored name is suggested (the first that matches).
        {"WrongCase", {"gtype", "NAME"},
         "[WRN] The table has no column gtype; sections get no Type line. Did you mean GTYPE?\n"
         "[WRN] The table has no column NAME; sections get no Label line. Did you mean name?\n",
         "GTYPE=<T>\nname=Main\nName2=x\n"},
        {"Misspelt", {"TYPE", "label", "n"},
         "[WRN] The table has no column TYPE; sections get no Type line.\n"
         "[WRN] The table has no column label; sections get no Label line.\n",
         ""},
        // Type and label naming the same missing column: one warning.
        {"SameMissing", {"KIND", "KIND"}, "[WRN] The table has no column KIND; sections get no Type line.\n",
         "GTYPE=<T>\nname=Main\nName2=x\n"},
        {"SamePresent", {"GTYPE", "GTYPE", "n"}, "", "Type=<T>\n"},
        // Longer than any stored name: a prefix is no match.
        {"TooLong", {"GTYPE", "name_of_the_road"},
         "[WRN] The table has no column name_of_the_road; sections get no Label line.\n",
         "Type=<T>\nname=Main\nName2=x\n"},
        {"Empty", {"GTYPE", ""}, "[WRN] The table has no column ; sections get no Label line.\n",
         "Type=<T>\nname=Main\nName2=x\n"},
    };
    for (const auto& c : cases) {
        const Conversion conversion = convert(std::string("Missing.") + c.name, types, c.args);
        EXPECT_EQ(conversion.out, convertedRun("layer.shp", "Point", progress({0}), "",
                                               std::string(kNoDictionary) + c.warnings))
            << c.name;
        EXPECT_EQ(conversion.file, sections(types, c.lines)) << c.name;
    }
}

TEST(Columns, TypeValuesThatAreNoNumbersAreCounted) {
    const struct {
        const char* name;
        std::vector<std::string> types;
        std::string warning;
    } cases[] = {
        {"Numbers", {"6", "0x06", "0X2F", "0x10f", "0", "017", "4294967295"}, ""},
        {"Text", {"0x06", "primary", "residential"},
         "\n[WRN] 2 records have a type value that is not a number, which map compilers reject "
         "(first: record 2)."},
        // Empty, signs, decimals, blanks inside, a bare 0x, hex without 0x,
        // and 08 / 09, octal to one compiler.
        {"NotQuite", {"", "-1", "+2", "1.0", "1 2", "0x", "0x1g", "ff", "08", "019", "6"},
         "\n[WRN] 10 records have a type value that is not a number, which map compilers reject "
         "(first: record 1)."},
    };
    for (const auto& c : cases) {
        const Conversion conversion = convert(std::string("Types.") + c.name, c.types, {"GTYPE", "name", "n"});
        std::vector<int> percents;
        for (std::size_t i = 0; i < c.types.size(); ++i) {
            const double p = static_cast<double>(i) / static_cast<double>(c.types.size()) * 100.0;
            percents.push_back(static_cast<int>(p + 0.5));
        }
        EXPECT_EQ(conversion.out, convertedRun("layer.shp", "Point", progress(percents), c.warning)) << c.name;
        // The values are written as stored.
        EXPECT_EQ(conversion.file, sections(c.types, "Type=<T>\nLabel=Main\n")) << c.name;
    }
}

TEST(Columns, TypeValuesAreCheckedAsWritten) {
    // Full-width digits in UTF-8 are written as ASCII digits in code page
    // 1250: numbers then. A CR, written as a space, makes none.
    const fs::path dir = scratchFolder("Columns.AsWritten");
    Layer layer;
    layer.fields = {{"GTYPE", FTString, 12, 0}, {"name", FTString, 12, 0}};
    layer.shapes = {point(1, 2), point(1, 2), point(1, 2)};
    layer.records = {{"\xef\xbc\x91\xef\xbc\x92", "a"}, {"0x\xef\xbc\x92" "F", "b"}, {"6\r", "c"}};
    writeLayer(dir / "layer", layer);
    writeFile(dir / "layer.cpg", "UTF-8");
    const RunResult run = runProgram(dir, {"layer.shp", "GTYPE", "name"});
    EXPECT_EQ(maskRunningTime(run.out),
              convertedRun("layer.shp", "Point", progress({0, 33, 67}),
                           "\n[WRN] 2 values have characters that code page 1250 lacks; they were "
                           "written as the nearest Latin letters or \"?\" (first: record 1)."
                           "\n[WRN] 1 records have a type value that is not a number, which map "
                           "compilers reject (first: record 3).",
                           std::string(kNoDictionary) +
                               "[INF] Text is converted from UTF-8 to code page 1250.\n"));
    EXPECT_EQ(readFile(dir / "layer.shp.mp"),
              crlf(std::string(kDefaultHeader) +
                   "[POI]\nData0=(2.000000,1.000000)\nType=12\nLabel=a\n[END]\n\n"
                   "[POI]\nData0=(2.000000,1.000000)\nType=0x2F\nLabel=b\n[END]\n\n"
                   "[POI]\nData0=(2.000000,1.000000)\nType=6 \nLabel=c\n[END]\n\n"));
}

TEST(Columns, TypeWarningIsTheLastClosingWarning) {
    // Undeclared Latin-1 in a label and a text type: the text's warning first.
    const fs::path dir = scratchFolder("Columns.Order");
    Layer layer;
    layer.fields = {{"GTYPE", FTString, 12, 0}, {"name", FTString, 12, 0}};
    layer.shapes = {point(1, 2), nullShape()};
    layer.records = {{"primary", "Stra\xdf\x65"}, {"1", "x"}};
    writeLayer(dir / "layer", layer);
    const RunResult run = runProgram(dir, {"layer.shp", "GTYPE", "name"});
    EXPECT_EQ(maskRunningTime(run.out),
              convertedRun("layer.shp", "Point", progress({0, 50}),
                           "\n[WRN] 1 records without coordinates were skipped (first: record 2)."
                           "\n[WRN] 1 values have letters beyond ASCII in a table that does not "
                           "declare its code page; they were written as stored, which map "
                           "compilers read as code page 1250 (first: record 1)."
                           "\n[WRN] 1 records have a type value that is not a number, which map "
                           "compilers reject (first: record 1)."));
}

}  // namespace
