// The run's output file: a large buffer in front of the file, with every
// line end stored as CR LF whatever the platform.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace orvtessel {

class OutputStream {
public:
    OutputStream();
    ~OutputStream();
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // Creates or truncates the file. Returns false when it cannot be created.
    bool open(const std::string& path);

    // Writes text in which every "\n" is a line end (stored as CR LF).
    void write(std::string_view text);

    // Writes bytes that hold no "\n", unchanged.
    void writeRaw(const char* data, std::size_t nBytes) {
        if (nBytes > capacityLeft()) {
            writeLargeRaw(data, nBytes);
            return;
        }
        std::memcpy(buffer_.data() + used_, data, nBytes);
        used_ += nBytes;
    }
    void writeRaw(std::string_view text) { writeRaw(text.data(), text.size()); }

    void newline() { writeRaw("\r\n", 2); }

    // Direct access for writers that format in place: reserve(n) returns room
    // for at least n bytes (n no larger than kMinReserve); commit(end) keeps
    // what was written up to end.
    static constexpr std::size_t kMinReserve = 4096;
    char* reserve(std::size_t nBytes) {
        if (nBytes > capacityLeft()) flush();
        return buffer_.data() + used_;
    }
    void commit(const char* end) { used_ = static_cast<std::size_t>(end - buffer_.data()); }

    // Flushes and closes the file. Returns true when every byte reached it.
    bool close();

    bool isOpen() const { return file_ != nullptr; }

private:
    std::size_t capacityLeft() const { return buffer_.size() - used_; }
    void writeLargeRaw(const char* data, std::size_t nBytes);
    void flush();

    std::vector<char> buffer_;
    std::size_t used_ = 0;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

}  // namespace orvtessel
