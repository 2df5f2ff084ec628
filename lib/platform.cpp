#include "platform.hpp"

#include "report.hpp"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include <cstdint>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

bool null_device_failed() {
    report_error("can't open null device");
    return false;
}

}  // namespace

#ifdef _WIN32

namespace {

bool output_discarded = false;

}  // namespace

bool secure_standard_streams() {
    struct standard {
        std::FILE* stream;
        const char* mode;
    };
    const standard streams[] = {{stdin, "r"}, {stdout, "w"}, {stderr, "w"}};
    for (const standard& s : streams) {
        // A stream the program started without has a descriptor whose handle
        // the C runtime gives as -1 or -2, or no descriptor at all (-2).
        const int fd = _fileno(s.stream);
        const std::intptr_t handle = fd >= 0 ? _get_osfhandle(fd) : -1;
        if (handle != -1 && handle != -2) continue;
        if (std::freopen("NUL", s.mode, s.stream) != nullptr) continue;
        // Some runtimes cannot reopen a stream without a descriptor. No file
        // the program opens can take its place either: it writes nowhere.
        if (fd >= 0) return null_device_failed();
        if (s.stream == stdout) output_discarded = true;
    }
    return true;
}

bool standard_output_discarded() { return output_discarded; }

bool same_file(std::FILE* a, std::FILE* b) {
    BY_HANDLE_FILE_INFORMATION info[2];
    std::FILE* const streams[] = {a, b};
    for (int i = 0; i < 2; ++i) {
        const int fd = _fileno(streams[i]);
        if (fd < 0) return false;
        const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
        if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
            GetFileInformationByHandle(handle, &info[i]) == 0)
            return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

#else

bool secure_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is this one, since those below it are open.
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened != fd) {
            if (opened >= 0) close(opened);
            return null_device_failed();
        }
    }
    return true;
}

bool standard_output_discarded() { return false; }

bool same_file(std::FILE* a, std::FILE* b) {
    struct stat sa {};
    struct stat sb {};
    if (fstat(fileno(a), &sa) != 0 || fstat(fileno(b), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino && !S_ISCHR(sa.st_mode);
}

#endif
