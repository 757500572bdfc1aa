// The command line, the opening of the layer and the output path.
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

Layer twoPoints() {
    Layer layer;
    layer.shapeType = SHPT_POINT;
    layer.shapes = {point(13.5, 52.25), point(-0.1234567, 51.5)};
    layer.fields = {{"KIND", FTString, 10, 0}, {"NAME", FTString, 20, 0}};
    layer.records = {{"0x2f06", "Alpha"}, {"0x2f07", "Beta"}};
    return layer;
}

TEST(CommandLine, WrongArgumentCountPrintsUsageAndCreatesNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"roads.shp"},
        {"roads.shp", "KIND"},
        {"roads.shp", "KIND", "NAME", "y", "dict.mp", "1", "Map", "extra"},
    };
    for (const auto& args : cases) {
        const fs::path dir = scratchFolder("CommandLine.WrongCount." + std::to_string(args.size()));
        writeLayer(dir / "roads", twoPoints());
        const RunResult run = runProgram(dir, args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, std::string(kBanner) + kUsageError) << args.size() << " arguments";
        EXPECT_EQ(run.err, "");
        EXPECT_FALSE(fs::exists(dir / "roads.shp.mp"));
        EXPECT_FALSE(fs::exists(dir / ".mp"));
    }
}

TEST(CommandLine, OutputPathIsTheLayerArgumentWithMpAppended) {
    const struct {
        const char* layerArgument;
        const char* outputFile;
    } cases[] = {
        {"roads.shp", "roads.shp.mp"},
        {"roads", "roads.mp"},
        {"roads.dbf", "roads.dbf.mp"},
        {"./roads.SHP", "roads.SHP.mp"},
        {"sub.dir/roads", "sub.dir/roads.mp"},
    };
    for (const auto& c : cases) {
        const fs::path dir = scratchFolder("CommandLine.OutputPath");
        fs::create_directories(dir / "sub.dir");
        writeLayer(dir / "roads", twoPoints());
        writeLayer(dir / "sub.dir" / "roads", twoPoints());
        const RunResult run = runProgram(dir, {c.layerArgument, "KIND", "NAME"});
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(fs::exists(dir / c.outputFile)) << c.layerArgument;
        EXPECT_NE(run.out.find(std::string("\n[INF] ") + c.layerArgument + ".mp file has been written out."),
                  std::string::npos)
            << run.out;
    }
}

TEST(CommandLine, MissingLayerFiles) {
    const struct {
        const char* name;
        std::vector<const char*> removed;
        const char* message;
    } cases[] = {
        {"NoDbfNoShp", {"roads.dbf", "roads.shp", "roads.shx"}, "[ERR] No .dbf file found. Exiting...\n"},
        {"NoDbf", {"roads.dbf"}, "[ERR] No .dbf file found. Exiting...\n"},
        {"NoShp", {"roads.shp"}, "[ERR] No .shp file found. Exiting...\n"},
        {"NoShx", {"roads.shx"}, "[ERR] No .shp file found. Exiting...\n"},
    };
    for (const auto& c : cases) {
        const fs::path dir = scratchFolder(std::string("CommandLine.Missing.") + c.name);
        writeLayer(dir / "roads", twoPoints());
        for (const char* file : c.removed) fs::remove(dir / file);
        const RunResult run = runProgram(dir, {"roads.shp", "KIND", "NAME"});
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_EQ(run.out, std::string(kBanner) + c.message) << c.name;
        EXPECT_FALSE(fs::exists(dir / "roads.shp.mp")) << c.name;
    }
}

TEST(CommandLine, UpperCaseExtensionsAreFound) {
    const fs::path dir = scratchFolder("CommandLine.UpperCase");
    writeLayer(dir / "roads", twoPoints());
    for (const char* ext : {"shp", "shx", "dbf"}) {
        std::string upper = ext;
        for (char& ch : upper) ch = static_cast<char>(ch - 'a' + 'A');
        fs::rename(dir / (std::string("roads.") + ext), dir / ("roads." + upper));
    }
    const RunResult run = runProgram(dir, {"roads", "KIND", "NAME"});
    EXPECT_EQ(maskRunningTime(run.out), convertedRun("roads", "Point", progress({0, 50})));
}

TEST(CommandLine, OutputFileThatCannotBeCreated) {
    // A folder stands where the output file would go.
    const fs::path dir = scratchFolder("CommandLine.CannotCreate");
    writeLayer(dir / "roads", twoPoints());
    fs::create_directories(dir / "roads.shp.mp");
    const RunResult run = runProgram(dir, {"roads.shp", "KIND", "NAME"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, std::string(kBanner) + "[ERR] Cannot create output file roads.shp.mp. Exiting...\n");
    EXPECT_TRUE(fs::is_directory(dir / "roads.shp.mp"));
}

TEST(CommandLine, CompleteRunPrintsEverythingInOrder) {
    const fs::path dir = scratchFolder("CommandLine.CompleteRun");
    writeLayer(dir / "roads", twoPoints());
    const RunResult run = runProgram(dir, {"roads.shp", "KIND", "NAME"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(maskRunningTime(run.out), convertedRun("roads.shp", "Point", progress({0, 50})));
    EXPECT_EQ(readFile(dir / "roads.shp.mp"),
              crlf(std::string(kDefaultHeader) +
                   "[POI]\nData0=(52.250000,13.500000)\nType=0x2f06\nLabel=Alpha\n[END]\n\n"
                   "[POI]\nData0=(51.500000,-0.123457)\nType=0x2f07\nLabel=Beta\n[END]\n\n"));
}

}  // namespace
