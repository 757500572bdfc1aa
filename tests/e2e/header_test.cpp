// The map header: the built-in block, or the dictionary copied line by
// line with its bare ID= and Name= lines filled from the command line.
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

const char* const kSection = "[POI]\r\nData0=(2.000000,1.000000)\r\nType=0x01\r\n[END]\r\n\r\n";

fs::path onePointLayer(const std::string& name) {
    const fs::path dir = scratchFolder("Header." + name);
    Layer layer;
    layer.shapes = {point(1, 2)};
    layer.fields = {{"KIND", FTString, 8, 0}};
    layer.records = {{"0x01"}};
    writeLayer(dir / "layer", layer);
    return dir;
}

TEST(Header, BuiltInBlock) {
    const fs::path dir = onePointLayer("BuiltIn");
    const RunResult run = runProgram(dir, {"layer.shp", "KIND", "KIND", "y"});
    const std::string file = readFile(dir / "layer.shp.mp");
    EXPECT_EQ(file, crlf(kDefaultHeader) + kSection);
    // 26 lines and an empty one: 356 characters, 383 bytes with CR LF.
    EXPECT_EQ(crlf(kDefaultHeader).size(), 383U);
    EXPECT_EQ(maskRunningTime(run.out), convertedRun("layer.shp", "Point", progress({0})));
}

TEST(Header, DictionaryCopies) {
    const std::string dictionary =
        ";custom\n[IMG ID]\nID=\nName=\nID=\nID= \nid=\nID=12345678\nName=Kept\n\n[END-IMG ID]\n";
    const struct {
        const char* name;
        std::string content;
        std::vector<std::string> extraArgs;  // after the dictionary path
        std::string messages;                // after "Using dictionary file"
        std::string header;                  // expected head of the output file
    } cases[] = {
        {"NoIdNoName", dictionary, {}, "", crlf(dictionary)},
        // Every bare ID= line is replaced and reported, nothing else.
        {"IdOnly", dictionary, {"87654321"},
         "[INF] Using custom ID: 87654321\n[INF] Using custom ID: 87654321\n",
         crlf(";custom\n[IMG ID]\nID=87654321\nName=\nID=87654321\nID= \nid=\nID=12345678\nName=Kept\n\n"
              "[END-IMG ID]\n")},
        {"IdAndName", dictionary, {"87654321", "Brno 100%"},
         "[INF] Using custom ID: 87654321\n[INF] Using custom map name: Brno 100%\n"
         "[INF] Using custom ID: 87654321\n",
         crlf(";custom\n[IMG ID]\nID=87654321\nName=Brno 100%\nID=87654321\nID= \nid=\nID=12345678\n"
              "Name=Kept\n\n[END-IMG ID]\n")},
        // A map name without a bare Name= line changes nothing.
        {"NameWithoutLine", ";x\nID=1\n", {"7", "Map"}, "", crlf(";x\nID=1\n")},
        // A last line without a line end still gets one.
        {"NoFinalLineEnd", ";a\n[END-IMG ID]", {}, "", crlf(";a\n[END-IMG ID]\n")},
        // CR LF lines: the CR belongs to the line end. A lone CR stays.
        {"CrLfLines", ";a\r\nID=\r\n;b\rc\r\n", {"5"}, "[INF] Using custom ID: 5\n",
         ";a\r\nID=5\r\n;b\rc\r\n"},
        // A CR at the very end without LF stays in the line.
        {"TrailingCr", ";a\r", {}, "", ";a\r\r\n"},
        // Empty lines are lines; a final line end opens no further one.
        {"EmptyLines", "\n\n;a\n\n", {}, "", crlf("\n\n;a\n\n")},
        {"EmptyDictionary", "", {"5", "M"}, "", ""},
        // NUL bytes and a long line are copied whole.
        {"NulAndLongLine", std::string(";a\0b\n", 5) + std::string(200000, 'x') + "\n", {}, "",
         std::string(";a\0b\r\n", 6) + std::string(200000, 'x') + "\r\n"},
        // An empty map ID is still a given map ID.
        {"EmptyId", "ID=\n", {""}, "[INF] Using custom ID: \n", crlf("ID=\n")},
    };
    for (const auto& c : cases) {
        const fs::path dir = onePointLayer(std::string("Dictionary.") + c.name);
        writeFile(dir / "dict.mp", c.content);
        std::vector<std::string> args = {"layer.shp", "KIND", "KIND", "y", "dict.mp"};
        args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
        const RunResult run = runProgram(dir, args);
        EXPECT_EQ(maskRunningTime(run.out),
                  convertedRun("layer.shp", "Point", progress({0}), "",
                               "[INF] Using dictionary file: dict.mp\n" + c.messages))
            << c.name;
        EXPECT_EQ(readFile(dir / "layer.shp.mp"), c.header + kSection) << c.name;
    }
}

TEST(Header, DictionaryThatCannotBeRead) {
    const struct {
        const char* name;
        bool makeFolder;
    } cases[] = {{"Missing", false}, {"Folder", true}};
    for (const auto& c : cases) {
        const fs::path dir = onePointLayer(std::string("Unreadable.") + c.name);
        if (c.makeFolder) fs::create_directories(dir / "dict.mp");
        const RunResult run = runProgram(dir, {"layer.shp", "KIND", "KIND", "y", "dict.mp", "1", "M"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, std::string(kBanner) +
                               "[INF] Using dictionary file: dict.mp\n"
                               "[ERR] Dictionary file not found. Exiting...\n")
            << c.name;
        // No output file is left behind.
        EXPECT_FALSE(fs::exists(dir / "layer.shp.mp")) << c.name;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
                  c.makeFolder ? 4 : 3)
            << c.name;
    }
}

TEST(Header, MapNameAndIdTypedInUtf8) {
    // Converted to the code page the dictionary declares, even below the
    // Name= line; the console shows them as typed. Bytes that are no UTF-8
    // are written as typed.
    const struct {
        const char* name;
        std::string dictionary;
        std::string mapName;
        std::string written;
    } cases[] = {
        {"To1250", "[IMG ID]\nName=\nCodepage=1250\n", "Brno \xE2\x80\x93 st\xC5\x99" "ed",
         "Brno \x96 st\xF8" "ed"},
        {"ToUtf8", "[IMG ID]\nName=\nCodepage=65001\n", "Brno \xE2\x80\x93 st\xC5\x99" "ed",
         "Brno \xE2\x80\x93 st\xC5\x99" "ed"},
        {"NoUtf8", "[IMG ID]\nName=\nCodepage=1250\n", "st\xF8" "ed", "st\xF8" "ed"},
        // Letters the code page lacks are transliterated, as values are.
        {"Transliterated", "Codepage=1252\nName=\n", "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0", "Moskva"},
    };
    for (const auto& c : cases) {
        const fs::path dir = onePointLayer(std::string("Utf8Name.") + c.name);
        writeFile(dir / "dict.mp", c.dictionary);
        const RunResult run = runProgram(dir, {"layer.shp", "KIND", "KIND", "y", "dict.mp", "7", c.mapName});
        EXPECT_EQ(maskRunningTime(run.out),
                  convertedRun("layer.shp", "Point", progress({0}), "",
                               "[INF] Using dictionary file: dict.mp\n[INF] Using custom map name: " +
                                   c.mapName + "\n"))
            << c.name;
        std::string header = c.dictionary;
        header.replace(header.find("Name=\n"), 6, "Name=" + c.written + "\n");
        EXPECT_EQ(readFile(dir / "layer.shp.mp"), crlf(header) + kSection) << c.name;
    }
}

TEST(Header, DictionaryThatIsTheOutputFile) {
    // The map is written to a new file that replaces the old one at the end,
    // so the dictionary is read as the output file was before the run.
    const fs::path dir = onePointLayer("OutputAsDictionary");
    writeFile(dir / "layer.shp.mp", ";old content\nID=\n");
    const RunResult run = runProgram(dir, {"layer.shp", "KIND", "KIND", "y", "layer.shp.mp", "9"});
    EXPECT_EQ(maskRunningTime(run.out),
              convertedRun("layer.shp", "Point", progress({0}), "",
                           "[INF] Using dictionary file: layer.shp.mp\n"
                           "[INF] Using custom ID: 9\n"));
    EXPECT_EQ(readFile(dir / "layer.shp.mp"), crlf(";old content\nID=9\n") + kSection);
}

}  // namespace
