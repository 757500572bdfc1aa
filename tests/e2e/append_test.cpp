// --append: one map from several layers. The sections of each layer are
// added to an existing map, in its header's code page, and a failing
// append leaves the map as it was.
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "expected.h"
#include "layer_writer.h"
#include "program_run.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

Layer pointLayer() {
    Layer layer;
    layer.shapes = {point(16.6, 49.2), point(16.7, 49.3)};
    layer.fields = {{"TYPE", FTString, 8, 0}, {"NAME", FTString, 20, 0}};
    layer.records = {{"0x2f06", "Hotel"}, {"0x2c05", "Museum"}};
    return layer;
}

Layer lineLayer() {
    Layer layer;
    layer.shapeType = SHPT_ARC;
    layer.shapes = {multiPart(SHPT_ARC, {{{16.6, 49.2}, {16.61, 49.21}}})};
    layer.fields = {{"TYPE", FTString, 8, 0}, {"NAME", FTString, 20, 0}};
    layer.records = {{"0x06", "Husova"}};
    return layer;
}

Layer areaLayer() {
    Layer layer;
    layer.shapeType = SHPT_POLYGON;
    layer.shapes = {multiPart(SHPT_POLYGON, {{{16.6, 49.2}, {16.6, 49.3}, {16.7, 49.3}, {16.6, 49.2}}})};
    layer.fields = {{"TYPE", FTString, 8, 0}, {"NAME", FTString, 20, 0}};
    layer.records = {{"0x3c", "Lake"}};
    return layer;
}

// What a run without --append writes after the built-in header.
std::string sectionsOf(const fs::path& dir, const std::string& layer) {
    const RunResult run = runProgram(dir, {"-q", "-o", layer + ".alone", layer + ".shp", "TYPE", "NAME"});
    EXPECT_EQ(run.status, 0) << layer;
    const std::string file = readFile(dir / (layer + ".alone"));
    const std::string header = crlf(kDefaultHeader);
    EXPECT_EQ(file.substr(0, header.size()), header) << layer;
    fs::remove(dir / (layer + ".alone"));
    return file.substr(header.size());
}

fs::path threeLayers(const std::string& name) {
    const fs::path dir = scratchFolder("Append." + name);
    writeLayer(dir / "points", pointLayer());
    writeLayer(dir / "roads", lineLayer());
    writeLayer(dir / "areas", areaLayer());
    return dir;
}

TEST(Append, ThreeLayersMakeOneMap) {
    const fs::path dir = threeLayers("ThreeLayers");
    const std::string expected =
        crlf(kDefaultHeader) + sectionsOf(dir, "points") + sectionsOf(dir, "roads") + sectionsOf(dir, "areas");
    ASSERT_EQ(runProgram(dir, {"-q", "-o", "map.mp", "points.shp", "TYPE", "NAME"}).status, 0);
    const RunResult roads = runProgram(dir, {"--append", "-o", "map.mp", "roads.shp", "TYPE", "NAME"});
    EXPECT_EQ(roads.status, 0);
    EXPECT_EQ(maskRunningTime(roads.out),
              std::string(kBanner) + "[INF] Appending to map.mp (code page 1250).\n"
                                     "[INF] The roads.shp file contains Polyline elements.\n" +
                  progress({0}) + "\n[INF] map.mp file has been written out.\n[INF] Running time was: <T>\n");
    // Without -o the output path is derived as always.
    fs::rename(dir / "map.mp", dir / "areas.shp.mp");
    EXPECT_EQ(runProgram(dir, {"-a", "areas.shp", "TYPE", "NAME"}).status, 0);
    EXPECT_EQ(readFile(dir / "areas.shp.mp"), expected);
}

TEST(Append, TextTakesTheExistingHeadersCodePage) {
    // A map whose header says UTF-8, and a layer in code page 1250: the
    // appended labels are UTF-8. The header has no LF at its very end, so a
    // line end comes first.
    const fs::path dir = scratchFolder("Append.CodePage");
    Layer layer = pointLayer();
    layer.records = {{"0x2f06", "Kr\xE1lovo Pole"}, {"0x2c05", "\xC8" "ern\xE1 Pole"}};
    writeLayer(dir / "points", layer);
    writeFile(dir / "points.cpg", "1250");
    const std::string header = "; made by hand\r\n\r\n[IMG ID]\r\nCodePage = 65001\r\nLevels=2\r\n[END-IMG ID]";
    writeFile(dir / "map.mp", header);
    const RunResult run = runProgram(dir, {"-a", "--end-level", "3", "-o", "map.mp", "points.shp", "TYPE", "NAME"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(maskRunningTime(run.out),
              std::string(kBanner) + "[INF] Appending to map.mp (code page 65001).\n"
                                     "[INF] Text is converted from 1250 to code page 65001.\n"
                                     "[WRN] End level 3 is not below the header's Levels=2; map compilers cap it.\n"
                                     "[INF] The points.shp file contains Point elements.\n" +
                  progress({0, 50}) + "\n[INF] map.mp file has been written out.\n[INF] Running time was: <T>\n");
    EXPECT_EQ(readFile(dir / "map.mp"),
              header + crlf("\n[POI]\nData0=(49.200000,16.600000)\nType=0x2f06\nLabel=Kr\xC3\xA1lovo Pole\nEndLevel=3\n[END]\n\n"
                            "[POI]\nData0=(49.300000,16.700000)\nType=0x2c05\nLabel=\xC4\x8C" "ern\xC3\xA1 Pole\nEndLevel=3\n[END]\n\n"));
}

TEST(Append, Refusals) {
    const struct {
        const char* name;
        std::function<void(const fs::path&)> prepare;
        std::string reason;
    } cases[] = {
        {"Missing", [](const fs::path&) {}, "no such file"},
        {"DanglingLink", [](const fs::path& d) { fs::create_symlink("gone.mp", d / "map.mp"); }, "no such file"},
        {"Folder", [](const fs::path& d) { fs::create_directories(d / "map.mp"); }, "cannot be read"},
        {"Empty", [](const fs::path& d) { writeFile(d / "map.mp", ""); }, "no map header"},
        {"TextBeforeHeader", [](const fs::path& d) { writeFile(d / "map.mp", "x\n[IMG ID]\n[END-IMG ID]\n"); },
         "no map header"},
        {"NoHeaderEnd", [](const fs::path& d) { writeFile(d / "map.mp", ";a\n[IMG ID]\nID=1\n[END]\n"); },
         "no map header"},
        {"SectionsOnly", [](const fs::path& d) { writeFile(d / "map.mp", "[POI]\nData0=(1,2)\n[END]\n"); },
         "no map header"},
    };
    for (const auto& c : cases) {
        const fs::path dir = threeLayers(std::string("Refused.") + c.name);
        c.prepare(dir);
        const RunResult run = runProgram(dir, {"-a", "-o", "map.mp", "roads.shp", "TYPE", "NAME"});
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_EQ(run.out, std::string(kBanner) + "[ERR] Cannot append to map.mp: " + c.reason + ". Exiting...\n")
            << c.name;
    }
    // A file the user may not write: run as nobody when the tests run as
    // root, who may write any file.
    const bool root = geteuid() == 0;
    if (!root || std::system("command -v setpriv > /dev/null 2>&1") == 0) {
        const fs::path dir = threeLayers("Refused.ReadOnly");
        writeFile(dir / "map.mp", "[IMG ID]\n[END-IMG ID]\n");
        fs::permissions(dir / "map.mp", fs::perms(0444));
        fs::permissions(dir, fs::perms(0777));
        const RunResult run = runProgramAfter(
            dir, root ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "",
            {"-a", "-o", "map.mp", "roads.shp", "TYPE", "NAME"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, std::string(kBanner) + "[ERR] Cannot append to map.mp: cannot be written. Exiting...\n");
        EXPECT_EQ(readFile(dir / "map.mp"), "[IMG ID]\n[END-IMG ID]\n");

        // A map the user may write in a folder that takes no new file is
        // appended to in place.
        fs::permissions(dir / "map.mp", fs::perms(0666));
        fs::permissions(dir, fs::perms(0755));
        const RunResult inPlace = runProgramAfter(
            dir, root ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "",
            {"-q", "-a", "-o", "map.mp", "roads.shp", "TYPE", "NAME"});
        EXPECT_EQ(inPlace.status, 0) << inPlace.out;
        EXPECT_EQ(readFile(dir / "map.mp"), "[IMG ID]\n[END-IMG ID]\n" + sectionsOf(dir, "roads"));
    }
}

TEST(Append, CommandLineErrors) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {"Dictionary", {"-a", "roads.shp", "TYPE", "NAME", "y", "d.mp"},
         "[ERR] A dictionary, map ID or map name cannot be given with --append. Exiting...\n"},
        {"MapName", {"roads.shp", "TYPE", "NAME", "y", "d.mp", "1", "Map"},
         "[ERR] A dictionary, map ID or map name cannot be given with --append. Exiting...\n"},
        {"StandardOutput", {"roads.shp", "TYPE", "NAME"},
         "[ERR] --append needs an output file, not standard output. Exiting...\n"},
        {"FlagWithValue", {"--append=yes", "roads.shp", "TYPE", "NAME"},
         "[ERR] Option --append does not take the value yes. Exiting...\n"},
    };
    for (const auto& c : cases) {
        const fs::path dir = threeLayers(std::string("Usage.") + c.name);
        writeFile(dir / "d.mp", "[IMG ID]\n[END-IMG ID]\n");
        std::vector<std::string> args = c.args;
        if (std::string(c.name) == "MapName") args.insert(args.begin(), "--append");
        const bool toDash = std::string(c.name) == "StandardOutput";
        if (toDash) args.insert(args.begin(), {"-a", "-o", "-"});
        const RunResult run = runProgram(dir, args);
        EXPECT_EQ(run.status, 2) << c.name;
        EXPECT_EQ(toDash ? run.err : run.out, std::string(kBanner) + c.message + kUsageLine) << c.name;
    }
}

TEST(Append, FailingAppendsLeaveTheMapAsItWas) {
    const struct {
        const char* name;
        std::string shellPrefix;
        std::function<void(const fs::path&)> prepare;
    } cases[] = {
        {"UnreadableLayer", "", [](const fs::path& d) { fs::remove(d / "roads.dbf"); }},
        {"RefusedKind", "",
         [](const fs::path& d) {
             Layer layer = lineLayer();
             layer.shapeType = SHPT_ARCZ;
             layer.shapes = {multiPart(SHPT_ARCZ, {{{1, 2}, {3, 4}}}), multiPart(SHPT_ARCZ, {{{1, 2}, {3, 4}}})};
             layer.records = {{"0x01", "a"}, {"0x02", "b"}};
             writeLayer(d / "roads", layer);
         }},
        // The copy of the map fits below the file size limit, its new
        // sections do not.
        {"WriteFailsMidway", "ulimit -f 200; trap '' XFSZ;",
         [](const fs::path& d) {
             Layer layer = lineLayer();
             layer.shapes.clear();
             layer.records.clear();
             for (int i = 0; i < 3000; ++i) {
                 layer.shapes.push_back(multiPart(SHPT_ARC, {{{16.6, 49.2}, {16.61, 49.21}, {16.62, 49.2}}}));
                 layer.records.push_back({"0x06", "Street number " + std::to_string(i)});
             }
             writeLayer(d / "roads", layer);
         }},
    };
    for (const auto& c : cases) {
        for (const bool throughLink : {false, true}) {
            const std::string name = std::string(c.name) + (throughLink ? ".Link" : ".File");
            const fs::path dir = threeLayers("Failing." + name);
            c.prepare(dir);
            ASSERT_EQ(runProgram(dir, {"-q", "-o", "real.mp", "points.shp", "TYPE", "NAME"}).status, 0);
            fs::permissions(dir / "real.mp", fs::perms(0640));
            const std::string before = readFile(dir / "real.mp");
            if (throughLink) fs::create_symlink("real.mp", dir / "map.mp");
            const std::string target = throughLink ? "map.mp" : "real.mp";
            const std::vector<std::string> entries = folderEntries(dir);
            const RunResult run = runProgramAfter(dir, c.shellPrefix, {"-q", "-a", "-o", target, "roads.shp", "TYPE", "NAME"});
            EXPECT_EQ(run.status, 1) << name << run.out;
            EXPECT_EQ(readFile(dir / "real.mp"), before) << name;
            EXPECT_EQ(folderEntries(dir), entries) << name;
            struct stat info {};
            ASSERT_EQ(stat((dir / "real.mp").c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0640u) << name;
            if (throughLink) {
                EXPECT_TRUE(fs::is_symlink(dir / "map.mp")) << name;
            }
        }
    }
}

TEST(Append, LinksAreAppendedThrough) {
    const fs::path dir = threeLayers("Link");
    ASSERT_EQ(runProgram(dir, {"-q", "-o", "real.mp", "points.shp", "TYPE", "NAME"}).status, 0);
    const std::string before = readFile(dir / "real.mp");
    fs::create_symlink("real.mp", dir / "map.mp");
    EXPECT_EQ(runProgram(dir, {"-q", "-a", "-o", "map.mp", "roads.shp", "TYPE", "NAME"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "map.mp"));
    EXPECT_EQ(readFile(dir / "real.mp"), before + sectionsOf(dir, "roads"));
}

}  // namespace
