#include "text_file.h"

#include <cstdio>
#include <memory>

#include <sys/stat.h>

namespace orvtessel {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool readTextFile(const std::string& path, std::string& text) {
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    struct stat info {};
    if (fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) return false;
    char chunk[65536];
    std::size_t nRead = 0;
    while ((nRead = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) text.append(chunk, nRead);
    return std::ferror(file.get()) == 0;
}

}  // namespace orvtessel
