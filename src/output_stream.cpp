#include "output_stream.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace orvtessel {
namespace {
constexpr std::size_t kBufferSize = std::size_t{1} << 20;

bool standardOutputUnusable = false;

// The temporary file the run is writing, for the signal handler. A fixed
// buffer: the handler may only make async-signal-safe calls.
char pendingTemporary[4096];
volatile std::sig_atomic_t hasPendingTemporary = 0;
// A file appended to in place, and its length before the run.
volatile std::sig_atomic_t pendingTruncateFd = -1;
off_t pendingTruncateLength = 0;

const int kCleanupSignals[] = {
    SIGINT, SIGTERM,
#ifndef _WIN32
    SIGHUP, SIGXFSZ,
#endif
};

extern "C" void removeTemporaryAndDie(int signalNumber) {
    if (hasPendingTemporary != 0) {
#ifdef _WIN32
        _unlink(pendingTemporary);
#else
        unlink(pendingTemporary);
#endif
        hasPendingTemporary = 0;
    }
#ifndef _WIN32
    if (pendingTruncateFd >= 0) {
        (void)ftruncate(pendingTruncateFd, pendingTruncateLength);
        pendingTruncateFd = -1;
    }
#endif
    // End as the signal would have ended the run.
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// The handlers in place before the output was opened, given back when it
// is closed: a process that runs conversions keeps its own.
using SignalHandler = void (*)(int);
SignalHandler previousHandlers[sizeof kCleanupSignals / sizeof kCleanupSignals[0]];
bool signalsCaught = false;

void catchSignals() {
    if (signalsCaught) return;
    signalsCaught = true;
    std::size_t i = 0;
    for (const int signalNumber : kCleanupSignals) {
        // A signal the caller ignores stays ignored (nohup, ulimit scripts).
        const auto previous = std::signal(signalNumber, removeTemporaryAndDie);
        previousHandlers[i++] = previous;
        if (previous == SIG_IGN) std::signal(signalNumber, SIG_IGN);
    }
}

void releaseSignals() {
    if (!signalsCaught) return;
    signalsCaught = false;
    std::size_t i = 0;
    for (const int signalNumber : kCleanupSignals) {
        const SignalHandler previous = previousHandlers[i++];
        std::signal(signalNumber, previous == SIG_ERR ? SIG_DFL : previous);
    }
}

void watchSignals(const std::string& temporaryPath) {
    if (temporaryPath.size() >= sizeof pendingTemporary) return;
    temporaryPath.copy(pendingTemporary, temporaryPath.size());
    pendingTemporary[temporaryPath.size()] = '\0';
    hasPendingTemporary = 1;
    catchSignals();
}

void unwatchSignals() {
    hasPendingTemporary = 0;
    pendingTruncateFd = -1;
    releaseSignals();
}

int removeFile(const std::string& path) {
#ifdef _WIN32
    return _unlink(path.c_str());
#else
    return unlink(path.c_str());
#endif
}

#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif
constexpr std::size_t kLongestName = 255;

// A name that no file in the folder is likely to have: the output's own
// name, a dot, six letters and ".tmp".
std::string temporaryName(const std::string& path, unsigned attempt) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
#ifdef _WIN32
    seed ^= static_cast<unsigned long long>(GetCurrentProcessId()) << 32;
#else
    seed ^= static_cast<unsigned long long>(getpid()) << 32;
#endif
    seed ^= static_cast<unsigned long long>(attempt) * 0x9E3779B97F4A7C15ULL;
    std::string letters;
    for (int i = 0; i < 6; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        letters += kLetters[(seed >> 33) % (sizeof kLetters - 1)];
    }
    // A name too long for the file system with the letters added gets a
    // short one of its own in the same folder.
    const std::size_t slash = path.find_last_of(kSeparators);
    const std::size_t nBase = slash == std::string::npos ? path.size() : path.size() - slash - 1;
    if (nBase + letters.size() + 5 > kLongestName) {
        const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        return folder + ".orvtessel." + letters + ".tmp";
    }
    return path + "." + letters + ".tmp";
}

// Creates a new temporary file beside `path`, exclusively (never through an
// existing name or link), with the given permission bits, or with 0666 less
// the umask when there are none. Returns its descriptor, or -1.
int createTemporary(const std::string& path, const struct stat* replaced, std::string& created) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string name = temporaryName(path, attempt);
#ifdef _WIN32
        const int fd = _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                             _S_IREAD | _S_IWRITE);
#else
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
        if (fd == -1) {
            if (errno == EEXIST) continue;
            return -1;
        }
#ifndef _WIN32
        if (replaced != nullptr) {
            // The replaced file keeps its owner and group where the user
            // may give them (root, or a group of the user's), and its
            // permission bits; failing to copy them is no reason to give up
            // the run. The bits come last: a change of owner clears set-ID
            // bits.
            if (replaced->st_uid != geteuid() || replaced->st_gid != getegid()) {
                if (fchown(fd, replaced->st_uid, replaced->st_gid) != 0) {
                    (void)fchown(fd, static_cast<uid_t>(-1), replaced->st_gid);
                }
            }
            (void)fchmod(fd, replaced->st_mode & 07777);
        }
#else
        (void)replaced;
#endif
        created = name;
        return fd;
    }
    return -1;
}

bool moveOnto(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

void markStandardOutputUnusable() { standardOutputUnusable = true; }

OutputStream::OutputStream() : buffer_(kBufferSize) {}

OutputStream::~OutputStream() { discard(); }

void OutputStream::reset(const std::string& path) {
    discard();
    failed_ = false;
    path_ = path;
}

bool OutputStream::startTemporary(const struct stat* replaced) {
    std::string created;
    const int fd = createTemporary(path_, replaced, created);
    if (fd == -1) return false;
    watchSignals(created);
    temporaryPath_ = created;
#ifdef _WIN32
    file_ = _fdopen(fd, "wb");
#else
    file_ = fdopen(fd, "wb");
#endif
    if (file_ == nullptr) {
#ifdef _WIN32
        _close(fd);
#else
        ::close(fd);
#endif
        discard();
        return false;
    }
    ownsFile_ = true;
    return true;
}

bool OutputStream::openForAppend(const std::string& path, int& lastByte) {
    reset(path);
    lastByte = -1;

    struct stat linkInfo {};
    struct stat info {};
#ifdef _WIN32
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    linkInfo = info;
    const bool isLink = false;
#else
    if (lstat(path.c_str(), &linkInfo) != 0 || stat(path.c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode)) {
        return false;
    }
    const bool isLink = S_ISLNK(linkInfo.st_mode);
#endif
    std::FILE* existing = std::fopen(path.c_str(), "rb");
    if (existing == nullptr) return false;

    // A copy of the file, with this run's sections after it, replaces it; a
    // link, or a file in a folder that takes no new file, is appended to in
    // place instead.
    if (isLink || !startTemporary(&info)) {
#ifndef _WIN32
        // Written through: appended in place, and cut back to its length
        // when the run does not finish.
        if (info.st_size > 0 && std::fseek(existing, -1, SEEK_END) == 0) {
            lastByte = std::fgetc(existing);
        }
        std::fclose(existing);
        file_ = std::fopen(path.c_str(), "ab");
        if (file_ == nullptr) return false;
        ownsFile_ = true;
        appendedLength_ = static_cast<long long>(info.st_size);
        pendingTruncateLength = static_cast<off_t>(info.st_size);
        pendingTruncateFd = fileno(file_);
        catchSignals();
        return true;
#else
        std::fclose(existing);
        return false;
#endif
    }
#ifdef __linux__
    // The kernel copies without passing the bytes through the program; a
    // file system that cannot copies below.
    const auto nExisting = static_cast<long long>(info.st_size);
    long long nCopied = 0;
    while (nCopied < nExisting) {
        const ssize_t n = copy_file_range(fileno(existing), nullptr, fileno(file_), nullptr,
                                          static_cast<std::size_t>(nExisting - nCopied), 0);
        if (n <= 0) break;
        nCopied += n;
    }
    if (nCopied > 0) {
        if (nCopied != nExisting || std::fseek(existing, static_cast<long>(nCopied), SEEK_SET) != 0 ||
            std::fseek(file_, 0, SEEK_END) != 0) {
            std::fclose(existing);
            discard();
            return false;
        }
        if (std::fseek(existing, -1, SEEK_CUR) == 0) {
            lastByte = std::fgetc(existing);
        }
    }
#endif
    std::size_t nRead = 0;
    while ((nRead = std::fread(buffer_.data(), 1, buffer_.size(), existing)) > 0) {
        lastByte = static_cast<unsigned char>(buffer_[nRead - 1]);
        if (std::fwrite(buffer_.data(), 1, nRead, file_) != nRead) failed_ = true;
    }
    const bool readFailed = std::ferror(existing) != 0;
    std::fclose(existing);
    if (readFailed) {
        discard();
        return false;
    }
    return true;
}

bool OutputStream::open(const std::string& path) {
    reset(path);

    if (path == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        file_ = stdout;
        ownsFile_ = false;
        failed_ = standardOutputUnusable;
        return true;
    }

    struct stat info {};
#ifdef _WIN32
    const bool exists = stat(path.c_str(), &info) == 0;
    const bool inPlace = exists && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
#else
    const bool exists = lstat(path.c_str(), &info) == 0;
    // Links, devices and FIFOs are written through, as their owner set
    // them up: /dev/stdout, a named pipe, a link into another folder.
    const bool inPlace = exists && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
#endif
#ifndef _WIN32
    struct stat target {};
    if (inPlace && S_ISLNK(info.st_mode) && stat(path.c_str(), &target) == 0 &&
        S_ISREG(target.st_mode)) {
        // A link to a file: truncated only when the first bytes are written
        // out, so that a run that fails before (a dictionary or a layer
        // kind refused, a signal) leaves it, and a dictionary that is the
        // same file is read whole first. Whether it can be written is seen
        // now, where the run creates its output.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd == -1) return false;
        ::close(fd);
        deferredOpen_ = true;
        return true;
    }
#endif
    if (inPlace) {
        // Binary mode: line ends are translated here, not by the C library.
        file_ = std::fopen(path.c_str(), "wb");
        ownsFile_ = file_ != nullptr;
        return file_ != nullptr;
    }
    if (exists && S_ISDIR(info.st_mode)) return false;
#ifndef _WIN32
    if (exists && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return false;
#else
    if (exists && _access(path.c_str(), 2) != 0) return false;
#endif

    return startTemporary(exists ? &info : nullptr);
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

bool OutputStream::openDeferred() {
    deferredOpen_ = false;
    file_ = std::fopen(path_.c_str(), "wb");
    ownsFile_ = file_ != nullptr;
    if (file_ == nullptr) failed_ = true;
    return file_ != nullptr;
}

void OutputStream::flush() {
    if (used_ == 0) return;
    if (deferredOpen_) openDeferred();
    // After the first failure the rest of the run's output is discarded; the
    // failure is reported when the file is closed.
    if (file_ != nullptr && !failed_ && std::fwrite(buffer_.data(), 1, used_, file_) != used_) {
        failed_ = true;
    }
    used_ = 0;
}

bool OutputStream::close() {
    if (deferredOpen_) openDeferred();
    if (file_ == nullptr) return !failed_;
    flush();
    if (std::fflush(file_) != 0 || std::ferror(file_) != 0) failed_ = true;
    if (appendedLength_ >= 0) {
        if (failed_) cutBack();
        if (std::fclose(file_) != 0) failed_ = true;
        file_ = nullptr;
        appendedLength_ = -1;
        unwatchSignals();
        return !failed_;
    }
    if (ownsFile_ && std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    if (!temporaryPath_.empty()) {
        if (failed_ || !moveOnto(temporaryPath_, path_)) {
            failed_ = true;
            removeFile(temporaryPath_);
        }
        temporaryPath_.clear();
        unwatchSignals();
    }
    return !failed_;
}

void OutputStream::discard() {
    deferredOpen_ = false;
    if (file_ != nullptr) {
        if (appendedLength_ >= 0) {
            // Appended in place: back to the length it had.
            cutBack();
            std::fclose(file_);
            appendedLength_ = -1;
            unwatchSignals();
        } else if (ownsFile_) {
            // A link, device or FIFO keeps what was written to it, as any
            // program writing into it would leave it; a temporary file is
            // removed below.
            if (temporaryPath_.empty()) flush();
            std::fclose(file_);
        } else {
            // Standard output: nothing more of a map the run gave up.
            std::fflush(file_);
        }
        file_ = nullptr;
    }
    used_ = 0;
    if (!temporaryPath_.empty()) {
        removeFile(temporaryPath_);
        temporaryPath_.clear();
        unwatchSignals();
    }
}

void OutputStream::cutBack() {
#ifndef _WIN32
    std::fflush(file_);
    if (ftruncate(fileno(file_), static_cast<off_t>(appendedLength_)) != 0) failed_ = true;
#endif
}

}  // namespace orvtessel
