#include "output_stream.h"

namespace orvtessel {
namespace {
constexpr std::size_t kBufferSize = std::size_t{1} << 20;
}

OutputStream::OutputStream() : buffer_(kBufferSize) {}

OutputStream::~OutputStream() {
    // An early end of the run still leaves what was written in the file.
    close();
}

bool OutputStream::open(const std::string& path) {
    close();
    failed_ = false;
    // Binary mode: line ends are translated here, not by the C library.
    file_ = std::fopen(path.c_str(), "wb");
    return file_ != nullptr;
}

void OutputStream::write(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            writeRaw(text.data() + start, text.size() - start);
            return;
        }
        writeRaw(text.data() + start, lf - start);
        newline();
        start = lf + 1;
    }
}

void OutputStream::writeLargeRaw(const char* data, std::size_t nBytes) {
    while (nBytes > 0) {
        if (capacityLeft() == 0) flush();
        const std::size_t n = nBytes < capacityLeft() ? nBytes : capacityLeft();
        std::memcpy(buffer_.data() + used_, data, n);
        used_ += n;
        data += n;
        nBytes -= n;
    }
}

void OutputStream::flush() {
    if (used_ == 0) return;
    // After the first failure the rest of the run's output is discarded; the
    // failure is reported when the file is closed.
    if (file_ != nullptr && !failed_ && std::fwrite(buffer_.data(), 1, used_, file_) != used_) {
        failed_ = true;
    }
    used_ = 0;
}

bool OutputStream::close() {
    if (file_ == nullptr) return !failed_;
    flush();
    if (std::fflush(file_) != 0 || std::ferror(file_) != 0) failed_ = true;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

}  // namespace orvtessel
