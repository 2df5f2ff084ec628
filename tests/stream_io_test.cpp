#include "stream_io.hpp"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>

#include "test_support.hpp"

using icon_test::bytes;
using icon_test::memory_stream;

namespace {

// A scratch stream for writers: written, then rewound and read back whole.
class written_bytes {
   public:
    written_bytes() : stream_(icon_test::temporary_stream()) {}
    ~written_bytes() { std::fclose(stream_); }
    std::FILE* get() const { return stream_; }
    bytes contents() const {
        std::fflush(stream_);
        std::rewind(stream_);
        bytes out;
        for (int c = std::fgetc(stream_); c != EOF; c = std::fgetc(stream_))
            out.push_back(static_cast<std::uint8_t>(c));
        return out;
    }

   private:
    std::FILE* stream_;
};

TEST(StreamIo, ResultCodes) {
    EXPECT_EQ(IO_OK, 0);
    EXPECT_EQ(IO_ERROR, -36);
    EXPECT_EQ(static_cast<std::uint32_t>(IO_ERROR), 0xFFFFFFDCu);
}

TEST(StreamIo, ReadExactShortAndEmpty) {
    struct row {
        std::size_t available;
        std::int32_t wanted;
        io_result result;
        std::int32_t moved;
    };
    // Fields of up to 8 bytes and longer blocks take different ways through
    // the stream; both must count alike.
    const row rows[] = {
        {4, 0, IO_OK, 0},    {4, 4, IO_OK, 4},       {3, 4, IO_ERROR, 3},  {0, 4, IO_ERROR, 0},
        {6, 4, IO_OK, 4},    {8, 8, IO_OK, 8},       {7, 8, IO_ERROR, 7},  {12, 9, IO_OK, 9},
        {12, 12, IO_OK, 12}, {10, 12, IO_ERROR, 10}, {0, 12, IO_ERROR, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.available << " bytes, " << r.wanted << " wanted");
        const bytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        const memory_stream in(bytes(data.begin(), data.begin() + static_cast<long>(r.available)));
        std::uint8_t buffer[16];
        std::memset(buffer, 0xEE, sizeof buffer);
        std::int32_t count = r.wanted;
        EXPECT_EQ(stream_read(in.get(), &count, buffer), r.result);
        EXPECT_EQ(count, r.moved);
        for (std::int32_t i = 0; i < r.moved; ++i) EXPECT_EQ(buffer[i], data[static_cast<std::size_t>(i)]);
        EXPECT_EQ(buffer[r.moved], 0xEE);
    }
}

TEST(StreamIo, ShortReadConsumesWhatArrived) {
    const memory_stream in({1, 2, 3});
    std::uint8_t buffer[4];
    std::int32_t count = 4;
    EXPECT_EQ(stream_read(in.get(), &count, buffer), IO_ERROR);
    EXPECT_EQ(count, 3);
    std::int64_t position = 0;
    EXPECT_EQ(stream_tell(in.get(), &position), IO_OK);
    EXPECT_EQ(position, 3);
}

TEST(StreamIo, EmptyAndNegativeCountsMoveNothing) {
    const memory_stream in({1, 2, 3});
    std::uint8_t buffer[4];
    std::int32_t count = -1;
    EXPECT_EQ(stream_read(in.get(), &count, buffer), IO_ERROR);
    EXPECT_EQ(count, 0);
    const written_bytes out;
    count = -5;
    EXPECT_EQ(stream_write(out.get(), &count, buffer), IO_ERROR);
    EXPECT_EQ(count, 0);
    // An empty request may come with no buffer at all.
    count = 0;
    EXPECT_EQ(stream_write(out.get(), &count, nullptr), IO_OK);
    EXPECT_EQ(stream_read(in.get(), &count, nullptr), IO_OK);
    EXPECT_TRUE(out.contents().empty());
}

TEST(StreamIo, WriteCountsAcceptedBytes) {
    const written_bytes out;
    const std::uint8_t data[3] = {7, 8, 9};
    std::int32_t count = 0;
    EXPECT_EQ(stream_write(out.get(), &count, data), IO_OK);
    EXPECT_EQ(count, 0);
    count = 3;
    EXPECT_EQ(stream_write(out.get(), &count, data), IO_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(out.contents(), (bytes{7, 8, 9}));
}

TEST(StreamIo, WriteToFullDeviceFailsOnFlushOrClose) {
    if (icon_test::on_windows) GTEST_SKIP() << "Windows has no full device";
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);  // unbuffered, so the write itself fails
    const std::uint8_t data[12] = {1, 2};
    for (const std::int32_t wanted : {2, 12}) {  // a field and a block
        std::int32_t count = wanted;
        EXPECT_EQ(stream_write(full, &count, data), IO_ERROR);
        EXPECT_EQ(count, 0);
    }
    std::fclose(full);

    full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::int32_t count = 2;
    EXPECT_EQ(stream_write(full, &count, data), IO_OK);  // held in the buffer
    EXPECT_EQ(stream_close(full), IO_ERROR);
}

TEST(StreamIo, SeekModesAndTell) {
    const memory_stream in({10, 11, 12, 13, 14, 15});
    std::int64_t position = -7;
    EXPECT_EQ(stream_tell(in.get(), &position), IO_OK);
    EXPECT_EQ(position, 0);

    struct row {
        std::int16_t mode;
        std::int32_t offset;
        io_result result;
        std::int64_t position;  // after the call, starting from 2
    };
    const row rows[] = {
        {0, 4, IO_OK, 4},
        {SEEK_FROM_START, 4, IO_OK, 4},
        {SEEK_FROM_END, 0, IO_OK, 6},
        {SEEK_FROM_END, -1, IO_OK, 5},
        {SEEK_FROM_CURRENT, 3, IO_OK, 5},
        {SEEK_FROM_CURRENT, -2, IO_OK, 0},
        {SEEK_FROM_START, -1, IO_ERROR, 2},
        {4, 1, IO_ERROR, 2},
        {-1, 1, IO_ERROR, 2},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << r.mode << " offset " << r.offset);
        ASSERT_EQ(stream_seek(in.get(), SEEK_FROM_START, 2), IO_OK);
        EXPECT_EQ(stream_seek(in.get(), r.mode, r.offset), r.result);
        EXPECT_EQ(stream_tell(in.get(), &position), IO_OK);
        EXPECT_EQ(position, r.position);
    }
}

TEST(StreamIo, TellThatCannotTellGivesMinusOne) {
    int fds[2];
#ifdef _WIN32
    ASSERT_EQ(_pipe(fds, 4096, _O_BINARY), 0);
#else
    ASSERT_EQ(pipe(fds), 0);
#endif
    std::FILE* pipe_in = fdopen(fds[0], "rb");
    std::int64_t position = 5;
    EXPECT_EQ(stream_tell(pipe_in, &position), IO_OK);
    EXPECT_EQ(position, -1);
    EXPECT_EQ(stream_seek(pipe_in, SEEK_FROM_START, 0), IO_ERROR);
    EXPECT_EQ(stream_close(pipe_in), IO_OK);
    close(fds[1]);
}

TEST(StreamIo, IntegerReadersDecodeBothOrders) {
    const memory_stream in({0x01, 0x02, 0x03, 0x04, 0x01, 0x02, 0x03, 0x04, 0x34, 0x12, 0x34, 0x12, 0xC8});
    std::uint32_t u32 = 0;
    EXPECT_EQ(read_le32(in.get(), &u32), IO_OK);
    EXPECT_EQ(u32, 0x04030201u);
    EXPECT_EQ(read_be32(in.get(), &u32), IO_OK);
    EXPECT_EQ(u32, 0x01020304u);
    std::uint16_t u16 = 0;
    EXPECT_EQ(read_le16(in.get(), &u16), IO_OK);
    EXPECT_EQ(u16, 0x1234);
    EXPECT_EQ(read_be16(in.get(), &u16), IO_OK);
    EXPECT_EQ(u16, 0x3412);
    std::uint8_t u8 = 0;
    EXPECT_EQ(read_u8(in.get(), &u8), IO_OK);
    EXPECT_EQ(u8, 200);
}

TEST(StreamIo, ReadersKeepTheBitPatternSignedOrNot) {
    const memory_stream in(
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0x00, 0x00, 0x00, 0x80, 0x80, 0x00, 0x00, 0x00});
    std::int16_t s16 = 0;
    std::uint16_t u16 = 0;
    EXPECT_EQ(read_le16(in.get(), &s16), IO_OK);
    EXPECT_EQ(s16, -1);
    EXPECT_EQ(read_le16(in.get(), &u16), IO_OK);
    EXPECT_EQ(u16, 65535);
    EXPECT_EQ(read_le16(in.get(), &s16), IO_OK);
    EXPECT_EQ(s16, -2);
    EXPECT_EQ(read_be16(in.get(), &s16), IO_OK);
    EXPECT_EQ(s16, -2);
    std::int32_t s32 = 0;
    EXPECT_EQ(read_le32(in.get(), &s32), IO_OK);
    EXPECT_EQ(s32, INT32_MIN);
    EXPECT_EQ(read_be32(in.get(), &s32), IO_OK);
    EXPECT_EQ(s32, INT32_MIN);
}

TEST(StreamIo, FailedReaderLeavesOutputAndConsumesBytes) {
    struct row {
        std::size_t available;
        int width;
    };
    for (const row& r : {row{0, 8}, row{0, 16}, row{1, 16}, row{0, 32}, row{2, 32}, row{3, 32}, row{7, 64}}) {
        SCOPED_TRACE(testing::Message() << r.width << " bits with " << r.available << " bytes");
        const memory_stream in(bytes(r.available, 0xAB));
        io_result result = IO_OK;
        bool untouched = false;
        switch (r.width) {
            case 8: {
                std::uint8_t v = 0x5A;
                result = read_u8(in.get(), &v);
                untouched = v == 0x5A;
                break;
            }
            case 16: {
                std::uint16_t u = 0x5A5A;
                std::int16_t s = 0x5A5A;
                result = read_le16(in.get(), &u);
                std::rewind(in.get());
                EXPECT_EQ(read_be16(in.get(), &s), IO_ERROR);
                untouched = u == 0x5A5A && s == 0x5A5A;
                break;
            }
            case 32: {
                std::uint32_t u = 0x5A5A5A5A;
                std::int32_t s = 0x5A5A5A5A;
                result = read_le32(in.get(), &u);
                std::rewind(in.get());
                EXPECT_EQ(read_be32(in.get(), &s), IO_ERROR);
                untouched = u == 0x5A5A5A5A && s == 0x5A5A5A5A;
                break;
            }
            default: {
                double d = 2.5;
                result = read_le_double(in.get(), &d);
                untouched = d == 2.5;
                break;
            }
        }
        EXPECT_EQ(result, IO_ERROR);
        EXPECT_TRUE(untouched);
        std::int64_t position = -1;
        stream_tell(in.get(), &position);
        EXPECT_EQ(position, static_cast<std::int64_t>(r.available));
    }
}

TEST(StreamIo, WritersGiveExactBytes) {
    struct row {
        const char* name;
        io_result (*write)(std::FILE*);
        bytes expected;
    };
    const row rows[] = {
        {"le32", [](std::FILE* s) { return write_le32(s, 0x12345678); }, {0x78, 0x56, 0x34, 0x12}},
        {"be32", [](std::FILE* s) { return write_be32(s, 0x12345678); }, {0x12, 0x34, 0x56, 0x78}},
        {"le32 -1", [](std::FILE* s) { return write_le32(s, -1); }, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"be32 min", [](std::FILE* s) { return write_be32(s, INT32_MIN); }, {0x80, 0x00, 0x00, 0x00}},
        {"le16", [](std::FILE* s) { return write_le16(s, -2); }, {0xFE, 0xFF}},
        {"be16", [](std::FILE* s) { return write_be16(s, -2); }, {0xFF, 0xFE}},
        {"le16 0x1234", [](std::FILE* s) { return write_le16(s, 0x1234); }, {0x34, 0x12}},
        {"u8", [](std::FILE* s) { return write_u8(s, 200); }, {0xC8}},
        {"double 1.0", [](std::FILE* s) { return write_le_double(s, 1.0); }, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {"double -2.0",
         [](std::FILE* s) { return write_le_double(s, -2.0); },
         {0, 0, 0, 0, 0, 0, 0x00, 0xC0}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const written_bytes out;
        EXPECT_EQ(r.write(out.get()), IO_OK);
        EXPECT_EQ(out.contents(), r.expected);
    }
}

TEST(StreamIo, DoublesRoundTrip) {
    const memory_stream in({0, 0, 0, 0, 0, 0, 0xF0, 0x3F});
    double d = 0;
    EXPECT_EQ(read_le_double(in.get(), &d), IO_OK);
    EXPECT_EQ(d, 1.0);

    const written_bytes out;
    const double values[] = {0.0, -0.0, 3.141592653589793, 1e308, -4.9e-324};
    for (double v : values) EXPECT_EQ(write_le_double(out.get(), v), IO_OK);
    std::rewind(out.get());
    for (double v : values) {
        double back = 0;
        EXPECT_EQ(read_le_double(out.get(), &back), IO_OK);
        // The bits must come back, also where == could not tell them apart
        // (-0.0 from 0.0) or fails for equal bits (NaN).
        EXPECT_EQ(std::memcmp(&back, &v, sizeof v), 0);  // NOLINT(bugprone-suspicious-memory-comparison)
    }
}

TEST(StreamIo, HostProbeMatchesMemoryOrder) {
    const std::uint32_t probe = 1;
    std::uint8_t first = 0;
    std::memcpy(&first, &probe, 1);
    EXPECT_EQ(host_is_little_endian(), first == 1);
}

TEST(StreamIo, CloseOfCleanStreamIsOk) { EXPECT_EQ(stream_close(icon_test::temporary_stream()), IO_OK); }

}  // namespace
