// Damaged and unusual input: the program ends cleanly or converts what it
// can, never writes a broken section, and says what happened. Each case is
// a row of docs/bad-input.md.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "expected.h"
#include "layer_writer.h"
#include "program_run.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::vector<Field> kKindName = {{"KIND", FTString, 8, 0}, {"NAME", FTString, 12, 0}};

Shape twoPartLine() {
    return multiPart(SHPT_ARC, {{{1, 1}, {2, 2}, {3, 3}}, {{4, 4}, {5, 5}, {6, 6}}});
}

Layer lines(std::vector<Shape> shapes) {
    Layer layer;
    layer.shapeType = SHPT_ARC;
    layer.shapes = std::move(shapes);
    layer.fields = kKindName;
    for (std::size_t i = 0; i < layer.shapes.size(); ++i) {
        layer.records.push_back({"0x0" + std::to_string(i + 1), "n" + std::to_string(i)});
    }
    return layer;
}

const char* const kLineSection0 =
    "[POLYLINE]\nData0=(1.000000,1.000000),(2.000000,2.000000),(3.000000,3.000000)\n"
    "Data0=(4.000000,4.000000),(5.000000,5.000000),(6.000000,6.000000)\nType=0x01\nLabel=n0\n[END]\n\n";
const char* const kLineSection1 =
    "[POLYLINE]\nData0=(1.000000,1.000000),(2.000000,2.000000),(3.000000,3.000000)\n"
    "Data0=(4.000000,4.000000),(5.000000,5.000000),(6.000000,6.000000)\nType=0x02\nLabel=n1\n[END]\n\n";

struct Outcome {
    RunResult run;
    std::string file;
    bool fileExists;
};

Outcome convert(const std::string& name, const Layer& layer,
                const std::function<void(const fs::path&)>& damage,
                std::vector<std::string> args = {"layer.shp", "KIND", "NAME"}) {
    const fs::path dir = scratchFolder("BadInput." + name);
    writeLayer(dir / "layer", layer);
    damage(dir);
    Outcome outcome;
    outcome.run = runProgram(dir, args);
    outcome.fileExists = fs::exists(dir / (args[0] + ".mp"));
    outcome.file = outcome.fileExists ? readFile(dir / (args[0] + ".mp")) : "";
    // In a fresh folder, a run writes its map or fails: never both, never
    // neither.
    EXPECT_EQ(outcome.run.status, outcome.fileExists ? 0 : 1) << name;
    return outcome;
}

void truncateFile(const fs::path& path, std::size_t size) {
    std::string content = readFile(path);
    content.resize(size);
    writeFile(path, content);
}

TEST(BadInput, EmptyAndTruncatedLayerFilesThatCannotBeOpened) {
    const struct {
        const char* name;
        const char* file;
        std::size_t size;
        const char* message;
    } cases[] = {
        {"EmptyDbf", "layer.dbf", 0, "[ERR] No .dbf file found. Exiting...\n"},
        {"DbfHeaderCut", "layer.dbf", 20, "[ERR] No .dbf file found. Exiting...\n"},
        {"EmptyShp", "layer.shp", 0, "[ERR] No .shp file found. Exiting...\n"},
        {"EmptyShx", "layer.shx", 0, "[ERR] No .shp file found. Exiting...\n"},
        {"ShxHeaderCut", "layer.shx", 60, "[ERR] No .shp file found. Exiting...\n"},
        // An index entry whose length runs past the geometry file.
        {"IndexLengthTooLarge", "layer.shx", 0, "[ERR] No .shp file found. Exiting...\n"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = convert(c.name, lines({twoPartLine(), twoPartLine()}), [&](const fs::path& dir) {
            if (std::string(c.name) == "IndexLengthTooLarge") {
                patchInt32BE(dir / "layer.shx", 104, 0x7fff0000);
            } else {
                truncateFile(dir / c.file, c.size);
            }
        });
        EXPECT_EQ(outcome.run.out, std::string(kBanner) + c.message) << c.name;
        EXPECT_FALSE(outcome.fileExists) << c.name;
    }
}

// Opens each named pipe for writing and closes it again, once `patience`
// has passed without the watch being stopped: a run that waits on a pipe
// then reads its end instead of hanging the tests.
class PipeWatch {
public:
    PipeWatch(std::vector<fs::path> pipes, std::chrono::seconds patience)
        : thread_([this, pipes = std::move(pipes), patience] {
              const auto end = std::chrono::steady_clock::now() + patience;
              while (!stopped_ && std::chrono::steady_clock::now() < end) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
              if (stopped_) return;
              fired_ = true;
              for (const fs::path& pipe : pipes) {
                  const int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
                  if (fd != -1) close(fd);
              }
          }) {}
    PipeWatch(const PipeWatch&) = delete;
    PipeWatch& operator=(const PipeWatch&) = delete;
    ~PipeWatch() { stop(); }
    // True when the run had to be released.
    bool stop() {
        stopped_ = true;
        if (thread_.joinable()) thread_.join();
        return fired_;
    }

private:
    std::atomic<bool> stopped_{false};
    std::atomic<bool> fired_{false};
    std::thread thread_;
};

TEST(BadInput, LayerFilesThatAreNoRegularFiles) {
    // A pipe without a writer in the place of one of the layer's files
    // would block its open forever; a folder reads as nothing. Either is
    // taken as a missing file. A .cpg of that kind is no .cpg: the table
    // is written as stored, as without one.
    Layer layer = lines({twoPartLine()});
    layer.records = {{"0x01", "Stra\xdf" "e"}};
    const fs::path reference = scratchFolder("BadInput.NoRegularFile.Reference");
    writeLayer(reference / "layer", layer);
    const RunResult withoutCpg = runProgram(reference, {"layer.shp", "KIND", "NAME"});
    const std::string withoutCpgFile = readFile(reference / "layer.shp.mp");
    ASSERT_NE(withoutCpgFile.find("Label=Stra\xdf" "e"), std::string::npos);

    const struct {
        const char* name;
        const char* file;
        bool folder;
        const char* message;  // empty: converted as without the file
    } cases[] = {
        {"PipeDbf", "layer.dbf", false, "[ERR] No .dbf file found. Exiting...\n"},
        {"PipeShp", "layer.shp", false, "[ERR] No .shp file found. Exiting...\n"},
        {"PipeShx", "layer.shx", false, "[ERR] No .shp file found. Exiting...\n"},
        {"FolderDbf", "layer.dbf", true, "[ERR] No .dbf file found. Exiting...\n"},
        {"FolderShx", "layer.shx", true, "[ERR] No .shp file found. Exiting...\n"},
        {"PipeCpg", "layer.cpg", false, ""},
        {"PipeUpperCaseCpg", "layer.CPG", false, ""},
        {"FolderCpg", "layer.cpg", true, ""},
    };
    for (const auto& c : cases) {
        const fs::path dir = scratchFolder(std::string("BadInput.NoRegularFile.") + c.name);
        writeLayer(dir / "layer", layer);
        const fs::path path = dir / c.file;
        fs::remove(path);
        if (c.folder) {
            fs::create_directory(path);
        } else {
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << c.name;
        }
        PipeWatch watch({path}, std::chrono::seconds(20));
        const RunResult run = runProgram(dir, {"layer.shp", "KIND", "NAME"});
        EXPECT_FALSE(watch.stop()) << c.name << ": the run waited on the pipe";
        if (*c.message != '\0') {
            EXPECT_EQ(run.out, std::string(kBanner) + c.message) << c.name;
            EXPECT_FALSE(fs::exists(dir / "layer.shp.mp")) << c.name;
        } else {
            EXPECT_EQ(maskRunningTime(run.out), maskRunningTime(withoutCpg.out)) << c.name;
            EXPECT_TRUE(readFile(dir / "layer.shp.mp") == withoutCpgFile) << c.name;
        }
    }
}

TEST(BadInput, DictionaryMayBeAPipe) {
    // As `<(...)` in a shell hands it over: the layer's files must be
    // regular, the dictionary need not.
    const std::string dictionary = "[IMG ID]\nID=\nName=\nCodepage=1252\n[END-IMG ID]\n";
    const fs::path dir = scratchFolder("BadInput.DictionaryPipe");
    Layer layer;
    layer.shapes = {point(1, 2)};
    layer.fields = {{"KIND", FTString, 4, 0}};
    layer.records = {{"7"}};
    writeLayer(dir / "layer", layer);
    const fs::path pipe = dir / "dictionary.mp";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::thread writer([&] {
        // Blocks until the program opens the pipe for reading.
        const int fd = open(pipe.c_str(), O_WRONLY);
        if (fd == -1) return;
        const ssize_t nWritten = write(fd, dictionary.data(), dictionary.size());
        (void)nWritten;
        close(fd);
    });
    const RunResult run = runProgram(dir, {"layer.shp", "KIND", "KIND", "y", "dictionary.mp", "12345678"});
    if (!fs::exists(dir / "layer.shp.mp")) {
        // The program never opened the pipe: release the writer.
        const int fd = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd != -1) close(fd);
    }
    writer.join();
    EXPECT_NE(run.out.find("[INF] Using dictionary file: dictionary.mp\n[INF] Using custom ID: 12345678\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(readFile(dir / "layer.shp.mp"),
              crlf("[IMG ID]\nID=12345678\nName=\nCodepage=1252\n[END-IMG ID]\n") +
                  "[POI]\r\nData0=(2.000000,1.000000)\r\nType=7\r\n[END]\r\n\r\n");
}

TEST(BadInput, DamagedShapeRecordsAreSkipped) {
    // Record 0 is damaged, record 1 is intact. Offsets in layer.shp: file
    // header 100, record header 8, type 4, box 32, nParts at 144, nPoints at
    // 148, part starts from 152.
    const struct {
        const char* name;
        std::function<void(const fs::path&)> damage;
    } cases[] = {
        {"PartsOutOfOrder", [](const fs::path& d) { patchInt32LE(d / "layer.shp", 156, 0); }},
        {"NegativePartStart", [](const fs::path& d) { patchInt32LE(d / "layer.shp", 156, -1); }},
        {"PartStartPastVertices", [](const fs::path& d) { patchInt32LE(d / "layer.shp", 156, 100); }},
        {"HugePartCount", [](const fs::path& d) { patchInt32LE(d / "layer.shp", 144, 0x7fffffff); }},
        {"NegativeVertexCount", [](const fs::path& d) { patchInt32LE(d / "layer.shp", 148, -5); }},
        {"HugeVertexCount", [](const fs::path& d) { patchInt32LE(d / "layer.shp", 148, 0x10000000); }},
        {"IndexPointsPastEnd", [](const fs::path& d) { patchInt32BE(d / "layer.shx", 100, 0x7fff0000); }},
        {"UnknownRecordType", [](const fs::path& d) { patchInt32LE(d / "layer.shp", 108, 99); }},
        {"NullRecordInLineLayer", [](const fs::path& d) { patchInt32LE(d / "layer.shp", 108, 0); }},
    };
    for (const auto& c : cases) {
        const Outcome outcome = convert(c.name, lines({twoPartLine(), twoPartLine()}), c.damage);
        EXPECT_EQ(maskRunningTime(outcome.run.out),
                  convertedRun("layer.shp", "Polyline", progress({0, 50}),
                               "\n[WRN] 1 records without coordinates were skipped (first: record 1)."))
            << c.name;
        EXPECT_EQ(outcome.file, crlf(std::string(kDefaultHeader) + kLineSection1)) << c.name;
    }
}

TEST(BadInput, TruncatedGeometryKeepsTheRecordsBeforeTheCut) {
    // The second record loses its last vertex: it is skipped, the first stays.
    const std::size_t recordSize = 8 + 4 + 32 + 8 + 2 * 4 + 6 * 16;
    const Outcome outcome = convert("TruncatedShp", lines({twoPartLine(), twoPartLine()}), [&](const fs::path& dir) {
        truncateFile(dir / "layer.shp", 100 + 2 * recordSize - 8);
    });
    EXPECT_EQ(maskRunningTime(outcome.run.out),
              convertedRun("layer.shp", "Polyline", progress({0, 50}),
                           "\n[WRN] 1 records without coordinates were skipped (first: record 2)."));
    EXPECT_EQ(outcome.file, crlf(std::string(kDefaultHeader) + kLineSection0));
}

TEST(BadInput, HeaderCountingRecordsThatNoFileHolds) {
    // Four bytes of the table header claim two billion records: the run
    // must not spend hours on records that exist nowhere.
    const Outcome outcome = convert("HugeRecordCount", lines({twoPartLine(), twoPartLine()}),
                                    [](const fs::path& dir) { patchInt32LE(dir / "layer.dbf", 4, 2000000000); });
    EXPECT_EQ(maskRunningTime(outcome.run.out),
              convertedRun("layer.shp", "Polyline",
                           "[WRN] The .dbf header counts 2000000000 records, but neither file holds more "
                           "than 2; the others were ignored.\n" + progress({0, 50})));
    EXPECT_EQ(outcome.file, crlf(std::string(kDefaultHeader) + kLineSection0 + kLineSection1));
}

TEST(BadInput, LineWithVerticesButNoPartTableIsOnePart) {
    // The record is rewritten without its part table: nParts 0, the 8 bytes
    // of part starts removed, and the lengths in both files adjusted.
    const Outcome outcome = convert("ZeroParts", lines({twoPartLine()}), [](const fs::path& dir) {
        std::string shp = readFile(dir / "layer.shp");
        shp.erase(152, 8);
        writeFile(dir / "layer.shp", shp);
        patchInt32LE(dir / "layer.shp", 144, 0);
        const auto nContentWords = static_cast<std::int32_t>((shp.size() - 108) / 2);
        patchInt32BE(dir / "layer.shp", 24, static_cast<std::int32_t>(shp.size() / 2));
        patchInt32BE(dir / "layer.shp", 104, nContentWords);
        patchInt32BE(dir / "layer.shx", 104, nContentWords);
    });
    EXPECT_EQ(outcome.file,
              crlf(std::string(kDefaultHeader) +
                   "[POLYLINE]\nData0=(1.000000,1.000000),(2.000000,2.000000),(3.000000,3.000000),"
                   "(4.000000,4.000000),(5.000000,5.000000),(6.000000,6.000000)\nType=0x01\nLabel=n0\n"
                   "[END]\n\n"));
}

TEST(BadInput, UnusualCoordinatesAreWrittenAsStored) {
    // The converter does not check coordinates: NaN and infinities come out
    // as printf writes them, huge values with all their digits.
    Layer layer;
    layer.shapes = {point(std::numeric_limits<double>::quiet_NaN(), 1e-300),
                    point(std::numeric_limits<double>::infinity(), -1e300),
                    point(-0.0, -1e-7)};
    layer.fields = kKindName;
    layer.records = {{"a", ""}, {"b", ""}, {"c", ""}};
    const Outcome outcome = convert("Coordinates", layer, [](const fs::path&) {});
    const std::string minus1e300 =
        "-10000000000000000525047602552044202487044685811081591549158541155118024579889081957863713750804478"
        "640437044438328838781769425232353604305756447921847867069828483872009265758037378302337947880900593"
        "689532349707999450811190389676408800746527427801424945792587888200568428381156694721963868654594005"
        "40160" ".000000";
    EXPECT_EQ(outcome.file, crlf(std::string(kDefaultHeader) +
                                 "[POI]\nData0=(0.000000,nan)\nType=a\nLabel=\n[END]\n\n"
                                 "[POI]\nData0=(" + minus1e300 + ",inf)\nType=b\nLabel=\n[END]\n\n"
                                 "[POI]\nData0=(-0.000000,-0.000000)\nType=c\nLabel=\n[END]\n\n"));
}

TEST(BadInput, ColumnCounts) {
    for (int nColumns : {0, 1, 255, 256, 1000}) {
        Layer layer;
        layer.shapes = {point(1, 2)};
        std::vector<std::string> values;
        std::string expected;
        for (int j = 0; j < nColumns; ++j) {
            layer.fields.push_back({"C" + std::to_string(j), FTString, 4, 0});
            values.push_back(std::to_string(j));
            expected += (j == 0 ? std::string("Type") : "C" + std::to_string(j)) + "=" + std::to_string(j) + "\n";
        }
        layer.records = {values};
        const Outcome outcome = convert("Columns" + std::to_string(nColumns), layer, [](const fs::path&) {},
                                        {"layer.shp", "C0", "C0"});
        const std::string noColumn =
            nColumns == 0 ? "[WRN] The table has no column C0; sections get no Type line.\n" : "";
        EXPECT_EQ(maskRunningTime(outcome.run.out),
                  convertedRun("layer.shp", "Point", progress({0}), "", kNoDictionary + noColumn))
            << nColumns;
        EXPECT_EQ(outcome.file, crlf(std::string(kDefaultHeader) + "[POI]\nData0=(2.000000,1.000000)\n" +
                                     expected + "[END]\n\n"))
            << nColumns;
    }
}

TEST(BadInput, RecordCountsAroundTheProgressSteps) {
    const struct {
        int nRecords;
        const char* lastProgress;  // the end of the progress text
    } cases[] = {
        {1, "\r[INF] Processing: 0%"},
        {2, "\r[INF] Processing: 0%\r[INF] Processing: 50%"},
        {199, "\r[INF] Processing: 99%\r[INF] Processing: 99%"},
        {200, "\r[INF] Processing: 99%\r[INF] Processing: 100%"},
        {201, "\r[INF] Processing: 99%\r[INF] Processing: 100%"},
    };
    for (const auto& c : cases) {
        Layer layer;
        layer.fields = {{"KIND", FTString, 4, 0}};
        std::string sections;
        for (int i = 0; i < c.nRecords; ++i) {
            // Longitudes -100 to 100: all of them in range.
            layer.shapes.push_back(point(i - 100, 1));
            layer.records.push_back({"7"});
            sections += "[POI]\nData0=(1.000000," + std::to_string(i - 100) + ".000000)\nType=7\n[END]\n\n";
        }
        const Outcome outcome = convert("Records" + std::to_string(c.nRecords), layer,
                                        [](const fs::path&) {}, {"layer.shp", "KIND", "KIND"});
        const std::string tail = std::string(c.lastProgress) + "\n[INF] layer.shp.mp file has been written out.";
        EXPECT_NE(outcome.run.out.find(tail), std::string::npos) << c.nRecords;
        EXPECT_EQ(outcome.file, crlf(std::string(kDefaultHeader) + sections)) << c.nRecords;
    }
}

TEST(BadInput, NulByteEndsTheValue) {
    // The stored field holds "ab", a NUL byte and "cd": the value is "ab".
    Layer layer;
    layer.shapes = {point(1, 2)};
    layer.fields = {{"KIND", FTString, 8, 0}};
    layer.records = {{"abXcd"}};
    const Outcome outcome = convert("NulInValue", layer, [](const fs::path& dir) {
        std::string dbf = readFile(dir / "layer.dbf");
        const std::size_t x = dbf.find("abXcd");
        ASSERT_NE(x, std::string::npos);
        dbf[x + 2] = '\0';
        writeFile(dir / "layer.dbf", dbf);
    });
    EXPECT_EQ(outcome.file,
              crlf(std::string(kDefaultHeader) + "[POI]\nData0=(2.000000,1.000000)\nType=ab\n[END]\n\n"));
}

TEST(BadInput, LayerPaths) {
    // Spaces, non-ASCII bytes, dots in folder names, and a backslash, which
    // on this system is part of the file name.
    const struct {
        const char* folder;
        const char* base;
        const char* layerArgument;
    } cases[] = {
        {"my maps", "my roads", "my maps/my roads.shp"},
        {"\xc4\x8dtvr\xc5\xa5", "ulice", "\xc4\x8dtvr\xc5\xa5/ulice"},
        {"v1.2", "roads", "v1.2/roads"},
        {".", "data\\roads", "data\\roads.shp"},
    };
    for (const auto& c : cases) {
        const fs::path dir = scratchFolder("BadInput.LayerPath");
        fs::create_directories(dir / c.folder);
        Layer layer;
        layer.shapes = {point(1, 2)};
        layer.fields = {{"KIND", FTString, 4, 0}};
        layer.records = {{"7"}};
        writeLayer(dir / c.folder / c.base, layer);
        const RunResult run = runProgram(dir, {c.layerArgument, "KIND", "KIND"});
        EXPECT_EQ(maskRunningTime(run.out), convertedRun(c.layerArgument, "Point", progress({0})))
            << c.layerArgument;
        EXPECT_EQ(readFile(dir / (std::string(c.layerArgument) + ".mp")),
                  crlf(std::string(kDefaultHeader) + "[POI]\nData0=(2.000000,1.000000)\nType=7\n[END]\n\n"))
            << c.layerArgument;
    }
}

}  // namespace

namespace {

// Enough records that the console text (one progress line per record)
// outgrows a pipe's buffer, so the program is still writing to it when the
// reader has gone.
Layer manyPoints() {
    Layer layer;
    layer.fields = {{"KIND", FTString, 4, 0}};
    for (int i = 0; i < 20000; ++i) {
        layer.shapes.push_back(point(i * 0.001, 45.0));
        layer.records.push_back({"k"});
    }
    return layer;
}

TEST(BadInput, ConsoleThatGoesAway) {
    const fs::path reference = scratchFolder("BadInput.ConsoleReference");
    writeLayer(reference / "layer", manyPoints());
    runProgram(reference, {"layer.shp", "KIND", "NAME"});
    const std::string expectedFile = readFile(reference / "layer.shp.mp");
    ASSERT_GT(expectedFile.size(), 100000U);

    const struct {
        const char* name;
        std::string stdoutTail;
    } cases[] = {
        {"ReaderQuits", "| head -n 3 > /dev/null"},
        {"Closed", ">&-"},
    };
    for (const auto& c : cases) {
        const fs::path dir = scratchFolder(std::string("BadInput.Console.") + c.name);
        writeLayer(dir / "layer", manyPoints());
        const RunResult run = runProgramWith(dir, {"layer.shp", "KIND", "NAME"}, c.stdoutTail);
        EXPECT_EQ(run.status, 0) << c.name;  // not killed by SIGPIPE
        EXPECT_EQ(run.err, "") << c.name;
        EXPECT_TRUE(readFile(dir / "layer.shp.mp") == expectedFile) << c.name;
    }
}

TEST(BadInput, OutputThatCannotBeWritten) {
    // The output file is a link to a full disk: the failure is reported
    // instead of the written-out line.
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    const fs::path dir = scratchFolder("BadInput.DiskFull");
    Layer layer;
    layer.shapes = {point(1, 2)};
    layer.fields = {{"KIND", FTString, 4, 0}};
    layer.records = {{"7"}};
    writeLayer(dir / "layer", layer);
    fs::create_symlink("/dev/full", dir / "layer.shp.mp");
    const RunResult run = runProgram(dir, {"layer.shp", "KIND", "KIND"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, std::string(kBanner) + kNoDictionary +
                           "[INF] The layer.shp file contains Point elements.\n\r[INF] Processing: 0%"
                           "\n[ERR] Writing layer.shp.mp failed. Exiting...\n");
}

}  // namespace
