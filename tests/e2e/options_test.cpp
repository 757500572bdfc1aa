// Options before the positional arguments, the exit status of every kind
// of ending, and the console forms of -q and -o -.
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

const std::string kMap = crlf(std::string(kDefaultHeader) +
                              "[POI]\nData0=(52.250000,13.500000)\nType=0x2f06\nLabel=Alpha\n[END]\n\n"
                              "[POI]\nData0=(51.500000,-0.123457)\nType=0x2f07\nLabel=Beta\n[END]\n\n");

Layer twoPoints() {
    Layer layer;
    layer.shapes = {point(13.5, 52.25), point(-0.1234567, 51.5)};
    layer.fields = {{"KIND", FTString, 10, 0}, {"NAME", FTString, 20, 0}};
    layer.records = {{"0x2f06", "Alpha"}, {"0x2f07", "Beta"}};
    return layer;
}

fs::path layerFolder(const std::string& name) {
    const fs::path dir = scratchFolder("Options." + name);
    writeLayer(dir / "roads", twoPoints());
    return dir;
}

TEST(Options, ExitStatus) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        int status;
        void (*prepare)(const fs::path&);
    } cases[] = {
        {"Converted", {"roads.shp", "KIND", "NAME"}, 0, nullptr},
        {"ConvertedWithWarnings", {"roads.shp", "NOSUCH", "NAME"}, 0, nullptr},
        {"NoDbf", {"nope.shp", "KIND", "NAME"}, 1, nullptr},
        {"NoShp", {"roads.shp", "KIND", "NAME"}, 1, [](const fs::path& d) { fs::remove(d / "roads.shx"); }},
        {"NoDictionary", {"roads.shp", "KIND", "NAME", "y", "missing.txt"}, 1, nullptr},
        {"RefusedKind", {"roads.shp", "KIND", "NAME"}, 1,
         [](const fs::path& d) {
             Layer layer = twoPoints();
             layer.shapeType = SHPT_MULTIPOINT;
             for (Shape& shape : layer.shapes) shape.type = SHPT_MULTIPOINT;
             writeLayer(d / "roads", layer);
         }},
        {"CannotCreate", {"roads.shp", "KIND", "NAME"}, 1,
         [](const fs::path& d) { fs::create_directories(d / "roads.shp.mp"); }},
        {"TooFewArguments", {"roads.shp", "KIND"}, 2, nullptr},
        {"TooManyArguments", {"roads.shp", "K", "N", "y", "d", "1", "M", "x"}, 2, nullptr},
        {"UnknownOption", {"--frobnicate", "roads.shp", "KIND", "NAME"}, 2, nullptr},
        // After the first positional argument "-o" is the include-all flag.
        {"OptionAfterArguments", {"roads.shp", "KIND", "NAME", "-o"}, 0, nullptr},
        {"MissingValueAtEnd", {"-o"}, 2, nullptr},
        {"FlagWithValue", {"--quiet=yes", "roads.shp", "KIND", "NAME"}, 2, nullptr},
        {"Help", {"--help"}, 0, nullptr},
        {"Version", {"-V"}, 0, nullptr},
    };
    for (const auto& c : cases) {
        const fs::path dir = layerFolder(std::string("Status.") + c.name);
        if (c.prepare != nullptr) c.prepare(dir);
        const RunResult run = runProgram(dir, c.args);
        EXPECT_EQ(run.status, c.status) << c.name << "\n" << run.out;
    }
}

TEST(Options, CommandLineErrors) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string message;
        bool banner;
    } cases[] = {
        {"Unknown", {"--frobnicate", "roads.shp", "KIND", "NAME"},
         "[ERR] Unknown option --frobnicate. Exiting...\n", true},
        // The argument as typed, value and all.
        {"UnknownWithValue", {"--frob=1", "roads.shp", "KIND", "NAME"},
         "[ERR] Unknown option --frob=1. Exiting...\n", true},
        // Short options are not clustered.
        {"Clustered", {"-qo", "x.mp", "roads.shp", "KIND", "NAME"},
         "[ERR] Unknown option -qo. Exiting...\n", true},
        {"NeedsValue", {"-o"}, "[ERR] Option -o needs a value. Exiting...\n", true},
        {"NeedsValueLong", {"--output"}, "[ERR] Option --output needs a value. Exiting...\n", true},
        {"EmptyValue", {"--output=", "roads.shp", "KIND", "NAME"},
         "[ERR] Option --output needs a value. Exiting...\n", true},
        {"FlagTakesNoValue", {"--quiet=yes", "roads.shp", "KIND", "NAME"},
         "[ERR] Option --quiet does not take the value yes. Exiting...\n", true},
        // The first option that ends the run decides: help after an error
        // does not count, an error after help is never read.
        {"ErrorBeforeHelp", {"--bad", "--help"}, "[ERR] Unknown option --bad. Exiting...\n", true},
        // After -q the banner is left out; the error and the usage line stay.
        {"QuietThenError", {"-q", "--bad", "roads.shp", "KIND", "NAME"},
         "[ERR] Unknown option --bad. Exiting...\n", false},
        {"QuietWrongCount", {"-q", "roads.shp"}, "[ERR] Incorrect parameter! Exiting...\n", false},
        // Options end at the first positional argument: an option after it
        // is an argument, and eight arguments are too many.
        {"OptionAfterArguments", {"roads.shp", "KIND", "NAME", "y", "d.mp", "1", "M", "-q"},
         "[ERR] Incorrect parameter! Exiting...\n", true},
    };
    for (const auto& c : cases) {
        const fs::path dir = layerFolder(std::string("Errors.") + c.name);
        const RunResult run = runProgram(dir, c.args);
        EXPECT_EQ(run.status, 2) << c.name;
        EXPECT_EQ(run.out, (c.banner ? std::string(kBanner) : std::string()) + c.message + kUsageLine)
            << c.name;
        EXPECT_EQ(run.err, "") << c.name;
        EXPECT_EQ(folderEntries(dir), (std::vector<std::string>{"roads.dbf", "roads.shp", "roads.shx"}))
            << c.name;
    }
}

TEST(Options, ErrorAfterStandardOutputGoesToStandardError) {
    // Also when a later -o names a file: the map may already be expected on
    // standard output.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-o", "-", "--bad", "roads.shp", "KIND", "NAME"},
          std::vector<std::string>{"-o", "-", "-o", "x.mp", "--bad", "roads.shp", "KIND", "NAME"}}) {
        const fs::path dir = layerFolder("ErrorAfterDash");
        const RunResult run = runProgram(dir, args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, std::string(kBanner) + "[ERR] Unknown option --bad. Exiting...\n" + kUsageLine);
    }
}

TEST(Options, HelpAndVersion) {
    const fs::path dir = layerFolder("HelpVersion");
    for (const char* option : {"-h", "--help"}) {
        // Help ends the run before anything is looked at, the rest unread.
        const RunResult run = runProgram(dir, {option, "--bad", "x"});
        EXPECT_EQ(run.status, 0) << option;
        EXPECT_EQ(run.err, "") << option;
        EXPECT_EQ(run.out.find("Welcome"), std::string::npos) << option;
        for (const char* named : {"<layer>", "<type column>", "<label column>", "<include all>",
                                  "<dictionary>", "<map ID>", "<map name>", "-o, --output FILE",
                                  "-q, --quiet", "-h, --help", "-V, --version"}) {
            EXPECT_NE(run.out.find(named), std::string::npos) << option << " lacks " << named;
        }
    }
    for (const char* option : {"-V", "--version"}) {
        const RunResult run = runProgram(dir, {option});
        EXPECT_EQ(run.status, 0) << option;
        EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), "orvtessel 0.9.8\n") << option;
        EXPECT_NE(run.out.find("\nPROJ 9."), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("\nICU "), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("Welcome"), std::string::npos) << option;
    }
    EXPECT_EQ(folderEntries(dir), (std::vector<std::string>{"roads.dbf", "roads.shp", "roads.shx"}));
}

TEST(Options, OutputIntoAnotherFolder) {
    const fs::path dir = layerFolder("OutputElsewhere");
    fs::create_directories(dir / "maps");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-o", "maps/roads.mp", "roads.shp", "KIND", "NAME"},
          std::vector<std::string>{"--output=maps/roads.mp", "roads.shp", "KIND", "NAME"},
          // The last of a repeated option counts.
          std::vector<std::string>{"-o", "x.mp", "--output", "maps/roads.mp", "roads.shp", "KIND", "NAME"}}) {
        fs::remove(dir / "maps" / "roads.mp");
        const RunResult run = runProgram(dir, args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(maskRunningTime(run.out),
                  std::string(kBanner) + kNoDictionary +
                      "[INF] The roads.shp file contains Point elements.\n" + progress({0, 50}) +
                      "\n[INF] maps/roads.mp file has been written out.\n[INF] Running time was: <T>\n");
        EXPECT_EQ(readFile(dir / "maps" / "roads.mp"), kMap);
        EXPECT_EQ(folderEntries(dir), (std::vector<std::string>{"maps", "roads.dbf", "roads.shp", "roads.shx"}));
    }
}

TEST(Options, DoubleDashAndArgumentsThatLookLikeOptions) {
    const fs::path dir = scratchFolder("Options.DoubleDash");
    writeLayer(dir / "-roads", twoPoints());
    writeFile(dir / "dict.mp", "[IMG ID]\nName=\n[END-IMG ID]\n");
    // After "--" a layer may begin with "-"; a map name may begin with "-"
    // anyway, since options end at the first positional argument.
    const RunResult run = runProgram(dir, {"-q", "--", "-roads.shp", "KIND", "NAME", "y", "dict.mp", "7", "-x map"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    const std::string head = crlf("[IMG ID]\nName=-x map\n[END-IMG ID]\n");
    EXPECT_EQ(readFile(dir / "-roads.shp.mp").substr(0, head.size()), head);
}

TEST(Options, QuietPrintsOnlyWarningsAndErrorsAsLines) {
    const fs::path dir = layerFolder("Quiet");
    {
        const RunResult run = runProgram(dir, {"-q", "roads.shp", "KIND", "NAME"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(readFile(dir / "roads.shp.mp"), kMap);
    }
    {
        // Warnings before and after the loop, each one line; no progress.
        Layer layer = twoPoints();
        layer.shapes[1] = nullShape();
        writeLayer(dir / "roads", layer);
        const RunResult run = runProgram(dir, {"--quiet", "roads.shp", "KND", "NAME", "y", "d.mp", "1"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "[ERR] Dictionary file not found. Exiting...\n");
        const RunResult warned = runProgram(dir, {"--quiet", "roads.shp", "kind", "NAME"});
        EXPECT_EQ(warned.status, 0);
        EXPECT_EQ(warned.out,
                  "[WRN] The table has no column kind; sections get no Type line. Did you mean KIND?\n"
                  "[WRN] 1 records without coordinates were skipped (first: record 2).\n");
    }
}

TEST(Options, MapToStandardOutput) {
    const fs::path dir = layerFolder("Dash");
    const RunResult toFile = runProgram(dir, {"roads.shp", "KIND", "NAME"});
    ASSERT_EQ(toFile.status, 0);
    // Through a pipe into a reader: the same bytes as the file.
    const RunResult piped = runProgramWith(dir, {"-o", "-", "roads.shp", "KIND", "NAME"}, "| cat > piped.mp");
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(readFile(dir / "piped.mp"), readFile(dir / "roads.shp.mp"));
    EXPECT_EQ(maskRunningTime(piped.err),
              std::string(kBanner) + kNoDictionary +
                  "[INF] The roads.shp file contains Point elements.\n"
                  "[INF] - file has been written out.\n"
                  "[INF] Running time was: <T>\n");
    // With -q, nothing but the map.
    const RunResult quiet = runProgram(dir, {"-q", "-o", "-", "roads.shp", "KIND", "NAME"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, kMap);
    EXPECT_EQ(quiet.err, "");
    // A standard output that cannot be written is a write failure.
    for (const char* tail : {">&-", "> /dev/full"}) {
        const RunResult failed = runProgramWith(dir, {"-o", "-", "roads.shp", "KIND", "NAME"}, tail);
        EXPECT_EQ(failed.status, 1) << tail;
        EXPECT_NE(failed.err.find("[ERR] Writing - failed. Exiting...\n"), std::string::npos)
            << tail << failed.err;
        EXPECT_EQ(failed.err.find("written out"), std::string::npos) << tail;
    }
}

TEST(Options, ConsoleThatGoesAwayChangesNothing) {
    const fs::path dir = layerFolder("ConsoleGone");
    for (const char* tail : {">&-", "| head -c 10 > /dev/null"}) {
        fs::remove(dir / "roads.shp.mp");
        const RunResult run = runProgramWith(dir, {"roads.shp", "KIND", "NAME"}, tail);
        EXPECT_EQ(run.status, 0) << tail;
        EXPECT_EQ(readFile(dir / "roads.shp.mp"), kMap) << tail;
    }
}

}  // namespace

namespace {

TEST(Options, LayerCodePageReplacesTheDeclaration) {
    // An ISO-8859-1 table declared as UTF-8 by its .cpg (a common mistake):
    // the option overrides it and is named as typed.
    const fs::path dir = scratchFolder("Options.LayerCodePage");
    Layer layer;
    layer.shapes = {point(1, 2)};
    layer.fields = {{"KIND", FTString, 8, 0}, {"NAME", FTString, 20, 0}};
    layer.records = {{"0x01", "Na\xE7\xE3o"}};
    writeLayer(dir / "layer", layer);
    writeFile(dir / "layer.cpg", "UTF-8\n");
    const RunResult run = runProgram(dir, {"--layer-code-page", "iso8859-1", "layer.shp", "KIND", "NAME"});
    EXPECT_EQ(maskRunningTime(run.out),
              convertedRun("layer.shp", "Point", progress({0}),
                           "\n[WRN] 1 values have characters that code page 1250 lacks; they were written "
                           "as the nearest Latin letters or \"?\" (first: record 1).",
                           std::string(kNoDictionary) +
                               "[INF] Text is converted from iso8859-1 to code page 1250.\n"));
    // "ç" is in code page 1250, "ã" is not and becomes "a".
    EXPECT_EQ(readFile(dir / "layer.shp.mp"),
              crlf(std::string(kDefaultHeader) + "[POI]\nData0=(2.000000,1.000000)\nType=0x01\nLabel=Na\xE7" "ao\n[END]\n\n"));

    const RunResult unknown = runProgram(dir, {"--layer-code-page=klingon", "--bad", "layer.shp", "KIND", "NAME"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.out, std::string(kBanner) + "[ERR] Code page klingon is unknown. Exiting...\n" + kUsageLine);
}

}  // namespace
