// The output path is replaced only by a complete map: every failing run,
// an interrupted one included, leaves what was there byte for byte, with
// its permission bits, and no temporary file.
#include <chrono>
#include <cstdlib>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "expected.h"
#include "layer_writer.h"
#include "program_run.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string kPrevious = "previous map\r\nkept\r\n";

Layer points(int nRecords) {
    Layer layer;
    layer.fields = {{"KIND", FTString, 10, 0}, {"NAME", FTString, 40, 0}};
    for (int i = 0; i < nRecords; ++i) {
        layer.shapes.push_back(point(10.0 + i * 1e-5, 50.0));
        layer.records.push_back({"0x2f06", "A name that makes the file grow " + std::to_string(i)});
    }
    return layer;
}

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

TEST(OutputReplacement, FailingRunsLeaveThePreviousOutput) {
    const struct {
        const char* name;
        std::string shellPrefix;
        std::vector<std::string> args;
        std::function<void(const fs::path&)> prepare;
        std::string lastMessage;
    } cases[] = {
        {"MissingDictionary", "", {"layer.shp", "KIND", "NAME", "n", "missing.txt"}, nullptr,
         "[ERR] Dictionary file not found. Exiting...\n"},
        {"RefusedKind", "", {"layer.shp", "KIND", "NAME"},
         [](const fs::path& d) {
             Layer layer = points(2);
             layer.shapeType = SHPT_MULTIPOINT;
             for (Shape& shape : layer.shapes) shape.type = SHPT_MULTIPOINT;
             writeLayer(d / "layer", layer);
         },
         "[CRIT] The layer.shp file contains elements that currently not supported. Exiting...\n"},
        {"UnreadableLayer", "", {"layer.shp", "KIND", "NAME"},
         [](const fs::path& d) { writeFile(d / "layer.dbf", "not a table"); },
         "[ERR] No .dbf file found. Exiting...\n"},
        // A file size limit makes a write fail midway: 300 blocks (of 512
        // or 1024 bytes, as the shell counts them) hold the console's
        // 90 KB, not the map's 420 KB.
        {"WriteFailsMidway", "ulimit -f 300; trap '' XFSZ;", {"layer.shp", "KIND", "NAME"},
         [](const fs::path& d) { writeLayer(d / "layer", points(4000)); },
         "\n[ERR] Writing layer.shp.mp failed. Exiting...\n"},
    };
    for (const auto& c : cases) {
        for (const bool hadOutput : {true, false}) {
            const std::string name = std::string(c.name) + (hadOutput ? ".Previous" : ".None");
            const fs::path dir = scratchFolder("Replacement." + name);
            writeLayer(dir / "layer", points(2000));
            if (c.prepare) c.prepare(dir);
            if (hadOutput) {
                writeFile(dir / "layer.shp.mp", kPrevious);
                fs::permissions(dir / "layer.shp.mp", fs::perms(0640));
            }
            const std::vector<std::string> before = folderEntries(dir);
            const RunResult run = runProgramAfter(dir, c.shellPrefix, c.args);
            EXPECT_EQ(run.status, 1) << name;
            ASSERT_GE(run.out.size(), c.lastMessage.size()) << name;
            EXPECT_EQ(run.out.substr(run.out.size() - c.lastMessage.size()), c.lastMessage) << name;
            EXPECT_EQ(folderEntries(dir), before) << name;
            if (hadOutput) {
                EXPECT_EQ(readFile(dir / "layer.shp.mp"), kPrevious) << name;
                EXPECT_EQ(modeOf(dir / "layer.shp.mp"), 0640u) << name;
            }
        }
    }
}

TEST(OutputReplacement, CompleteRunReplacesAndKeepsPermissionBits) {
    const fs::path dir = scratchFolder("Replacement.Complete");
    writeLayer(dir / "layer", points(3));
    writeFile(dir / "layer.shp.mp", kPrevious);
    fs::permissions(dir / "layer.shp.mp", fs::perms(0604));
    RunResult run = runProgram(dir, {"layer.shp", "KIND", "NAME"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(readFile(dir / "layer.shp.mp"), kPrevious);
    EXPECT_EQ(modeOf(dir / "layer.shp.mp"), 0604u);

    // Root replacing another user's file keeps its owner and group.
    if (geteuid() == 0) {
        ASSERT_EQ(chown((dir / "layer.shp.mp").c_str(), 65534, 65534), 0);
        ASSERT_EQ(runProgram(dir, {"layer.shp", "KIND", "NAME"}).status, 0);
        struct stat info {};
        ASSERT_EQ(stat((dir / "layer.shp.mp").c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 65534u);
        EXPECT_EQ(info.st_gid, 65534u);
        EXPECT_EQ(info.st_mode & 07777, 0604u);
    }

    // A new file gets 0666 less the umask.
    fs::remove(dir / "layer.shp.mp");
    run = runProgramAfter(dir, "umask 027;", {"layer.shp", "KIND", "NAME"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(modeOf(dir / "layer.shp.mp"), 0640u);
    EXPECT_EQ(folderEntries(dir),
              (std::vector<std::string>{"layer.dbf", "layer.shp", "layer.shp.mp", "layer.shx"}));
}

TEST(OutputReplacement, LinksAreWrittenThrough) {
    // A link stays a link; the file it points to gets the map.
    const fs::path dir = scratchFolder("Replacement.Link");
    writeLayer(dir / "layer", points(3));
    fs::create_directories(dir / "maps");
    writeFile(dir / "maps" / "real.mp", kPrevious);
    fs::create_symlink("maps/real.mp", dir / "layer.shp.mp");

    // Runs that fail before the map's first bytes go out leave the file:
    // a missing dictionary, a refused layer.
    RunResult run = runProgram(dir, {"layer.shp", "KIND", "NAME", "y", "missing.txt"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readFile(dir / "maps" / "real.mp"), kPrevious);
    Layer multiPoints = points(2);
    multiPoints.shapeType = SHPT_MULTIPOINT;
    for (Shape& shape : multiPoints.shapes) shape.type = SHPT_MULTIPOINT;
    writeLayer(dir / "multi", multiPoints);
    run = runProgram(dir, {"-o", "layer.shp.mp", "multi.shp", "KIND", "NAME"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readFile(dir / "maps" / "real.mp"), kPrevious);

    // A dictionary that is the linked file is read as it was.
    writeFile(dir / "maps" / "real.mp", "[IMG ID]\nID=\n[END-IMG ID]\n");
    run = runProgram(dir, {"layer.shp", "KIND", "NAME", "y", "layer.shp.mp", "5"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "layer.shp.mp"));
    const std::string head = crlf("[IMG ID]\nID=5\n[END-IMG ID]\n[POI]\n");
    EXPECT_EQ(readFile(dir / "maps" / "real.mp").substr(0, head.size()), head);
}

TEST(OutputReplacement, OutputNamesNearTheLongestAFolderTakes) {
    // The temporary file of a name that leaves no room for its letters gets
    // a short name of its own.
    const fs::path dir = scratchFolder("Replacement.LongName");
    writeLayer(dir / "layer", points(3));
    const std::string name = std::string(250, 'a') + ".mp";
    writeFile(dir / name, kPrevious);
    const RunResult run = runProgram(dir, {"-q", "-o", name, "layer.shp", "KIND", "NAME"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(readFile(dir / name).substr(0, 20), crlf(kDefaultHeader).substr(0, 20));
    EXPECT_EQ(folderEntries(dir), (std::vector<std::string>{name, "layer.dbf", "layer.shp", "layer.shx"}));
}

TEST(OutputReplacement, FolderThatCannotTakeATemporaryFile) {
    // The message names the output path, not the temporary file. /proc
    // takes no new files, even from root.
    const fs::path dir = scratchFolder("Replacement.ReadOnlyFolder");
    writeLayer(dir / "layer", points(3));
    const RunResult run = runProgram(dir, {"-o", "/proc/orvtessel-test.mp", "layer.shp", "KIND", "NAME"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              std::string(kBanner) + "[ERR] Cannot create output file /proc/orvtessel-test.mp. Exiting...\n");
}

// The shell words that run the program as a user without root's rights to
// write any file: as itself when it is no root, else as nobody through
// setpriv. Nothing when neither can be done.
std::optional<std::string> unprivilegedPrefix() {
    if (geteuid() != 0) return std::string();
    if (std::system("command -v setpriv > /dev/null 2>&1") != 0) return std::nullopt;
    return std::string("setpriv --reuid=65534 --regid=65534 --clear-groups");
}

TEST(OutputReplacement, ExistingFileTheUserMayNotWriteIsRefused) {
    const std::optional<std::string> prefix = unprivilegedPrefix();
    if (!prefix) GTEST_SKIP() << "no way to run without root's rights";
    const fs::path dir = scratchFolder("Replacement.ReadOnlyFile");
    writeLayer(dir / "layer", points(3));
    writeFile(dir / "layer.shp.mp", kPrevious);
    fs::permissions(dir / "layer.shp.mp", fs::perms(0444));
    // The folder itself takes new files: only the file is protected.
    fs::permissions(dir, fs::perms(0777));
    const RunResult run = runProgramAfter(dir, *prefix, {"layer.shp", "KIND", "NAME"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, std::string(kBanner) + "[ERR] Cannot create output file layer.shp.mp. Exiting...\n");
    EXPECT_EQ(readFile(dir / "layer.shp.mp"), kPrevious);
    EXPECT_EQ(folderEntries(dir),
              (std::vector<std::string>{"layer.dbf", "layer.shp", "layer.shp.mp", "layer.shx"}));

    // A folder that takes no new file: no temporary file, so no map either.
    fs::permissions(dir / "layer.shp.mp", fs::perms(0666));
    fs::permissions(dir, fs::perms(0755));
    const RunResult folder = runProgramAfter(dir, *prefix, {"layer.shp", "KIND", "NAME"});
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.out, std::string(kBanner) + "[ERR] Cannot create output file layer.shp.mp. Exiting...\n");
    EXPECT_EQ(readFile(dir / "layer.shp.mp"), kPrevious);
}

// Starts the program in `dir`, its console sent to /dev/null, with the
// given signals at their default action.
pid_t startProgram(const fs::path& dir, const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        for (const int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, SIG_DFL);
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 1);
        dup2(devNull, 2);
        if (chdir(dir.c_str()) != 0) _exit(127);
        std::vector<std::string> argv = {programPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> pointers;
        for (std::string& a : argv) pointers.push_back(a.data());
        pointers.push_back(nullptr);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    return pid;
}

bool hasTemporaryFile(const fs::path& dir) {
    for (const std::string& name : folderEntries(dir)) {
        if (name.size() > 4 && name.substr(name.size() - 4) == ".tmp") return true;
    }
    return false;
}

TEST(OutputReplacement, SignalsRemoveTheTemporaryFile) {
    // The dictionary is a FIFO nobody writes to: the run waits in its open,
    // with the temporary output already created, until the signal comes.
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        const fs::path dir = scratchFolder("Replacement.Signal." + std::to_string(signalNumber));
        writeLayer(dir / "layer", points(3));
        writeFile(dir / "layer.shp.mp", kPrevious);
        ASSERT_EQ(mkfifo((dir / "dict.mp").c_str(), 0644), 0);
        const std::vector<std::string> before = folderEntries(dir);
        const pid_t pid = startProgram(dir, {"layer.shp", "KIND", "NAME", "y", "dict.mp"});
        ASSERT_GT(pid, 0);
        bool started = false;
        for (int i = 0; i < 1000 && !started; ++i) {
            started = hasTemporaryFile(dir);
            if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(started) << signalNumber;
        kill(pid, signalNumber);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << signalNumber;
        EXPECT_EQ(folderEntries(dir), before) << signalNumber;
        EXPECT_EQ(readFile(dir / "layer.shp.mp"), kPrevious) << signalNumber;
    }
}

}  // namespace
