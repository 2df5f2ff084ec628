// Preloaded into a program under test (LD_PRELOAD), so that a test can change
// an input between the bundler's two passes: from the second time a path is
// opened for reading, "<path>.then" is opened in its place when that file
// exists, and the open fails as for a missing file when "<path>.gone" exists.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <set>
#include <string>

namespace {

using fopen_function = std::FILE* (*)(const char*, const char*);

std::FILE* open_as_changed(fopen_function real, const char* path, const char* mode) {
    static std::set<std::string> opened;
    if (mode[0] != 'r' || opened.insert(path).second) return real(path, mode);
    const std::string name = path;
    if (access((name + ".gone").c_str(), F_OK) == 0) {
        errno = ENOENT;
        return nullptr;
    }
    const std::string then = name + ".then";
    return real(access(then.c_str(), F_OK) == 0 ? then.c_str() : path, mode);
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
