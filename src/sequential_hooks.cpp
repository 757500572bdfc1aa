#include "sequential_hooks.h"

#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orvtessel {
namespace {

// A C stream and the position shapelib last moved it to, when known.
struct TrackedFile {
    std::FILE* file = nullptr;
    SAOffset position = 0;
    bool positionKnown = true;
};

TrackedFile* tracked(SAFile file) { return reinterpret_cast<TrackedFile*>(file); }

#ifndef _WIN32
// Opens a regular file for reading as a C stream; a folder, a device or a
// pipe counts as no file at all. The open does not block (a pipe without a
// writer would wait for one forever), and the check is made on what was
// opened, not on the name.
std::FILE* openRegularFile(const char* filename, const char* access) {
    const bool update = std::strchr(access, '+') != nullptr;
    const int fd = open(filename, (update ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1) return nullptr;
    struct stat info {};
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags == -1 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, access);
    if (file == nullptr) close(fd);
    return file;
}
#endif

SAFile trackedOpen(const char* filename, const char* access) {
#ifndef _WIN32
    // shapelib opens the layer's files (.shp, .shx, .dbf and .cpg) for
    // reading only, through these hooks.
    std::FILE* file = access[0] == 'r' ? openRegularFile(filename, access) : std::fopen(filename, access);
#else
    std::FILE* file = std::fopen(filename, access);
#endif
    if (file == nullptr) return nullptr;
    auto* wrapper = new TrackedFile;
    wrapper->file = file;
    return reinterpret_cast<SAFile>(wrapper);
}

// After a short read or write the stream's position is no longer known here.
void advance(TrackedFile* f, SAOffset nDone, SAOffset size, SAOffset nWanted) {
    if (nDone == nWanted) {
        f->position += nDone * size;
    } else {
        f->positionKnown = false;
    }
}

SAOffset trackedRead(void* p, SAOffset size, SAOffset nmemb, SAFile file) {
    TrackedFile* f = tracked(file);
    const SAOffset nDone = std::fread(p, size, nmemb, f->file);
    advance(f, nDone, size, nmemb);
    return nDone;
}

SAOffset trackedWrite(void* p, SAOffset size, SAOffset nmemb, SAFile file) {
    TrackedFile* f = tracked(file);
    const SAOffset nDone = std::fwrite(p, size, nmemb, f->file);
    advance(f, nDone, size, nmemb);
    return nDone;
}

SAOffset trackedSeek(SAFile file, SAOffset offset, int whence) {
    TrackedFile* f = tracked(file);
    if (whence == SEEK_SET && f->positionKnown && offset == f->position) return 0;
    const int result = std::fseek(f->file, static_cast<long>(offset), whence);
    f->positionKnown = result == 0 && whence == SEEK_SET;
    if (f->positionKnown) f->position = offset;
    return static_cast<SAOffset>(result);
}

SAOffset trackedTell(SAFile file) {
    TrackedFile* f = tracked(file);
    if (f->positionKnown) return f->position;
    const long position = std::ftell(f->file);
    if (position >= 0) {
        f->position = static_cast<SAOffset>(position);
        f->positionKnown = true;
    }
    return static_cast<SAOffset>(position);
}

int trackedFlush(SAFile file) { return std::fflush(tracked(file)->file); }

int trackedClose(SAFile file) {
    TrackedFile* f = tracked(file);
    const int result = std::fclose(f->file);
    delete f;
    return result;
}

}  // namespace

SAHooks sequentialReadHooks() {
    SAHooks hooks;
    SASetupDefaultHooks(&hooks);
    hooks.FOpen = trackedOpen;
    hooks.FRead = trackedRead;
    hooks.FWrite = trackedWrite;
    hooks.FSeek = trackedSeek;
    hooks.FTell = trackedTell;
    hooks.FFlush = trackedFlush;
    hooks.FClose = trackedClose;
    return hooks;
}

}  // namespace orvtessel
