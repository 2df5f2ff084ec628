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
#include <cstring>
#include <string>
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

#endif
