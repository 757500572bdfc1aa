// Runs the real orvtessel binary in a scratch folder and captures what it
// prints, standard output and standard error apart.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;
};

// A fresh, empty folder for one test under the build tree.
std::filesystem::path scratchFolder(const std::string& name);

// Runs the program inside `workDir` with the given arguments.
RunResult runProgram(const std::filesystem::path& workDir, const std::vector<std::string>& args);

// Runs the program with its standard output sent through `stdoutTail`
// instead of a file: "| head -n 3 > FILE", ">&-" (closed) and the like.
// The exit status is the program's own, not the pipe's.
RunResult runProgramWith(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                         const std::string& stdoutTail);

// Runs the program after the given shell commands ("ulimit -f 8; trap '' XFSZ;",
// "umask 027;"), in the same shell.
RunResult runProgramAfter(const std::filesystem::path& workDir, const std::string& shellPrefix,
                          const std::vector<std::string>& args);

// Every entry of the folder, sorted: to see that a run left nothing behind.
std::vector<std::string> folderEntries(const std::filesystem::path& folder);

// Replaces the figure of the running-time line with "<T>".
std::string maskRunningTime(const std::string& out);

// Turns every "\n" into "\r\n": expected file contents are written with
// "\n" in the tests.
std::string crlf(const std::string& text);

std::string programPath();

}  // namespace testsupport
