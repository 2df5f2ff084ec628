#include "platform.hpp"

#include "report.hpp"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#endif

#include <cerrno>
#include <string>

namespace {

bool null_device_failed() {
    report_error("can't open null device");
    return false;
}

// Closes and removes a temporary output that is given up, keeping the errno
// of the failure that gave it up.
bool discard(std::FILE* stream, const std::string& temporary) {
    const int error = errno;
    if (stream != nullptr) std::fclose(stream);
    std::remove(temporary.c_str());
    errno = error;
    return false;
}

// The name of a temporary output: the final path, the process number and
// a counter, so that runs side by side never pick the same one.
std::string temporary_name(const char* path, unsigned long process, unsigned attempt) {
    return std::string(path) + "." + std::to_string(process) + "-" + std::to_string(attempt) + ".tmp";
}

// Names tried before giving up on a folder full of leftovers.
constexpr unsigned temporary_attempts = 100;

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

namespace {

HANDLE stream_handle(std::FILE* stream) {
    const int fd = _fileno(stream);
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// A handle that only asks about the file at `path`: it reads and writes
// nothing, and a folder opens too.
HANDLE open_for_identity(const char* path) {
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Consoles, the null device and pipes are never one stored file with
// another; a disk file is, and so is a handle whose type cannot be told.
bool may_be_stored(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
    const DWORD type = GetFileType(handle);
    return type != FILE_TYPE_CHAR && type != FILE_TYPE_PIPE;
}

bool index_of(HANDLE handle, file_identity& identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info) == 0) return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return true;
}

bool final_path_of(HANDLE handle, std::wstring& path) {
    std::wstring buffer(32768, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= buffer.size()) return false;
    path.assign(buffer, 0, length);
    return true;
}

// The 128-bit file id, where the file index is refused. Wine gives it for a
// handle that a POSIX shell's redirection made, but with a volume of 0; a
// volume that cannot be told then does not keep two equal ids apart, so
// that a doubt refuses a run rather than lets it overwrite a file.
file_match compare_file_ids(HANDLE a, HANDLE b) {
    FILE_ID_INFO ia;
    FILE_ID_INFO ib;
    if (GetFileInformationByHandleEx(a, FileIdInfo, &ia, sizeof ia) == 0 ||
        GetFileInformationByHandleEx(b, FileIdInfo, &ib, sizeof ib) == 0)
        return file_match::unknown;
    if (std::memcmp(ia.FileId.Identifier, ib.FileId.Identifier, sizeof ia.FileId.Identifier) != 0)
        return file_match::different;
    const bool volumes_agree = ia.VolumeSerialNumber == ib.VolumeSerialNumber || ia.VolumeSerialNumber == 0 ||
                               ib.VolumeSerialNumber == 0;
    return volumes_agree ? file_match::same : file_match::different;
}

// An inherited handle may refuse its file index (Wine's do, for a program
// started from a POSIX shell with a redirection); its file id or its final
// path may still be known. When none is, nothing can be said.
file_match compare_handles(HANDLE a, HANDLE b) {
    file_identity ia;
    file_identity ib;
    if (index_of(a, ia) && index_of(b, ib)) return ia == ib ? file_match::same : file_match::different;
    const file_match by_id = compare_file_ids(a, b);
    if (by_id != file_match::unknown) return by_id;
    std::wstring na;
    std::wstring nb;
    if (final_path_of(a, na) && final_path_of(b, nb))
        return CompareStringOrdinal(na.c_str(), -1, nb.c_str(), -1, TRUE) == CSTR_EQUAL
                   ? file_match::same
                   : file_match::different;
    return file_match::unknown;
}

}  // namespace

file_match same_file(std::FILE* a, std::FILE* b) {
    const HANDLE ha = stream_handle(a);
    const HANDLE hb = stream_handle(b);
    if (!may_be_stored(ha) || !may_be_stored(hb)) return file_match::different;
    return compare_handles(ha, hb);
}

file_match path_matches_stream(const char* path, std::FILE* stream) {
    const HANDLE hs = stream_handle(stream);
    if (!may_be_stored(hs)) return file_match::different;
    const HANDLE hp = open_for_identity(path);
    if (hp == INVALID_HANDLE_VALUE) return file_match::different;
    const file_match match = may_be_stored(hp) ? compare_handles(hp, hs) : file_match::different;
    CloseHandle(hp);
    return match;
}

bool identify_file(const char* path, file_identity& identity) {
    const HANDLE handle = open_for_identity(path);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = may_be_stored(handle) && index_of(handle, identity);
    CloseHandle(handle);
    return known;
}

namespace {

// Paths reach the programs in the ANSI code page, which their manifest makes
// UTF-8; the wide-character calls need them converted.
std::wstring wide(const char* path) {
    const int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path, -1, out.data(), n);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

int errno_of(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        default: return EIO;
    }
}

}  // namespace

const char* file_name_in(const char* path) {
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c) {
        if (*c == '/' || *c == '\\' || *c == ':') name = c + 1;
    }
    return name;
}

path_kind kind_of_path(const char* path) {
    const std::wstring name = wide(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return path_kind::missing;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return path_kind::directory;
    // Devices such as NUL or CON answer attributes too; only a disk file is
    // an output that can be replaced.
    const HANDLE handle = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return path_kind::other;
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    return type == FILE_TYPE_DISK ? path_kind::regular_file : path_kind::other;
}

// Windows files have no permission bits to keep: the new file takes the
// access rights its folder gives, as the old one did.
std::FILE* create_beside(const char* path, std::string& temporary) {
    for (unsigned attempt = 0; attempt < temporary_attempts; ++attempt) {
        temporary = temporary_name(path, GetCurrentProcessId(), attempt);
        const int fd = _wopen(wide(temporary.c_str()).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                              _S_IREAD | _S_IWRITE);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        std::FILE* stream = _fdopen(fd, "wb");
        if (stream == nullptr) {
            _close(fd);
            discard(nullptr, temporary);
        }
        return stream;
    }
    errno = EEXIST;
    return nullptr;
}

bool replace_with(std::FILE* stream, const std::string& temporary, const char* path) {
    if (std::fflush(stream) != 0 || std::ferror(stream) != 0 || _commit(_fileno(stream)) != 0)
        return discard(stream, temporary);
    if (std::fclose(stream) != 0) return discard(nullptr, temporary);
    // The rename that replaces an existing file, written through to the disk.
    if (MoveFileExW(wide(temporary.c_str()).c_str(), wide(path).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        errno = errno_of(GetLastError());
        return discard(nullptr, temporary);
    }
    return true;
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

namespace {

bool one_stored_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && !S_ISCHR(a.st_mode);
}

file_match match_of(bool same) { return same ? file_match::same : file_match::different; }

}  // namespace

file_match same_file(std::FILE* a, std::FILE* b) {
    struct stat sa {};
    struct stat sb {};
    if (fstat(fileno(a), &sa) != 0 || fstat(fileno(b), &sb) != 0) return file_match::different;
    return match_of(one_stored_file(sa, sb));
}

file_match path_matches_stream(const char* path, std::FILE* stream) {
    struct stat sp {};
    struct stat ss {};
    if (stat(path, &sp) != 0 || fstat(fileno(stream), &ss) != 0) return file_match::different;
    return match_of(one_stored_file(sp, ss));
}

bool identify_file(const char* path, file_identity& identity) {
    struct stat st {};
    if (stat(path, &st) != 0 || S_ISCHR(st.st_mode)) return false;
    identity.volume = static_cast<std::uint64_t>(st.st_dev);
    identity.index = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

const char* file_name_in(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

path_kind kind_of_path(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0) return errno == ENOENT ? path_kind::missing : path_kind::other;
    if (S_ISDIR(st.st_mode)) return path_kind::directory;
    return S_ISREG(st.st_mode) ? path_kind::regular_file : path_kind::other;
}

std::FILE* create_beside(const char* path, std::string& temporary) {
    // An existing output keeps its permission bits (the set-id and sticky
    // bits aside); a new one gets those the umask leaves of 0666.
    struct stat st {};
    const bool existing = stat(path, &st) == 0 && S_ISREG(st.st_mode);
    for (unsigned attempt = 0; attempt < temporary_attempts; ++attempt) {
        temporary = temporary_name(path, static_cast<unsigned long>(getpid()), attempt);
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        std::FILE* stream = nullptr;
        if (!existing || fchmod(fd, st.st_mode & 0777) == 0) stream = fdopen(fd, "wb");
        if (stream == nullptr) {
            const int error = errno;
            close(fd);
            errno = error;
            discard(nullptr, temporary);
        }
        return stream;
    }
    errno = EEXIST;
    return nullptr;
}

bool replace_with(std::FILE* stream, const std::string& temporary, const char* path) {
    if (std::fflush(stream) != 0 || std::ferror(stream) != 0 || fsync(fileno(stream)) != 0)
        return discard(stream, temporary);
    if (std::fclose(stream) != 0) return discard(nullptr, temporary);
    if (std::rename(temporary.c_str(), path) != 0) return discard(nullptr, temporary);
    return true;
}

#endif
