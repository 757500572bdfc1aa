// The run's output file: a large buffer in front of the file, with every
// line end stored as CR LF whatever the platform.
//
// A regular file (or a path where nothing is yet) is never written in
// place: the bytes go to a new temporary file in the same folder, which
// close() renames onto the path once every byte is in it. A run that does
// not get that far removes the temporary file (also when SIGINT, SIGTERM,
// SIGHUP or SIGXFSZ ends it), so whatever was at the path stays as it was.
// A symbolic link, a device or a FIFO is written straight into; "-" is
// standard output.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace orvtessel {

// Called at start-up when the process began with standard output closed:
// a map written to "-" then fails instead of vanishing.
void markStandardOutputUnusable();

class OutputStream {
public:
    OutputStream();
    ~OutputStream();
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // Opens the output for the given path. Returns false when it cannot be
    // created (or is an existing file the user may not write).
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

    // Opens an existing regular file to add to its end. A copy of it takes
    // the new bytes and replaces it at close(); a symbolic link is appended
    // to in place and cut back to its former length when the run does not
    // finish. `lastByte` receives the file's last byte (-1 when empty).
    // Returns false when the file cannot be read or the copy be made.
    bool openForAppend(const std::string& path, int& lastByte);

    // Flushes and closes the file and puts it in place. Returns true when
    // every byte reached the output.
    bool close();

    // Closes the file and removes what was written to a temporary file;
    // the output path is left as it was. The destructor does it too.
    void discard();

    bool isOpen() const { return file_ != nullptr; }

private:
    std::size_t capacityLeft() const { return buffer_.size() - used_; }
    void writeLargeRaw(const char* data, std::size_t nBytes);
    void flush();

    std::vector<char> buffer_;
    std::size_t used_ = 0;
    std::FILE* file_ = nullptr;
    bool ownsFile_ = false;      // false for standard output
    std::string path_;           // the output path
    std::string temporaryPath_;  // empty when writing straight into path_
    bool failed_ = false;
    long long appendedLength_ = -1;  // the length before appending in place, or -1
    bool deferredOpen_ = false;      // a link to a file, opened at the first write
    void reset(const std::string& path);
    // Creates the temporary file beside path_ and opens it; `replaced` is
    // the file it will replace, or null.
    bool startTemporary(const struct stat* replaced);
    void cutBack();
    bool openDeferred();
};

}  // namespace orvtessel
