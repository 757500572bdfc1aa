// Replays stored fuzz inputs (crash reproducers, seeds) through the same
// harness as the fuzz target, without libFuzzer: with a sanitizer build a
// memory fault in any of them ends the process with a report.
//
// Arguments are input files, or folders whose *.bin files are replayed in
// name order. Exit status 1 when an input cannot be read, 0 otherwise.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz_harness.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inputsOf(const fs::path& argument) {
    std::error_code error;
    if (!fs::is_directory(argument, error)) return {argument};
    std::vector<fs::path> inputs;
    for (const fs::directory_entry& entry : fs::directory_iterator(argument)) {
        if (entry.is_regular_file() && entry.path().extension() == ".bin") {
            inputs.push_back(entry.path());
        }
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s INPUT_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    orvtesselfuzz::initializeHarness();
    int nFailed = 0;
    int nReplayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const fs::path& input : inputsOf(argv[i])) {
            std::ifstream in(input, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", input.c_str());
                ++nFailed;
                continue;
            }
            const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
            std::fprintf(stderr, "replaying %s (%zu bytes)\n", input.c_str(), bytes.size());
            orvtesselfuzz::runOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                       bytes.size());
            ++nReplayed;
        }
    }
    std::fprintf(stderr, "%d inputs replayed\n", nReplayed);
    return nFailed == 0 ? 0 : 1;
}
