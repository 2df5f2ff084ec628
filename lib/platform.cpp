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

#include <atomic>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#else
#ifdef ICON_LOAD_LIBRARIES
#include <dlfcn.h>
#endif
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>
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
bool discard(replacement& out) {
    const int error = errno;
    if (out.stream != nullptr) std::fclose(out.stream);
    out.stream = nullptr;
    std::remove(out.temporary.c_str());
    keep_on_signal();
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

bool may_write(const char* path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

namespace {

// The file a console event removes; null when none. Kept for the life of the
// program once set: the handler runs on a thread of its own.
std::atomic<const wchar_t*> guarded{nullptr};

BOOL WINAPI remove_guarded(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        const wchar_t* path = guarded.load();
        if (path != nullptr) DeleteFileW(path);
    }
    // The next handler, the default one, ends the program as the event would have.
    return FALSE;
}

// Where `path` leads: the final path of the file its links name, when it
// exists; else the path itself.
std::string followed(const char* path) {
    const HANDLE handle =
        CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return path;
    std::wstring final_path;
    const bool known = final_path_of(handle, final_path);
    CloseHandle(handle);
    if (!known) return path;
    const int n = WideCharToMultiByte(CP_ACP, 0, final_path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return path;
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, final_path.c_str(), -1, narrow.data(), n, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(n - 1));
    return narrow;
}

}  // namespace

void remove_on_signal(const std::string& path) {
    // Never freed: the handler's thread may still hold a former one.
    const std::wstring name = wide(path.c_str());
    auto* copy = new wchar_t[name.size() + 1];
    std::wmemcpy(copy, name.c_str(), name.size() + 1);
    guarded.store(copy);
    SetConsoleCtrlHandler(remove_guarded, TRUE);
}

void keep_on_signal() {
    SetConsoleCtrlHandler(remove_guarded, FALSE);
    guarded.store(nullptr);
}

// Windows files have no permission bits or owner to keep: the new file takes
// the access rights its folder gives, as the old one did. It is opened so
// that a console event's handler may delete it while it is open.
create_status create_beside(const char* path, replacement& out) {
    out.target = followed(path);
    for (unsigned attempt = 0; attempt < temporary_attempts; ++attempt) {
        out.temporary = temporary_name(out.target.c_str(), GetCurrentProcessId(), attempt);
        const HANDLE handle = CreateFileW(wide(out.temporary.c_str()).c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            errno = errno_of(error);
            return create_status::failed;
        }
        remove_on_signal(out.temporary);
        const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_BINARY);
        if (fd < 0) CloseHandle(handle);
        out.stream = fd < 0 ? nullptr : _fdopen(fd, "wb");
        if (out.stream == nullptr) {
            if (fd >= 0) _close(fd);
            discard(out);
            return create_status::failed;
        }
        return create_status::created;
    }
    errno = EEXIST;
    return create_status::failed;
}

bool replace_with(replacement& out) {
    if (std::fflush(out.stream) != 0 || std::ferror(out.stream) != 0 || _commit(_fileno(out.stream)) != 0)
        return discard(out);
    const int closed = std::fclose(out.stream);
    out.stream = nullptr;
    if (closed != 0) return discard(out);
    // The rename that replaces an existing file, written through to the disk.
    if (MoveFileExW(wide(out.temporary.c_str()).c_str(), wide(out.target.c_str()).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        errno = errno_of(GetLastError());
        return discard(out);
    }
    keep_on_signal();
    return true;
}

void give_up(replacement& out) { discard(out); }

void* load_library(const char* name) { return reinterpret_cast<void*>(LoadLibraryA(name)); }

void* library_function(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
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

bool may_write(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0) return errno == ENOENT;
    if (geteuid() == 0) return (st.st_mode & 0222) != 0;
    return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
}

namespace {

// The signals that end a program and that it may catch.
constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};

// The file a signal removes; null when none. Kept as a plain array of
// characters, which a signal handler may read.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): read by the handler
char* volatile guarded = nullptr;
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): restored by keep_on_signal
struct sigaction previous[std::size(ending_signals)];
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): restored by keep_on_signal
bool caught[std::size(ending_signals)];

void remove_guarded(int signal_number) {
    const int error = errno;
    if (guarded != nullptr) unlink(guarded);
    errno = error;
    // The handler was reset to the default action on entry: the signal,
    // raised again, ends the program as it would have.
    raise(signal_number);
}

// The ending signals held back for the life of the object, so that a file
// and the note of its removal come and go together.
class signals_held {
   public:
    signals_held() {
        sigset_t set;
        sigemptyset(&set);
        for (const int number : ending_signals) sigaddset(&set, number);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~signals_held() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    signals_held(const signals_held&) = delete;
    signals_held& operator=(const signals_held&) = delete;

   private:
    sigset_t old_{};
};

// The folder part of `path`: "." for a name without one.
std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows the symbolic links of `path` to the name of a file that is not
// one; a link that leads nowhere gives the name it leads to. False with
// errno ELOOP after as many links as the system itself follows.
bool follow_links(const char* path, std::string& target) {
    target = path;
    for (int links = 0; links < 40; ++links) {
        struct stat st {};
        if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = readlink(target.c_str(), link.data(), link.size());
        if (n < 0) return false;
        if (static_cast<std::size_t>(n) >= link.size()) continue;  // grew meanwhile: read it again
        link.resize(static_cast<std::size_t>(n));
        target = link.front() == '/' || target.find('/') == std::string::npos
                     ? link
                     : folder_of(target) + "/" + link;
    }
    errno = ELOOP;
    return false;
}

mode_t current_umask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Gives the new file at `fd` the owner, group and permission bits it must
// have before anything is written to it.
create_status give_final_mode(int fd, bool existing, const struct stat& old) {
    if (existing) {
        struct stat made {};
        if (fstat(fd, &made) != 0) return create_status::failed;
        const uid_t owner = made.st_uid != old.st_uid ? old.st_uid : static_cast<uid_t>(-1);
        const gid_t group = made.st_gid != old.st_gid ? old.st_gid : static_cast<gid_t>(-1);
        if ((owner != static_cast<uid_t>(-1) || group != static_cast<gid_t>(-1)) &&
            fchown(fd, owner, group) != 0)
            return create_status::owner_not_kept;
    }
    const mode_t mode = existing ? old.st_mode & 0777 : 0666 & ~current_umask();
    return fchmod(fd, mode) == 0 ? create_status::created : create_status::failed;
}

}  // namespace

void remove_on_signal(const std::string& path) {
    keep_on_signal();
    guarded = strdup(path.c_str());
    for (std::size_t i = 0; i < std::size(ending_signals); ++i) {
        struct sigaction now {};
        sigaction(ending_signals[i], nullptr, &previous[i]);
        // A signal ignored from the start (nohup) stays ignored.
        caught[i] = previous[i].sa_handler != SIG_IGN;
        if (!caught[i]) continue;
        now.sa_handler = remove_guarded;
        sigemptyset(&now.sa_mask);
        now.sa_flags = static_cast<int>(SA_RESETHAND);
        sigaction(ending_signals[i], &now, nullptr);
    }
}

void keep_on_signal() {
    for (std::size_t i = 0; i < std::size(ending_signals); ++i) {
        if (caught[i]) sigaction(ending_signals[i], &previous[i], nullptr);
        caught[i] = false;
    }
    char* const path = guarded;
    guarded = nullptr;
    std::free(path);
}

create_status create_beside(const char* path, replacement& out) {
    if (!follow_links(path, out.target)) return create_status::failed;
    struct stat old {};
    const bool existing = stat(out.target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    for (unsigned attempt = 0; attempt < temporary_attempts; ++attempt) {
        out.temporary = temporary_name(out.target.c_str(), static_cast<unsigned long>(getpid()), attempt);
        const signals_held held;
        // Readable by the user alone until it has its final owner and bits.
        const int fd = open(out.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return create_status::failed;
        }
        remove_on_signal(out.temporary);
        const create_status status = give_final_mode(fd, existing, old);
        if (status == create_status::created) out.stream = fdopen(fd, "wb");
        if (out.stream == nullptr) {
            const int error = errno;
            close(fd);
            errno = error;
            discard(out);
            return status == create_status::created ? create_status::failed : status;
        }
        return create_status::created;
    }
    errno = EEXIST;
    return create_status::failed;
}

bool replace_with(replacement& out) {
    if (std::fflush(out.stream) != 0 || std::ferror(out.stream) != 0 || fsync(fileno(out.stream)) != 0)
        return discard(out);
    const int closed = std::fclose(out.stream);
    out.stream = nullptr;
    if (closed != 0) return discard(out);
    {
        const signals_held held;
        if (std::rename(out.temporary.c_str(), out.target.c_str()) != 0) return discard(out);
        keep_on_signal();
    }
    // The rename is an entry of the folder: it survives a crash only once
    // the folder is written out. A folder that cannot be opened for it, or a
    // file system that cannot sync one (EINVAL), is left as it is.
    const int folder = open(folder_of(out.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return true;
    const bool synced = fsync(folder) == 0 || errno == EINVAL;
    const int error = errno;
    close(folder);
    errno = error;
    return synced;
}

void give_up(replacement& out) { discard(out); }

// Only a build that renders SVG loads libraries: a static build would
// carry the C library's loader for nothing.
#ifdef ICON_LOAD_LIBRARIES
void* load_library(const char* name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }

void* library_function(void* library, const char* name) { return dlsym(library, name); }
#else
void* load_library(const char*) { return nullptr; }

void* library_function(void*, const char*) { return nullptr; }
#endif

#endif
