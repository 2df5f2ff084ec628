// Preloaded into a program under test (LD_PRELOAD), so that a test can change
// an input between the bundler's two passes: from the second time a path is
// opened for reading, "<path>.then" is opened in its place when that file
// exists, and the open fails as for a missing file when "<path>.gone" exists.
// A stream opened on a path beside which "<path>.unmeasured" exists cannot
// seek to its end, as for some /proc and FUSE files.
// When ICON_FSYNC_LOG names a file, each folder written out with fsync adds
// the line "folder" to it, so that a test can see that a rename was made
// durable.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace {

using fopen_function = std::FILE* (*)(const char*, const char*);

// Never destroyed: streams may be closed while the program exits.
std::set<std::FILE*>& unmeasured() {
    // NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): the shim's one table
    static auto* const streams = new std::set<std::FILE*>;
    return *streams;
}

std::FILE* open_marked(fopen_function real, const char* path, const char* mode) {
    std::FILE* const stream = real(path, mode);
    if (stream != nullptr && access((std::string(path) + ".unmeasured").c_str(), F_OK) == 0)
        unmeasured().insert(stream);
    return stream;
}

std::FILE* open_as_changed(fopen_function real, const char* path, const char* mode) {
    static std::set<std::string> opened;
    if (mode[0] != 'r' || opened.insert(path).second) return open_marked(real, path, mode);
    const std::string name = path;
    if (access((name + ".gone").c_str(), F_OK) == 0) {
        errno = ENOENT;
        return nullptr;
    }
    const std::string then = name + ".then";
    return open_marked(real, access(then.c_str(), F_OK) == 0 ? then.c_str() : path, mode);
}

}  // namespace

extern "C" std::FILE* fopen(const char* path, const char* mode) {
    static const auto real = reinterpret_cast<fopen_function>(dlsym(RTLD_NEXT, "fopen"));
    return open_as_changed(real, path, mode);
}

extern "C" std::FILE* fopen64(const char* path, const char* mode) {
    static const auto real = reinterpret_cast<fopen_function>(dlsym(RTLD_NEXT, "fopen64"));
    return open_as_changed(real, path, mode);
}

extern "C" int fseek(std::FILE* stream, long offset, int whence) {
    using fseek_function = int (*)(std::FILE*, long, int);
    static const auto real = reinterpret_cast<fseek_function>(dlsym(RTLD_NEXT, "fseek"));
    if (whence == SEEK_END && unmeasured().count(stream) != 0) {
        errno = ESPIPE;
        return -1;
    }
    return real(stream, offset, whence);
}

extern "C" int fclose(std::FILE* stream) {
    using fclose_function = int (*)(std::FILE*);
    static const auto real = reinterpret_cast<fclose_function>(dlsym(RTLD_NEXT, "fclose"));
    unmeasured().erase(stream);
    return real(stream);
}

extern "C" int fsync(int fd) {
    using fsync_function = int (*)(int);
    static const auto real = reinterpret_cast<fsync_function>(dlsym(RTLD_NEXT, "fsync"));
    struct stat st {};
    const char* log = std::getenv("ICON_FSYNC_LOG");
    if (log != nullptr && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        const int out = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (out >= 0) {
            const ssize_t written = write(out, "folder\n", 7);
            static_cast<void>(written);
            close(out);
        }
    }
    return real(fd);
}
