#include "program_run.h"

#include <cstdlib>
#include <regex>
#include <stdexcept>

#include <sys/wait.h>

#include "layer_writer.h"

namespace testsupport {
namespace {

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace

std::string programPath() { return ORVTESSEL_BINARY; }

std::filesystem::path scratchFolder(const std::string& name) {
    std::filesystem::path folder = std::filesystem::path(ORVTESSEL_SCRATCH) / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "work");
    return folder / "work";
}

RunResult runProgram(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                     const std::string& shellSuffix) {
    const std::filesystem::path outFile = workDir.parent_path() / "stdout.txt";
    const std::filesystem::path errFile = workDir.parent_path() / "stderr.txt";
    std::string command = "cd " + shellQuote(workDir.string()) + " && " + shellQuote(programPath());
    for (const std::string& arg : args) command += " " + shellQuote(arg);
    command += " > " + shellQuote(outFile.string()) + " 2> " + shellQuote(errFile.string());
    command += shellSuffix;
    const int raw = std::system(command.c_str());
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    result.out = readFile(outFile);
    result.err = readFile(errFile);
    return result;
}

RunResult runProgramWith(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                         const std::string& stdoutTail) {
    const std::filesystem::path errFile = workDir.parent_path() / "stderr.txt";
    const std::filesystem::path statusFile = workDir.parent_path() / "status.txt";
    std::string command = "cd " + shellQuote(workDir.string()) + " && { " + shellQuote(programPath());
    for (const std::string& arg : args) command += " " + shellQuote(arg);
    command += " 2> " + shellQuote(errFile.string()) + "; echo $? > " + shellQuote(statusFile.string()) +
               "; } " + stdoutTail;
    std::system(command.c_str());
    RunResult result;
    result.err = readFile(errFile);
    const std::string status = readFile(statusFile);
    result.status = status.empty() ? -1 : std::stoi(status);
    return result;
}

std::string maskRunningTime(const std::string& out) {
    static const std::regex figure(
        "\n\\[INF\\] Running time was: ([0-9]+\\.[0-9] seconds|[0-9]+ minutes [0-9]+ seconds\\.)\n$");
    return std::regex_replace(out, figure, "\n[INF] Running time was: <T>\n");
}

std::string crlf(const std::string& text) {
    std::string result;
    result.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        if (c == '\n') result += '\r';
        result += c;
    }
    return result;
}

}  // namespace testsupport
