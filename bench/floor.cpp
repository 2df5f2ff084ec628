// The floor of the benchmark: replays a record of a program's file system
// calls (made by run_bench.py from strace) and does nothing else. Same calls,
// same order, same paths, sizes and offsets; no parsing, no formatting and no
// stdio in between. What it reads goes into one scratch buffer and what it
// writes comes from there, so the bytes differ but the sizes do not.
//
// Usage: floor RECORD. The record is read in one call and closed before the
// replay, so the replayed opens get the descriptors the program got.
//
// Record: "FLR1", then int32 record count and string table size, the
// records of four int32 each (operation, descriptor, two arguments), then
// the string table of NUL-terminated paths. Little-endian, as on the hosts
// strace runs on.
#ifdef __linux__
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

enum operation : std::int32_t {
    op_open = 1,
    op_read,
    op_write,
    op_seek,
    op_close,
    op_fstat,
    op_tty,
    op_getfd
};

struct record {
    std::int32_t op;
    std::int32_t fd;
    std::int32_t a;  // open: string offset; read, write: count; seek: offset
    std::int32_t b;  // open: flags; seek: whence
};

std::vector<char> load(const char* path) {
    std::vector<char> data;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) return data;
    data.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = read(fd, data.data() + got, data.size() - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    data.resize(got);
    return data;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: floor RECORD\n", stderr);
        return 2;
    }
    const std::vector<char> data = load(argv[1]);
    std::int32_t count = 0;
    std::int32_t strings = 0;
    if (data.size() < 12 || std::memcmp(data.data(), "FLR1", 4) != 0) {
        std::fputs("floor: not a record\n", stderr);
        return 2;
    }
    std::memcpy(&count, data.data() + 4, 4);
    std::memcpy(&strings, data.data() + 8, 4);
    const std::size_t table = 12 + sizeof(record) * static_cast<std::size_t>(count);
    if (count < 0 || strings < 0 || data.size() != table + static_cast<std::size_t>(strings)) {
        std::fputs("floor: damaged record\n", stderr);
        return 2;
    }
    std::vector<record> records(static_cast<std::size_t>(count));
    std::memcpy(records.data(), data.data() + 12, sizeof(record) * records.size());
    const char* const paths = data.data() + table;

    // The record's descriptor numbers, mapped to the ones the replay got.
    std::vector<int> fds(1024, -1);
    for (int i = 0; i < 3; ++i) fds[static_cast<std::size_t>(i)] = i;
    auto mapped = [&](std::int32_t fd) {
        return fd >= 0 && static_cast<std::size_t>(fd) < fds.size() ? fds[static_cast<std::size_t>(fd)] : -1;
    };
    static char scratch[1 << 20];
    std::vector<char> large;
    for (const record& r : records) {
        switch (r.op) {
            case op_open: {
                const int fd = open(paths + r.a, r.b, 0666);
                if (r.fd >= 0 && static_cast<std::size_t>(r.fd) < fds.size())
                    fds[static_cast<std::size_t>(r.fd)] = fd;
                break;
            }
            case op_read:
            case op_write: {
                const auto size = static_cast<std::size_t>(r.a);
                char* buffer = scratch;
                if (size > sizeof scratch) {
                    if (large.size() < size) large.resize(size);
                    buffer = large.data();
                }
                // Failures are the program's too: the replay goes on.
                const ssize_t moved =
                    r.op == op_read ? read(mapped(r.fd), buffer, size) : write(mapped(r.fd), buffer, size);
                static_cast<void>(moved);
                break;
            }
            case op_seek: lseek(mapped(r.fd), r.a, r.b); break;
            case op_close: close(mapped(r.fd)); break;
            case op_fstat: {
                struct stat st {};
                fstat(mapped(r.fd), &st);
                break;
            }
            case op_tty: {
                struct termios t {};
                ioctl(mapped(r.fd), TCGETS, &t);
                break;
            }
            case op_getfd: fcntl(mapped(r.fd), F_GETFD); break;
            default: return 2;
        }
    }
    return 0;
}

#else

#include <cstdio>

int main() {
    std::fputs("floor: replays a Linux system-call record; Linux only\n", stderr);
    return 2;
}

#endif
