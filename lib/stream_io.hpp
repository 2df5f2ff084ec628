// Exact-length byte transfer, positioning and byte-order field codecs on a
// caller's std::FILE*.
//
// Every call answers IO_OK or IO_ERROR and nothing else; callers compare the
// result with zero. The layer never opens a stream, prints, allocates or keeps
// state; only stream_close releases the stream it is given.
//
// Integer fields are built from, and taken apart into, single bytes with
// shifts, so the bytes in a file never depend on the host's byte order:
// read_le32 over 01 02 03 04 gives 0x04030201, write_be16 of -2 gives FF FE.
// A reader stores the field's bit pattern into a signed or an unsigned
// variable of its width; a reader that fails leaves that variable untouched.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

using io_result = std::int32_t;

inline constexpr io_result IO_OK = 0;
inline constexpr io_result IO_ERROR = -36;

// Positioning modes; 0 means the same as SEEK_FROM_START.
inline constexpr std::int16_t SEEK_FROM_START = 1;
inline constexpr std::int16_t SEEK_FROM_END = 2;
inline constexpr std::int16_t SEEK_FROM_CURRENT = 3;

// *count holds the bytes wanted on entry and the bytes moved on return.
io_result stream_read(std::FILE* stream, std::int32_t* count, void* buffer);
io_result stream_write(std::FILE* stream, std::int32_t* count, const void* data);
io_result stream_seek(std::FILE* stream, std::int16_t mode, std::int32_t offset);
// Positions the stream `position` bytes from its start, anywhere a 64-bit
// offset reaches, as stream_seek's 32-bit offset cannot: an icon's image may
// start up to 4 GiB into its file.
io_result stream_seek64(std::FILE* stream, std::int64_t position);
// Always IO_OK; *position is -1 when the platform cannot tell it.
io_result stream_tell(std::FILE* stream, std::int64_t* position);
io_result stream_close(std::FILE* stream);

io_result read_u8(std::FILE* stream, std::uint8_t* out);
io_result read_le16(std::FILE* stream, std::uint16_t* out);
io_result read_le16(std::FILE* stream, std::int16_t* out);
io_result read_be16(std::FILE* stream, std::uint16_t* out);
io_result read_be16(std::FILE* stream, std::int16_t* out);
io_result read_le32(std::FILE* stream, std::uint32_t* out);
io_result read_le32(std::FILE* stream, std::int32_t* out);
io_result read_be32(std::FILE* stream, std::uint32_t* out);
io_result read_be32(std::FILE* stream, std::int32_t* out);
io_result read_le_double(std::FILE* stream, double* out);

io_result write_u8(std::FILE* stream, std::uint8_t value);
io_result write_le16(std::FILE* stream, std::int16_t value);
io_result write_be16(std::FILE* stream, std::int16_t value);
io_result write_le32(std::FILE* stream, std::int32_t value);
io_result write_be32(std::FILE* stream, std::int32_t value);
io_result write_le_double(std::FILE* stream, double value);

bool host_is_little_endian();

// Input streams get a buffer that holds a small icon file whole: every seek
// costs a system call, and one that leaves the buffer a read as well, so a
// file's directory and image headers are best kept in memory together.
inline constexpr std::size_t INPUT_BUFFER_SIZE = 16384;

// Readies a freshly opened input: gives it `buffer` (INPUT_BUFFER_SIZE bytes
// that outlive the stream) and seeks it to its start. A fresh stream does
// not know its file offset, so its first seek would read the buffer again
// even when the target lies in it; after this one a small file is read once.
// A stream that cannot seek fails here, and again at its first real seek.
void prepare_input(std::FILE* stream, char* buffer);

// Ownership of a stream for the programs: closes it through stream_close.
struct stream_closer {
    void operator()(std::FILE* stream) const { stream_close(stream); }
};
using owned_stream = std::unique_ptr<std::FILE, stream_closer>;
