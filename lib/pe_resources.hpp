// The icons and cursors that a PE file (a Windows program or library,
// 32- or 64-bit: .exe, .dll, .icl) carries among its resources.
//
// Layout on disk, every multi-byte field least significant byte first,
// offsets from the start of the file:
//
//   0                  MS-DOS header, 64 bytes: "MZ" at 0, e_lfanew (32 bits,
//                      where the PE header starts) at 60
//   e_lfanew           "PE\0\0"
//   e_lfanew + 4       IMAGE_FILE_HEADER, 20 bytes
//   e_lfanew + 24      the optional header, SizeOfOptionalHeader bytes: Magic
//                      (16 bits) 0x10B for PE32 or 0x20B for PE32+; the count
//                      NumberOfRvaAndSizes at 92 (PE32) or 108 (PE32+), then
//                      that many IMAGE_DATA_DIRECTORY, the third (index 2)
//                      the resources'
//   after it           NumberOfSections IMAGE_SECTION_HEADER, 40 bytes each
//
// The data directories and the resources give relative virtual addresses
// (RVAs), where bytes lie once the file is loaded. The section that holds
// an RVA maps it to the file: VirtualAddress + k is file byte
// PointerToRawData + k, for k below the smaller of SizeOfRawData and
// VirtualSize (SizeOfRawData alone when VirtualSize is 0); past that the
// section holds no bytes of the file.
//
// The resources form a tree of three levels, type, name and language, whose
// root lies at the resource directory's RVA. Each level is an
// IMAGE_RESOURCE_DIRECTORY (16 bytes) followed by NumberOfNamedEntries +
// NumberOfIdEntries IMAGE_RESOURCE_DIRECTORY_ENTRY (8 bytes), whose fields
// are offsets from the root when their bit 31 is set:
//   Name          set: a name there, a 16-bit count of UTF-16 units and the
//                 units; clear: an id in the low 16 bits
//   OffsetToData  set: the next level's directory there; clear: an
//                 IMAGE_RESOURCE_DATA_ENTRY (16 bytes) there, whose
//                 OffsetToData is the RVA of the resource's Size bytes
//
// An icon group (type RT_GROUP_ICON) holds a 6-byte header laid out as
// ICONDIR, then idCount GRPICONDIRENTRY of 14 bytes: the first 12 bytes of
// an ICONDIRENTRY and nID, the id of the RT_ICON resource that holds the
// image. A cursor group (RT_GROUP_CURSOR) has the same layout, but its
// entries start with wWidth and wHeight (16 bits each, the height doubled
// for a bitmap's mask) where an icon's have width, height, colour count and
// reserved; its RT_CURSOR resources start with the hotspot (x, then y, 16
// bits each) before the image.
//
// The records hold exactly the fields read, in file order. Like the ICO
// records, their readers move one field at a time through the field codecs,
// never position the stream and validate nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "icon_records.hpp"
#include "image_checks.hpp"
#include "stream_io.hpp"

inline constexpr std::int32_t PE_DOS_HEADER_SIZE = 64;
inline constexpr std::int32_t PE_LFANEW_OFFSET = 60;
inline constexpr std::int32_t IMAGE_FILE_HEADER_SIZE = 20;
inline constexpr std::int32_t IMAGE_SECTION_HEADER_SIZE = 40;
inline constexpr std::int32_t IMAGE_RESOURCE_DIRECTORY_SIZE = 16;
inline constexpr std::int32_t IMAGE_RESOURCE_DIRECTORY_ENTRY_SIZE = 8;
inline constexpr std::int32_t IMAGE_RESOURCE_DATA_ENTRY_SIZE = 16;
inline constexpr std::int32_t GRPICONDIRENTRY_SIZE = 14;
inline constexpr std::int32_t CURSOR_HOTSPOT_SIZE = 4;
inline constexpr std::uint16_t PE32_MAGIC = 0x10B;
inline constexpr std::uint16_t PE32_PLUS_MAGIC = 0x20B;
inline constexpr std::uint32_t RESOURCE_SUBDIRECTORY = 0x80000000u;

// The resource types read here.
inline constexpr std::uint16_t RT_CURSOR = 1;
inline constexpr std::uint16_t RT_ICON = 3;
inline constexpr std::uint16_t RT_GROUP_CURSOR = 12;
inline constexpr std::uint16_t RT_GROUP_ICON = 14;

struct IMAGE_FILE_HEADER {
    std::uint16_t Machine;
    std::uint16_t NumberOfSections;
    std::uint32_t TimeDateStamp;
    std::uint32_t PointerToSymbolTable;
    std::uint32_t NumberOfSymbols;
    std::uint16_t SizeOfOptionalHeader;
    std::uint16_t Characteristics;
};

struct IMAGE_DATA_DIRECTORY {
    std::uint32_t VirtualAddress;
    std::uint32_t Size;
};

struct IMAGE_SECTION_HEADER {
    std::uint8_t Name[8];
    std::uint32_t VirtualSize;
    std::uint32_t VirtualAddress;
    std::uint32_t SizeOfRawData;
    std::uint32_t PointerToRawData;
    std::uint32_t PointerToRelocations;
    std::uint32_t PointerToLinenumbers;
    std::uint16_t NumberOfRelocations;
    std::uint16_t NumberOfLinenumbers;
    std::uint32_t Characteristics;
};

struct IMAGE_RESOURCE_DIRECTORY {
    std::uint32_t Characteristics;
    std::uint32_t TimeDateStamp;
    std::uint16_t MajorVersion;
    std::uint16_t MinorVersion;
    std::uint16_t NumberOfNamedEntries;
    std::uint16_t NumberOfIdEntries;
};

struct IMAGE_RESOURCE_DIRECTORY_ENTRY {
    std::uint32_t Name;
    std::uint32_t OffsetToData;
};

struct IMAGE_RESOURCE_DATA_ENTRY {
    std::uint32_t OffsetToData;
    std::uint32_t Size;
    std::uint32_t CodePage;
    std::uint32_t Reserved;
};

struct GRPICONDIRENTRY {
    std::uint8_t bWidth;
    std::uint8_t bHeight;
    std::uint8_t bColorCount;
    std::uint8_t bReserved;
    std::uint16_t wPlanes;
    std::uint16_t wBitCount;
    std::int32_t dwBytesInRes;
    std::uint16_t nID;
};

io_result read_image_file_header(std::FILE* stream, IMAGE_FILE_HEADER& header);
io_result read_image_data_directory(std::FILE* stream, IMAGE_DATA_DIRECTORY& directory);
io_result read_image_section_header(std::FILE* stream, IMAGE_SECTION_HEADER& section);
io_result read_resource_directory(std::FILE* stream, IMAGE_RESOURCE_DIRECTORY& directory);
io_result read_resource_directory_entry(std::FILE* stream, IMAGE_RESOURCE_DIRECTORY_ENTRY& entry);
io_result read_resource_data_entry(std::FILE* stream, IMAGE_RESOURCE_DATA_ENTRY& entry);
io_result read_group_icon_dir_entry(std::FILE* stream, GRPICONDIRENTRY& entry);

// Where the resources' IMAGE_DATA_DIRECTORY lies in an optional header
// with this Magic: 112 for PE32, 128 for PE32+; -1 for any other Magic.
std::int32_t resource_directory_offset(std::uint16_t magic);

// The bytes of the file a section maps: the smaller of SizeOfRawData and
// VirtualSize, or SizeOfRawData when VirtualSize is 0.
std::uint32_t section_extent(const IMAGE_SECTION_HEADER& section);

// Why `size` bytes at `rva` are not all in the file, if they are not.
enum class rva_problem {
    none,
    wraps,         // rva + size passes 4 GiB
    no_section,    // no section maps the rva (sections may leave gaps)
    past_section,  // the bytes run past the end of the section that maps their first
    past_file,     // the section places them past the end of the file
};

// Maps `size` bytes at `rva` through the section that starts last at or
// below `rva`, of `sections` in ascending order of VirtualAddress (a
// binary search: the work does not grow with a table of many sections);
// sets `offset` to where they lie in a file of `file_size` bytes when the
// answer is none.
rva_problem map_rva(const std::vector<IMAGE_SECTION_HEADER>& sections, std::uint32_t rva, std::uint32_t size,
                    std::int64_t file_size, std::int64_t& offset);

// UTF-16 units as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf8_of_utf16(const std::vector<std::uint16_t>& units);

// A resource's name: a string, or a 16-bit id when the string is empty.
struct resource_name {
    std::uint16_t id = 0;
    std::string text;  // UTF-8
};

// The name as people write it: the string, or the id in decimal.
std::string resource_name_text(const resource_name& name);

// One image of a group, as its group entry and its resource give it.
struct group_image {
    GRPICONDIRENTRY entry{};      // dwBytesInRes: the resource's size, whatever the group said
    std::int64_t offset = 0;      // of the image in the file, after a cursor's hotspot
    std::int32_t size = 0;        // of the image, without a cursor's hotspot
    std::uint16_t hotspot_x = 0;  // cursors
    std::uint16_t hotspot_y = 0;
};

struct resource_group {
    resource_name name;
    std::uint16_t language = 0;
    bool cursor = false;  // RT_GROUP_CURSOR rather than RT_GROUP_ICON
    std::vector<group_image> images;
    // About the group (image -1) or one of its entries (image: its index);
    // any error leaves `images` incomplete.
    std::vector<finding> findings;
};

struct pe_report {
    std::vector<finding> findings;       // about the file as a whole
    std::vector<resource_group> groups;  // icon groups, then cursor groups, each in the tree's order
};

// Walks the resources of the PE file that `stream` holds from its start,
// `file_size` bytes (at most 2^31 - 1), and answers its icon and cursor
// groups with their images. Every problem is a finding; an error in the
// headers or the tree ends the walk or leaves out the branch it is in.
// The work is bounded by the file: every directory of the tree is read at
// most once (one reached again is an error), names are at most 256
// characters, every range is checked against its section and the file
// before it is read, and no two groups or images may share a byte of the
// file, so the images of all groups add up to the file's size at most.
void read_pe_resources(std::FILE* stream, std::int64_t file_size, pe_report& report);
