#include "stream_io.hpp"

#include <bit>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// Transfers up to this size are single fields (8 bytes at most): they go
// byte by byte through the stream's buffer without taking its lock, which a
// single-threaded program never needs. Larger ones are bulk image data.
constexpr std::size_t FIELD_BYTES = 8;

// One byte from or to the stream's buffer, without the stream's lock.
int get_byte(std::FILE* stream) {
#ifdef _WIN32
    return _getc_nolock(stream);
#else
    return getc_unlocked(stream);
#endif
}

int put_byte(unsigned char byte, std::FILE* stream) {
#ifdef _WIN32
    return _putc_nolock(byte, stream);
#else
    return putc_unlocked(byte, stream);
#endif
}

// Positions in 64 bits on every host: Windows' fseek and ftell take and
// give a 32-bit long, and so cannot place or measure beyond 2 GiB.
int seek_to(std::FILE* stream, std::int32_t offset, int origin) {
#ifdef _WIN32
    return _fseeki64(stream, offset, origin);
#else
    return std::fseek(stream, offset, origin);
#endif
}

int seek_to_64(std::FILE* stream, std::int64_t position) {
#ifdef _WIN32
    return _fseeki64(stream, position, SEEK_SET);
#else
    // Where off_t is 32 bits, a place it cannot hold is never reached.
    if (position > std::numeric_limits<off_t>::max()) return -1;
    return fseeko(stream, static_cast<off_t>(position), SEEK_SET);
#endif
}

std::int64_t tell_of(std::FILE* stream) {
#ifdef _WIN32
    return _ftelli64(stream);
#else
    return static_cast<std::int64_t>(std::ftell(stream));
#endif
}

}  // namespace

io_result stream_read(std::FILE* stream, std::int32_t* count, void* buffer) {
    const std::int32_t wanted = *count;
    if (wanted <= 0) {  // nothing to move, and no buffer needed; a negative request fails
        *count = 0;
        return wanted == 0 ? IO_OK : IO_ERROR;
    }
    const auto size = static_cast<std::size_t>(wanted);
    std::size_t got = 0;
    if (size <= FIELD_BYTES) {
        // A field: its bytes come straight out of the stream's buffer.
        auto* bytes = static_cast<unsigned char*>(buffer);
        while (got < size) {
            const int c = get_byte(stream);
            if (c == EOF) break;
            bytes[got++] = static_cast<unsigned char>(c);
        }
    } else {
        got = std::fread(buffer, 1, size, stream);
    }
    *count = static_cast<std::int32_t>(got);
    return got == static_cast<std::size_t>(wanted) ? IO_OK : IO_ERROR;
}

io_result stream_write(std::FILE* stream, std::int32_t* count, const void* data) {
    const std::int32_t wanted = *count;
    if (wanted <= 0) {  // an empty buffer may be a null pointer, which stdio must not see
        *count = 0;
        return wanted == 0 ? IO_OK : IO_ERROR;
    }
    const auto size = static_cast<std::size_t>(wanted);
    std::size_t put = 0;
    if (size <= FIELD_BYTES) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        while (put < size && put_byte(bytes[put], stream) != EOF) ++put;
    } else {
        put = std::fwrite(data, 1, size, stream);
    }
    *count = static_cast<std::int32_t>(put);
    return put == static_cast<std::size_t>(wanted) ? IO_OK : IO_ERROR;
}

io_result stream_seek(std::FILE* stream, std::int16_t mode, std::int32_t offset) {
    int origin = 0;
    switch (mode) {
        case 0:
        case SEEK_FROM_START: origin = SEEK_SET; break;
        case SEEK_FROM_END: origin = SEEK_END; break;
        case SEEK_FROM_CURRENT: origin = SEEK_CUR; break;
        default: return IO_ERROR;
    }
    return seek_to(stream, offset, origin) == 0 ? IO_OK : IO_ERROR;
}

io_result stream_seek64(std::FILE* stream, std::int64_t position) {
    if (position < 0) return IO_ERROR;
    return seek_to_64(stream, position) == 0 ? IO_OK : IO_ERROR;
}

io_result stream_tell(std::FILE* stream, std::int64_t* position) {
    *position = tell_of(stream);
    return IO_OK;
}

void prepare_input(std::FILE* stream, char* buffer) {
    std::setvbuf(stream, buffer, _IOFBF, INPUT_BUFFER_SIZE);
    std::fseek(stream, 0, SEEK_SET);
}

io_result stream_close(std::FILE* stream) { return std::fclose(stream) == 0 ? IO_OK : IO_ERROR; }

namespace {

// Reads N bytes into bytes[]; the caller decodes only on IO_OK.
template <std::size_t N>
io_result read_bytes(std::FILE* stream, std::uint8_t (&bytes)[N]) {
    std::int32_t count = static_cast<std::int32_t>(N);
    return stream_read(stream, &count, bytes);
}

template <std::size_t N>
io_result write_bytes(std::FILE* stream, const std::uint8_t (&bytes)[N]) {
    std::int32_t count = static_cast<std::int32_t>(N);
    return stream_write(stream, &count, bytes);
}

template <typename T>
io_result read_16(std::FILE* stream, T* out, bool little) {
    std::uint8_t b[2];
    const io_result result = read_bytes(stream, b);
    if (result != IO_OK) return result;
    const std::uint16_t lo = little ? b[0] : b[1];
    const std::uint16_t hi = little ? b[1] : b[0];
    *out = static_cast<T>(static_cast<std::uint16_t>(lo | (hi << 8)));
    return IO_OK;
}

template <typename T>
io_result read_32(std::FILE* stream, T* out, bool little) {
    std::uint8_t b[4];
    const io_result result = read_bytes(stream, b);
    if (result != IO_OK) return result;
    if (!little) {
        std::swap(b[0], b[3]);
        std::swap(b[1], b[2]);
    }
    const std::uint32_t value = std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) |
                                (std::uint32_t{b[2]} << 16) | (std::uint32_t{b[3]} << 24);
    *out = static_cast<T>(value);
    return IO_OK;
}

io_result write_16(std::FILE* stream, std::int16_t value, bool little) {
    const auto bits = static_cast<std::uint16_t>(value);
    const auto lo = static_cast<std::uint8_t>(bits & 0xFFu);
    const auto hi = static_cast<std::uint8_t>((bits >> 8) & 0xFFu);
    const std::uint8_t b[2] = {little ? lo : hi, little ? hi : lo};
    return write_bytes(stream, b);
}

io_result write_32(std::FILE* stream, std::int32_t value, bool little) {
    const auto bits = static_cast<std::uint32_t>(value);
    std::uint8_t b[4];
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<std::uint8_t>((bits >> (8 * i)) & 0xFFu);
        b[little ? i : 3 - i] = byte;
    }
    return write_bytes(stream, b);
}

}  // namespace

io_result read_u8(std::FILE* stream, std::uint8_t* out) {
    std::uint8_t b[1];
    const io_result result = read_bytes(stream, b);
    if (result == IO_OK) *out = b[0];
    return result;
}

io_result read_le16(std::FILE* stream, std::uint16_t* out) { return read_16(stream, out, true); }
io_result read_le16(std::FILE* stream, std::int16_t* out) { return read_16(stream, out, true); }
io_result read_be16(std::FILE* stream, std::uint16_t* out) { return read_16(stream, out, false); }
io_result read_be16(std::FILE* stream, std::int16_t* out) { return read_16(stream, out, false); }
io_result read_le32(std::FILE* stream, std::uint32_t* out) { return read_32(stream, out, true); }
io_result read_le32(std::FILE* stream, std::int32_t* out) { return read_32(stream, out, true); }
io_result read_be32(std::FILE* stream, std::uint32_t* out) { return read_32(stream, out, false); }
io_result read_be32(std::FILE* stream, std::int32_t* out) { return read_32(stream, out, false); }

io_result write_u8(std::FILE* stream, std::uint8_t value) {
    const std::uint8_t b[1] = {value};
    return write_bytes(stream, b);
}

io_result write_le16(std::FILE* stream, std::int16_t value) { return write_16(stream, value, true); }
io_result write_be16(std::FILE* stream, std::int16_t value) { return write_16(stream, value, false); }
io_result write_le32(std::FILE* stream, std::int32_t value) { return write_32(stream, value, true); }
io_result write_be32(std::FILE* stream, std::int32_t value) { return write_32(stream, value, false); }

// Doubles travel as their IEEE 754 bytes, least significant first; on a
// big-endian host the bytes of the value in memory are reversed.
io_result read_le_double(std::FILE* stream, double* out) {
    std::uint8_t b[8];
    const io_result result = read_bytes(stream, b);
    if (result != IO_OK) return result;
    std::uint8_t ordered[8];
    const bool little = host_is_little_endian();
    for (int i = 0; i < 8; ++i) ordered[i] = little ? b[i] : b[7 - i];
    std::memcpy(out, ordered, sizeof ordered);
    return IO_OK;
}

io_result write_le_double(std::FILE* stream, double value) {
    std::uint8_t raw[8];
    std::memcpy(raw, &value, sizeof raw);
    std::uint8_t b[8];
    const bool little = host_is_little_endian();
    for (int i = 0; i < 8; ++i) b[i] = little ? raw[i] : raw[7 - i];
    return write_bytes(stream, b);
}

bool host_is_little_endian() { return std::endian::native == std::endian::little; }
