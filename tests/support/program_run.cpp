#include "program_run.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

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

namespace {

RunResult runCommand(const std::filesystem::path& workDir, const std::string& shellPrefix,
                     const std::vector<std::string>& args, const std::string& stdoutTail) {
    const std::filesystem::path errFile = workDir.parent_path() / "stderr.txt";
    const std::filesystem::path statusFile = workDir.parent_path() / "status.txt";
    std::filesystem::remove(statusFile);
    std::string command =
        "cd " + shellQuote(workDir.string()) + " && { " + shellPrefix + " " + shellQuote(programPath());
    for (const std::string& arg : args) command += " " + shellQuote(arg);
    command += " 2> " + shellQuote(errFile.string()) + "; echo $? > " + shellQuote(statusFile.string()) +
               "; } " + stdoutTail;
    if (std::system(command.c_str()) == -1) throw std::runtime_error("cannot run " + command);
    RunResult result;
    result.err = readFile(errFile);
    const std::string status = readFile(statusFile);
    result.status = status.empty() ? -1 : std::stoi(status);
    return result;
}

}  // namespace

RunResult runProgramWith(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                         const std::string& stdoutTail) {
    return runCommand(workDir, "", args, stdoutTail);
}

RunResult runProgramAfter(const std::filesystem::path& workDir, const std::string& shellPrefix,
                          const std::vector<std::string>& args) {
    const std::filesystem::path outFile = workDir.parent_path() / "stdout.txt";
    RunResult result = runCommand(workDir, shellPrefix, args, "> " + shellQuote(outFile.string()));
    result.out = readFile(outFile);
    return result;
}

RunResult runProgram(const std::filesystem::path& workDir, const std::vector<std::string>& args) {
    return runProgramAfter(workDir, "", args);
}

std::vector<std::string> folderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string maskRunningTime(const std::string& out) {
    // The last line is "\n[INF] Running time was: 1.2 seconds\n" or
    // "\n[INF] Running time was: 3 minutes 4 seconds.\n".
    const std::string head = "\n[INF] Running time was: ";
    const std::size_t start = out.rfind(head);
    if (start == std::string::npos || out.empty() || out.back() != '\n') return out;
    const std::string figure = out.substr(start + head.size(), out.size() - start - head.size() - 1);
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t first = i;
        while (i < figure.size() && isDigit(figure[i])) ++i;
        return i > first;
    };
    const auto literal = [&](const std::string& text) {
        if (figure.compare(i, text.size(), text) != 0) return false;
        i += text.size();
        return true;
    };
    bool matches = false;
    if (digits()) {
        const std::size_t afterNumber = i;
        matches = literal(".") && digits() && literal(" seconds") && i == figure.size();
        if (!matches) {
            i = afterNumber;
            matches = literal(" minutes ") && digits() && literal(" seconds.") && i == figure.size();
        }
    }
    return matches ? out.substr(0, start) + head + "<T>\n" : out;
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
