// Type maps (text classes to map types), end levels, and the warning
// about columns written under keys map compilers read.
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

const char* const kOsmMap =
    "# fclass = type end level\n"
    "motorway    = 0x01 3\n"
    "primary     = 0x03 2\n"
    "residential = 0x06\n"
    "Forest Track\t=\t0x0a\t1\n";

// A point layer with the columns FCLASS and NAME, one record per class.
fs::path classLayer(const std::string& name, const std::vector<std::string>& classes) {
    const fs::path dir = scratchFolder("TypeMap." + name);
    Layer layer;
    layer.fields = {{"FCLASS", FTString, 20, 0}, {"NAME", FTString, 20, 0}};
    for (std::size_t i = 0; i < classes.size(); ++i) {
        layer.shapes.push_back(point(static_cast<double>(i + 1), 50.0));
        layer.records.push_back({classes[i], "n" + std::to_string(i + 1)});
    }
    writeLayer(dir / "layer", layer);
    return dir;
}

// The section of record i (0-based) of classLayer with the given lines
// between its Data0= line and [END].
std::string section(std::size_t i, const std::string& lines) {
    return "[POI]\nData0=(50.000000," + std::to_string(i + 1) + ".000000)\n" + lines + "[END]\n\n";
}

std::string run(const std::string& before, const std::string& progressText,
                const std::string& afterLoop = "") {
    return convertedRun("layer.shp", "Point", progressText, afterLoop, std::string(kNoDictionary) + before);
}

TEST(TypeMap, ClassesBecomeTypesAndEndLevels) {
    const fs::path dir =
        classLayer("Classes", {"motorway", "PRIMARY", "residential", "forest track", "footway"});
    writeFile(dir / "roads.types", std::string(kOsmMap) + "* = 0x16 0\n");
    const RunResult result = runProgram(dir, {"--type-map", "roads.types", "layer.shp", "FCLASS", "NAME"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(maskRunningTime(result.out),
              run("[INF] Types are taken from the type map roads.types (5 rules).\n",
                  progress({0, 20, 40, 60, 80})));
    // Exact, other case, blanks inside the value, and "*" for the rest;
    // the EndLevel line closes the section, and a rule without a level
    // gives none.
    EXPECT_EQ(readFile(dir / "layer.shp.mp"),
              crlf(std::string(kDefaultHeader) + section(0, "Type=0x01\nLabel=n1\nEndLevel=3\n") +
                   section(1, "Type=0x03\nLabel=n2\nEndLevel=2\n") + section(2, "Type=0x06\nLabel=n3\n") +
                   section(3, "Type=0x0a\nLabel=n4\nEndLevel=1\n") +
                   section(4, "Type=0x16\nLabel=n5\nEndLevel=0\n")));
}

TEST(TypeMap, UnlistedValuesAreSkippedAndNamed) {
    const fs::path dir = classLayer("Unlisted", {"motorway", "path", "", "steps", "path", "cycleway",
                                                 "bridleway", "track", "service", "motorway"});
    writeFile(dir / "roads.types", kOsmMap);
    const RunResult result =
        runProgram(dir, {"--end-level", "1", "--type-map", "roads.types", "layer.shp", "FCLASS", "NAME", "n"});
    EXPECT_EQ(result.status, 0);
    // Up to five distinct values in the order met; "" for an empty one.
    EXPECT_EQ(maskRunningTime(result.out),
              run("[INF] Types are taken from the type map roads.types (4 rules).\n",
                  progress({0, 10, 20, 30, 40, 50, 60, 70, 80, 90}),
                  "\n[WRN] 8 records have a type value the type map does not list and were skipped "
                  "(first: record 2; values: path, \"\", steps, cycleway, bridleway, ...)."));
    // The option's level for the rule without one.
    EXPECT_EQ(readFile(dir / "layer.shp.mp"),
              crlf(std::string(kDefaultHeader) + section(0, "Type=0x01\nLabel=n1\nEndLevel=3\n") +
                   section(9, "Type=0x01\nLabel=n10\nEndLevel=3\n")));

    // Exactly five distinct values, ASCII case ignored as in the lookup: no
    // "...". A line break in a value is shown as a space, so that the
    // warning stays one line.
    const fs::path five = classLayer("UnlistedFive", {"a", "b", "c", "B", "d\ne", "A", "e"});
    writeFile(five / "roads.types", kOsmMap);
    const RunResult fiveRun = runProgram(five, {"-q", "--type-map", "roads.types", "layer.shp", "FCLASS", "NAME"});
    EXPECT_EQ(fiveRun.out,
              "[WRN] 7 records have a type value the type map does not list and were skipped "
              "(first: record 1; values: a, b, c, d e, e).\n");
}

TEST(TypeMap, FixedTypeForAOneClassLayer) {
    // "*" alone: the type column is neither read nor checked.
    const fs::path dir = classLayer("Fixed", {"x", "y"});
    writeFile(dir / "city.types", "\xEF\xBB\xBF* = 0x0400\r");
    const RunResult result = runProgram(dir, {"--type-map", "city.types", "layer.shp", "-", "NAME", "n"});
    EXPECT_EQ(maskRunningTime(result.out),
              run("[INF] Types are taken from the type map city.types (1 rules).\n", progress({0, 50})));
    EXPECT_EQ(readFile(dir / "layer.shp.mp"),
              crlf(std::string(kDefaultHeader) + section(0, "Type=0x0400\nLabel=n1\n") +
                   section(1, "Type=0x0400\nLabel=n2\n")));
}

TEST(TypeMap, TypeColumnPlaces) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string warnings;
        std::string lines;
    } cases[] = {
        // Type and label the same column: the Type line, then the Label line.
        {"SameAsLabel", {"FCLASS", "FCLASS"}, "", "Type=0x01\nLabel=motorway\nNAME=n1\n"},
        // No such column: the Type line comes first and the empty value is
        // looked up, which only "*" lists.
        {"Missing", {"KIND", "NAME"},
         "[WRN] The table has no column KIND; sections get the type the type map gives an empty value.\n",
         "Type=0x16\nFCLASS=motorway\nLabel=n1\n"},
    };
    for (const auto& c : cases) {
        const fs::path dir = classLayer(std::string("Places.") + c.name, {"motorway"});
        writeFile(dir / "roads.types", "motorway = 0x01\n* = 0x16\n");
        std::vector<std::string> args = {"--type-map=roads.types", "layer.shp"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult result = runProgram(dir, args);
        EXPECT_EQ(maskRunningTime(result.out),
                  run(c.warnings + "[INF] Types are taken from the type map roads.types (2 rules).\n",
                      progress({0})))
            << c.name;
        EXPECT_EQ(readFile(dir / "layer.shp.mp"), crlf(std::string(kDefaultHeader) + section(0, c.lines)))
            << c.name;
    }
}

TEST(TypeMap, ValuesAreComparedAsText) {
    // A table in code page 1250: its value is converted to UTF-8 before the
    // lookup, and case is ignored for ASCII letters only.
    const fs::path dir = classLayer("CodePage", {"Hlavn\xED", "HLAVN\xCD"});
    writeFile(dir / "layer.cpg", "1250\n");
    writeFile(dir / "roads.types", "hlavn\xC3\xAD = 0x02\n");
    const RunResult result = runProgram(dir, {"-q", "--type-map", "roads.types", "layer.shp", "FCLASS", "NAME", "n"});
    EXPECT_EQ(result.out,
              "[WRN] 1 records have a type value the type map does not list and were skipped "
              "(first: record 2; values: HLAVN\xC3\x8D).\n");
    EXPECT_EQ(readFile(dir / "layer.shp.mp"), crlf(std::string(kDefaultHeader) + section(0, "Type=0x02\nLabel=n1\n")));
}

TEST(TypeMap, FilesThatAreRefused) {
    const struct {
        const char* name;
        const char* content;  // nullptr: no such file
        std::string message;
    } cases[] = {
        {"Missing", nullptr, "[ERR] Type map m.types cannot be read. Exiting...\n"},
        {"NoEquals", "# roads\n\nmotorway 0x01\n", "[ERR] Type map m.types, line 3: no \"=\". Exiting...\n"},
        {"NoValue", " \t= 0x01\n", "[ERR] Type map m.types, line 1: no value. Exiting...\n"},
        {"NoType", "a =\n", "[ERR] Type map m.types, line 1: no type number. Exiting...\n"},
        {"TextType", "a = primary\n", "[ERR] Type map m.types, line 1: no type number. Exiting...\n"},
        {"LeadingZero", "a = 06\n", "[ERR] Type map m.types, line 1: no type number. Exiting...\n"},
        {"Zero", "a = 0\n", "[ERR] Type map m.types, line 1: no type number. Exiting...\n"},
        {"BareHexPrefix", "a = 0x\n", "[ERR] Type map m.types, line 1: no type number. Exiting...\n"},
        {"BadHex", "a = 0x1g\n", "[ERR] Type map m.types, line 1: no type number. Exiting...\n"},
        {"LevelTen", "a = 0x01 10\n", "[ERR] Type map m.types, line 1: no end level from 0 to 9. Exiting...\n"},
        {"LevelLetter", "a = 0x01 x\n", "[ERR] Type map m.types, line 1: no end level from 0 to 9. Exiting...\n"},
        {"TextAfter", "a = 0x01 2 # main\n",
         "[ERR] Type map m.types, line 1: text after the end level. Exiting...\n"},
        // CR LF line ends; values compared without ASCII case.
        {"Twice", "a = 0x01\r\nb = 0x02\r\nA = 0x03\r\n",
         "[ERR] Type map m.types, line 3: value listed twice. Exiting...\n"},
        {"StarTwice", "* = 0x01\n* = 0x02\n", "[ERR] Type map m.types, line 2: value listed twice. Exiting...\n"},
        {"OnlyComments", "# nothing\n  \t\n  # here\n", "[ERR] Type map m.types holds no rule. Exiting...\n"},
        {"Empty", "", "[ERR] Type map m.types holds no rule. Exiting...\n"},
    };
    for (const auto& c : cases) {
        const fs::path dir = classLayer(std::string("Refused.") + c.name, {"a"});
        if (c.content != nullptr) writeFile(dir / "m.types", c.content);
        writeFile(dir / "layer.shp.mp", "previous");
        const RunResult result = runProgram(dir, {"--type-map", "m.types", "layer.shp", "FCLASS", "NAME"});
        EXPECT_EQ(result.status, 1) << c.name;
        EXPECT_EQ(result.out, std::string(kBanner) + c.message) << c.name;
        EXPECT_EQ(readFile(dir / "layer.shp.mp"), "previous") << c.name;
    }
    // A folder cannot be read either.
    const fs::path dir = classLayer("Refused.Folder", {"a"});
    fs::create_directories(dir / "m.types");
    const RunResult result = runProgram(dir, {"--type-map", "m.types", "layer.shp", "FCLASS", "NAME"});
    EXPECT_EQ(result.out, std::string(kBanner) + "[ERR] Type map m.types cannot be read. Exiting...\n");
    EXPECT_FALSE(fs::exists(dir / "layer.shp.mp"));
}

TEST(TypeMap, EndLevelOptionAndTheHeadersLevels) {
    const struct {
        const char* name;
        std::vector<std::string> options;
        const char* dictionary;  // nullptr: the built-in header (Levels=4)
        std::string warning;
        std::string endLevel;
    } cases[] = {
        {"BelowLevels", {"--end-level", "3"}, nullptr, "", "EndLevel=3\n"},
        {"AtLevels", {"--end-level=4"}, nullptr,
         "[WRN] End level 4 is not below the header's Levels=4; map compilers cap it.\n", "EndLevel=4\n"},
        // Every rule counts, matched or not; the largest level is named.
        {"RuleLevels", {"--end-level", "5", "--type-map", "m.types"}, nullptr,
         "[INF] Types are taken from the type map m.types (2 rules).\n"
         "[WRN] End level 7 is not below the header's Levels=4; map compilers cap it.\n",
         "EndLevel=5\n"},
        // The dictionary's first Levels line, key in any case.
        {"DictionaryLevels", {"--end-level", "2"}, "[IMG ID]\nlevels = 2\nLevels=9\n[END-IMG ID]\n",
         "[WRN] End level 2 is not below the header's Levels=2; map compilers cap it.\n", "EndLevel=2\n"},
        // No number of levels, no check.
        {"NoLevels", {"--end-level", "9"}, "[IMG ID]\nLevels=x\nLevels=2\n[END-IMG ID]\n", "", "EndLevel=9\n"},
    };
    for (const auto& c : cases) {
        const fs::path dir = classLayer(std::string("EndLevel.") + c.name, {"0x05"});
        writeFile(dir / "m.types", "0x05 = 0x01\nunused = 0x02 7\n");
        std::vector<std::string> args = c.options;
        for (const char* a : {"layer.shp", "FCLASS", "NAME", "n"}) args.push_back(a);
        std::string header = kDefaultHeader;
        std::string headerMessages = kNoDictionary;
        if (c.dictionary != nullptr) {
            writeFile(dir / "d.mp", c.dictionary);
            args.push_back("d.mp");
            header = c.dictionary;
            headerMessages = "[INF] Using dictionary file: d.mp\n";
        }
        const RunResult result = runProgram(dir, args);
        EXPECT_EQ(maskRunningTime(result.out),
                  convertedRun("layer.shp", "Point", progress({0}), "", headerMessages + c.warning))
            << c.name;
        EXPECT_EQ(readFile(dir / "layer.shp.mp"),
                  crlf(header + section(0, "Type=" + std::string(c.options.size() > 2 ? "0x01" : "0x05") +
                                               "\nLabel=n1\n" + c.endLevel)))
            << c.name;
    }
    for (const char* value : {"10", "-1", "x", "01", ""}) {
        const fs::path dir = classLayer("EndLevel.Bad", {"a"});
        const RunResult result = runProgram(dir, {"--end-level", value, "layer.shp", "FCLASS", "NAME"});
        EXPECT_EQ(result.status, 2) << value;
        const std::string message = *value == '\0' ? "[ERR] Option --end-level needs a value."
                                                   : std::string("[ERR] Option --end-level does not take the value ") +
                                                         value + ".";
        EXPECT_NE(result.out.find(message + " Exiting...\n[INF] Usage:"), std::string::npos) << result.out;
    }
}

TEST(TypeMap, ColumnsWrittenUnderCompilerKeys) {
    const fs::path dir = scratchFolder("TypeMap.Keys");
    Layer layer;
    layer.fields = {{"KIND", FTString, 8, 0},  {"NAME", FTString, 8, 0},   {"label", FTString, 8, 0},
                    {"ENDLEVEL", FTString, 8, 0}, {"Data1", FTString, 8, 0}, {"DATA10", FTString, 8, 0},
                    {"origin0", FTString, 8, 0},  {"RoadID", FTString, 8, 0}, {"Labels", FTString, 8, 0}};
    layer.shapes = {point(1, 2)};
    layer.records = {{"0x01", "n", "l", "e", "d", "d10", "o", "r", "ls"}};
    writeLayer(dir / "layer", layer);
    const std::string warnings =
        "[WRN] The column label is written as a key that map compilers read and may override the "
        "section's own; give n as include all, or rename the column.\n"
        "[WRN] The column ENDLEVEL is written as a key that map compilers read and may override the "
        "section's own; give n as include all, or rename the column.\n"
        "[WRN] The column Data1 is written as a key that map compilers read and may override the "
        "section's own; give n as include all, or rename the column.\n"
        "[WRN] The column origin0 is written as a key that map compilers read and may override the "
        "section's own; give n as include all, or rename the column.\n"
        "[WRN] The column RoadID is written as a key that map compilers read and may override the "
        "section's own; give n as include all, or rename the column.\n";
    const RunResult result = runProgram(dir, {"layer.shp", "KIND", "NAME"});
    EXPECT_EQ(maskRunningTime(result.out),
              convertedRun("layer.shp", "Point", progress({0}), "", std::string(kNoDictionary) + warnings));
    // With include all off those columns are not written: no warning.
    const RunResult off = runProgram(dir, {"-q", "layer.shp", "KIND", "NAME", "n"});
    EXPECT_EQ(off.out, "");
}

}  // namespace
