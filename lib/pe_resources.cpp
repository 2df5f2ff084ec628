#include "pe_resources.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <tuple>
#include <utility>

io_result read_image_file_header(std::FILE* stream, IMAGE_FILE_HEADER& header) {
    io_result r = read_le16(stream, &header.Machine);
    if (r == IO_OK) r = read_le16(stream, &header.NumberOfSections);
    if (r == IO_OK) r = read_le32(stream, &header.TimeDateStamp);
    if (r == IO_OK) r = read_le32(stream, &header.PointerToSymbolTable);
    if (r == IO_OK) r = read_le32(stream, &header.NumberOfSymbols);
    if (r == IO_OK) r = read_le16(stream, &header.SizeOfOptionalHeader);
    if (r == IO_OK) r = read_le16(stream, &header.Characteristics);
    return r;
}

io_result read_image_data_directory(std::FILE* stream, IMAGE_DATA_DIRECTORY& directory) {
    io_result r = read_le32(stream, &directory.VirtualAddress);
    if (r == IO_OK) r = read_le32(stream, &directory.Size);
    return r;
}

io_result read_image_section_header(std::FILE* stream, IMAGE_SECTION_HEADER& section) {
    io_result r = IO_OK;
    for (std::uint8_t& letter : section.Name) {
        if (r == IO_OK) r = read_u8(stream, &letter);
    }
    if (r == IO_OK) r = read_le32(stream, &section.VirtualSize);
    if (r == IO_OK) r = read_le32(stream, &section.VirtualAddress);
    if (r == IO_OK) r = read_le32(stream, &section.SizeOfRawData);
    if (r == IO_OK) r = read_le32(stream, &section.PointerToRawData);
    if (r == IO_OK) r = read_le32(stream, &section.PointerToRelocations);
    if (r == IO_OK) r = read_le32(stream, &section.PointerToLinenumbers);
    if (r == IO_OK) r = read_le16(stream, &section.NumberOfRelocations);
    if (r == IO_OK) r = read_le16(stream, &section.NumberOfLinenumbers);
    if (r == IO_OK) r = read_le32(stream, &section.Characteristics);
    return r;
}

io_result read_resource_directory(std::FILE* stream, IMAGE_RESOURCE_DIRECTORY& directory) {
    io_result r = read_le32(stream, &directory.Characteristics);
    if (r == IO_OK) r = read_le32(stream, &directory.TimeDateStamp);
    if (r == IO_OK) r = read_le16(stream, &directory.MajorVersion);
    if (r == IO_OK) r = read_le16(stream, &directory.MinorVersion);
    if (r == IO_OK) r = read_le16(stream, &directory.NumberOfNamedEntries);
    if (r == IO_OK) r = read_le16(stream, &directory.NumberOfIdEntries);
    return r;
}

io_result read_resource_directory_entry(std::FILE* stream, IMAGE_RESOURCE_DIRECTORY_ENTRY& entry) {
    io_result r = read_le32(stream, &entry.Name);
    if (r == IO_OK) r = read_le32(stream, &entry.OffsetToData);
    return r;
}

io_result read_resource_data_entry(std::FILE* stream, IMAGE_RESOURCE_DATA_ENTRY& entry) {
    io_result r = read_le32(stream, &entry.OffsetToData);
    if (r == IO_OK) r = read_le32(stream, &entry.Size);
    if (r == IO_OK) r = read_le32(stream, &entry.CodePage);
    if (r == IO_OK) r = read_le32(stream, &entry.Reserved);
    return r;
}

io_result read_group_icon_dir_entry(std::FILE* stream, GRPICONDIRENTRY& entry) {
    io_result r = read_u8(stream, &entry.bWidth);
    if (r == IO_OK) r = read_u8(stream, &entry.bHeight);
    if (r == IO_OK) r = read_u8(stream, &entry.bColorCount);
    if (r == IO_OK) r = read_u8(stream, &entry.bReserved);
    if (r == IO_OK) r = read_le16(stream, &entry.wPlanes);
    if (r == IO_OK) r = read_le16(stream, &entry.wBitCount);
    if (r == IO_OK) r = read_le32(stream, &entry.dwBytesInRes);
    if (r == IO_OK) r = read_le16(stream, &entry.nID);
    return r;
}

std::int32_t resource_directory_offset(std::uint16_t magic) {
    // The data directories follow NumberOfRvaAndSizes; the resources' is the
    // third, 8 bytes each.
    if (magic == PE32_MAGIC) return 96 + 2 * 8;
    if (magic == PE32_PLUS_MAGIC) return 112 + 2 * 8;
    return -1;
}

std::uint32_t section_extent(const IMAGE_SECTION_HEADER& section) {
    if (section.VirtualSize == 0) return section.SizeOfRawData;
    return std::min(section.VirtualSize, section.SizeOfRawData);
}

rva_problem map_rva(const std::vector<IMAGE_SECTION_HEADER>& sections, std::uint32_t rva, std::uint32_t size,
                    std::int64_t file_size, std::int64_t& offset) {
    const std::uint64_t end = std::uint64_t{rva} + size;
    if (end > 0xFFFFFFFFu) return rva_problem::wraps;
    // The last section that starts at or below the address.
    const auto after = std::upper_bound(
        sections.begin(), sections.end(), rva,
        [](std::uint32_t address, const IMAGE_SECTION_HEADER& s) { return address < s.VirtualAddress; });
    if (after == sections.begin()) return rva_problem::no_section;
    const IMAGE_SECTION_HEADER& section = *std::prev(after);
    const std::uint32_t extent = section_extent(section);
    if (rva - section.VirtualAddress >= extent) return rva_problem::no_section;
    if (end > std::uint64_t{section.VirtualAddress} + extent) return rva_problem::past_section;
    const std::int64_t at = std::int64_t{section.PointerToRawData} + (rva - section.VirtualAddress);
    if (at + std::int64_t{size} > file_size) return rva_problem::past_file;
    offset = at;
    return rva_problem::none;
}

std::string utf8_of_utf16(const std::vector<std::uint16_t>& units) {
    std::string out;
    const auto put = [&out](std::uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    };
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t unit = units[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low_follows = i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
        if (high && low_follows) {
            put(0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00u));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            put(0xFFFD);
        } else {
            put(unit);
        }
    }
    return out;
}

std::string resource_name_text(const resource_name& name) {
    return name.text.empty() ? std::to_string(name.id) : name.text;
}

namespace {

// A resource as its data entry gives it; its bytes are located only when
// a group uses it.
struct resource_data {
    resource_name name;
    std::uint16_t language;
    std::uint32_t rva;
    std::uint32_t size;
};

// Longer names are refused; the tools that write resources make them far
// shorter.
constexpr std::uint16_t max_name_length = 256;

bool is_subdirectory(std::uint32_t field) { return (field & RESOURCE_SUBDIRECTORY) != 0; }
std::uint32_t offset_in_tree(std::uint32_t field) { return field & ~RESOURCE_SUBDIRECTORY; }

const char* type_name(std::uint16_t type) {
    switch (type) {
        case RT_CURSOR: return "cursor";
        case RT_ICON: return "icon";
        case RT_GROUP_CURSOR: return "cursor group";
        default: return "icon group";
    }
}

class pe_walk {
   public:
    pe_walk(std::FILE* stream, std::int64_t file_size, pe_report& report)
        : stream_(stream), file_size_(file_size), report_(report) {}

    void run() {
        if (!read_headers() || root_ == 0) return;
        walk_types();
        for (const std::uint16_t type : {RT_GROUP_ICON, RT_GROUP_CURSOR}) {
            for (const resource_data& group : groups_[type]) read_group(group, type == RT_GROUP_CURSOR);
        }
    }

   private:
    void error(std::vector<finding>& out, std::int32_t image, std::int64_t at, const char* id,
               std::string message) {
        add_finding(out, image, at, severity::error, id, std::move(message));
    }
    void file_error(std::int64_t at, const char* id, std::string message) {
        error(report_.findings, -1, at, id, std::move(message));
    }

    bool seek(std::int64_t offset) {
        return offset >= 0 && offset <= INT32_MAX &&
               stream_seek(stream_, SEEK_FROM_START, static_cast<std::int32_t>(offset)) == IO_OK;
    }

    // The file offset of `size` bytes at `rva`, positioned there; false
    // with an error in `out` when they are not all in the file.
    bool locate(std::uint64_t rva, std::uint32_t size, const char* what, std::vector<finding>& out,
                std::int32_t image, std::int64_t& offset) {
        const rva_problem problem =
            rva > 0xFFFFFFFFu ? rva_problem::wraps
                              : map_rva(sections_, static_cast<std::uint32_t>(rva), size, file_size_, offset);
        const auto bytes = static_cast<unsigned long>(size);
        const auto address = static_cast<unsigned long long>(rva);
        switch (problem) {
            case rva_problem::none:
                if (seek(offset)) return true;
                error(out, image, offset, "pe-read",
                      finding_text("can't read the %s at byte %lld", what, static_cast<long long>(offset)));
                return false;
            case rva_problem::wraps:
                error(out, image, -1, "pe-overflow",
                      finding_text("the %s of %lu bytes at RVA 0x%08llX runs past 4 GiB", what, bytes,
                                   address));
                return false;
            case rva_problem::no_section:
                error(out, image, -1, "pe-no-section",
                      finding_text("the %s at RVA 0x%08llX lies in no section", what, address));
                return false;
            case rva_problem::past_section:
                error(out, image, -1, "pe-past-section",
                      finding_text("the %s of %lu bytes at RVA 0x%08llX runs past the end of its section",
                                   what, bytes, address));
                return false;
            case rva_problem::past_file:
                error(out, image, file_size_, "pe-past-end",
                      finding_text(
                          "the %s of %lu bytes at RVA 0x%08llX lies past the end of the %lld-byte file", what,
                          bytes, address, static_cast<long long>(file_size_)));
                return false;
        }
        return false;
    }

    bool read_headers() {
        if (file_size_ < PE_DOS_HEADER_SIZE) {
            file_error(file_size_, "pe-truncated",
                       finding_text("the file is %lld bytes, too short for the 64-byte MS-DOS header",
                                    static_cast<long long>(file_size_)));
            return false;
        }
        std::uint32_t lfanew = 0;
        if (!seek(PE_LFANEW_OFFSET) || read_le32(stream_, &lfanew) != IO_OK)
            return read_failed(PE_LFANEW_OFFSET);
        if (std::int64_t{lfanew} + 4 > file_size_) {
            file_error(PE_LFANEW_OFFSET, "pe-header",
                       finding_text("e_lfanew is %lu, past the end of the %lld-byte file: an MS-DOS program, "
                                    "not a 32- or 64-bit Windows file",
                                    static_cast<unsigned long>(lfanew), static_cast<long long>(file_size_)));
            return false;
        }
        std::uint8_t signature[4] = {};
        std::int32_t count = sizeof signature;
        if (!seek(lfanew) || stream_read(stream_, &count, signature) != IO_OK) return read_failed(lfanew);
        if (std::memcmp(signature, "PE\0\0", 4) != 0) {
            if (signature[0] == 'N' && signature[1] == 'E') {
                file_error(lfanew, "pe-ne-file",
                           "a 16-bit Windows (NE) file: only 32- and 64-bit (PE) files are read");
            } else {
                file_error(lfanew, "pe-header",
                           finding_text("no PE header at byte %lu: an MS-DOS program, not a 32- or 64-bit "
                                        "Windows file",
                                        static_cast<unsigned long>(lfanew)));
            }
            return false;
        }
        IMAGE_FILE_HEADER header{};
        const std::int64_t optional_at = std::int64_t{lfanew} + 4 + IMAGE_FILE_HEADER_SIZE;
        std::uint16_t magic = 0;
        if (optional_at + 2 > file_size_ || read_image_file_header(stream_, header) != IO_OK ||
            read_le16(stream_, &magic) != IO_OK) {
            return truncated_at("the PE header");
        }
        const std::int32_t directory_at = resource_directory_offset(magic);
        if (directory_at < 0) {
            file_error(
                optional_at, "pe-header",
                finding_text("the optional header's Magic is 0x%04X, neither PE32 (0x10B) nor PE32+ (0x20B)",
                             unsigned{magic}));
            return false;
        }
        const std::int64_t sections_at = optional_at + header.SizeOfOptionalHeader;
        const std::int64_t sections_end =
            sections_at + std::int64_t{IMAGE_SECTION_HEADER_SIZE} * header.NumberOfSections;
        if (sections_end > file_size_) {
            file_error(
                sections_at, "pe-truncated",
                finding_text("the optional header and the table of %u sections run past the end of the "
                             "%lld-byte file",
                             unsigned{header.NumberOfSections}, static_cast<long long>(file_size_)));
            return false;
        }
        // Without room for the resources' entry, or fewer entries, there are none.
        // NumberOfRvaAndSizes comes before the first two data directories.
        const std::int32_t count_at = directory_at - 2 * 8 - 4;
        std::uint32_t entries = 0;
        IMAGE_DATA_DIRECTORY resources{};
        if (header.SizeOfOptionalHeader >= directory_at + 8) {
            if (!seek(optional_at + count_at) || read_le32(stream_, &entries) != IO_OK ||
                !seek(optional_at + directory_at) || read_image_data_directory(stream_, resources) != IO_OK)
                return read_failed(optional_at);
        }
        sections_.resize(header.NumberOfSections);
        if (!seek(sections_at)) return read_failed(sections_at);
        for (IMAGE_SECTION_HEADER& section : sections_) {
            if (read_image_section_header(stream_, section) != IO_OK) return read_failed(sections_at);
        }
        // In address order, for map_rva; a loader wants them so already.
        std::stable_sort(sections_.begin(), sections_.end(),
                         [](const IMAGE_SECTION_HEADER& a, const IMAGE_SECTION_HEADER& b) {
                             return a.VirtualAddress < b.VirtualAddress;
                         });
        if (entries > 2 && resources.Size != 0) root_ = resources.VirtualAddress;
        return true;
    }

    bool read_failed(std::int64_t at) {
        file_error(at, "pe-read",
                   finding_text("can't read the file at byte %lld", static_cast<long long>(at)));
        return false;
    }

    bool truncated_at(const char* what) {
        file_error(
            file_size_, "pe-truncated",
            finding_text("the file ends at byte %lld, inside %s", static_cast<long long>(file_size_), what));
        return false;
    }

    // The entries of the directory at `offset` in the tree; false, with an
    // error, when it cannot be read or has been read before.
    bool read_directory(std::uint32_t offset, std::vector<IMAGE_RESOURCE_DIRECTORY_ENTRY>& entries) {
        if (!visited_.insert(offset).second) {
            file_error(
                -1, "pe-resource-loop",
                finding_text("the resource directory at offset %lu of the tree is reached a second time",
                             static_cast<unsigned long>(offset)));
            return false;
        }
        std::int64_t at = 0;
        IMAGE_RESOURCE_DIRECTORY directory{};
        if (!locate(std::uint64_t{root_} + offset, IMAGE_RESOURCE_DIRECTORY_SIZE, "resource directory",
                    report_.findings, -1, at) ||
            read_resource_directory(stream_, directory) != IO_OK)
            return false;
        const std::uint32_t count =
            std::uint32_t{directory.NumberOfNamedEntries} + directory.NumberOfIdEntries;
        if (!locate(std::uint64_t{root_} + offset, IMAGE_RESOURCE_DIRECTORY_SIZE + 8 * count,
                    "resource directory", report_.findings, -1, at) ||
            !seek(at + IMAGE_RESOURCE_DIRECTORY_SIZE))
            return false;
        entries.resize(count);
        for (IMAGE_RESOURCE_DIRECTORY_ENTRY& entry : entries) {
            if (read_resource_directory_entry(stream_, entry) != IO_OK) return read_failed(at);
        }
        return true;
    }

    bool read_name(std::uint32_t field, resource_name& name) {
        if (!is_subdirectory(field)) {
            name.id = static_cast<std::uint16_t>(field & 0xFFFFu);
            return true;
        }
        const std::uint64_t rva = std::uint64_t{root_} + offset_in_tree(field);
        std::int64_t at = 0;
        std::uint16_t length = 0;
        if (!locate(rva, 2, "resource name", report_.findings, -1, at) ||
            read_le16(stream_, &length) != IO_OK)
            return false;
        // Entries may share a name; a short one keeps that work small.
        if (length > max_name_length) {
            file_error(at, "pe-name-long",
                       finding_text("the resource name at RVA 0x%08llX is %u characters long, more than 256",
                                    static_cast<unsigned long long>(rva), unsigned{length}));
            return false;
        }
        if (!locate(rva, 2 + 2u * length, "resource name", report_.findings, -1, at) || !seek(at + 2))
            return false;
        std::vector<std::uint16_t> units(length);
        for (std::uint16_t& unit : units) {
            if (read_le16(stream_, &unit) != IO_OK) return read_failed(at);
        }
        name.text = utf8_of_utf16(units);
        // An empty name would read as the id 0.
        if (name.text.empty()) name.text = "\"\"";
        return true;
    }

    void walk_types() {
        std::vector<IMAGE_RESOURCE_DIRECTORY_ENTRY> types;
        if (!read_directory(0, types)) return;
        for (const IMAGE_RESOURCE_DIRECTORY_ENTRY& type : types) {
            if (is_subdirectory(type.Name)) continue;  // named types are none of these
            const auto id = static_cast<std::uint16_t>(type.Name & 0xFFFFu);
            if (type.Name > 0xFFFFu ||
                (id != RT_CURSOR && id != RT_ICON && id != RT_GROUP_CURSOR && id != RT_GROUP_ICON))
                continue;
            if (!is_subdirectory(type.OffsetToData)) {
                file_error(-1, "pe-resource-tree",
                           finding_text("the resources of type %u (%ss) are data, not a directory of names",
                                        unsigned{id}, type_name(id)));
                continue;
            }
            walk_names(id, offset_in_tree(type.OffsetToData));
        }
    }

    void walk_names(std::uint16_t type, std::uint32_t offset) {
        std::vector<IMAGE_RESOURCE_DIRECTORY_ENTRY> names;
        if (!read_directory(offset, names)) return;
        // Entries are told by their place: a name may hold any character.
        for (std::size_t k = 0; k < names.size(); ++k) {
            const IMAGE_RESOURCE_DIRECTORY_ENTRY& entry = names[k];
            resource_name name;
            if (!read_name(entry.Name, name)) continue;
            if (!is_subdirectory(entry.OffsetToData)) {
                file_error(
                    -1, "pe-resource-tree",
                    finding_text("entry %lu of the resources of type %u (%ss) is data, not a directory "
                                 "of languages",
                                 static_cast<unsigned long>(k), unsigned{type}, type_name(type)));
                continue;
            }
            std::vector<IMAGE_RESOURCE_DIRECTORY_ENTRY> languages;
            if (!read_directory(offset_in_tree(entry.OffsetToData), languages)) continue;
            for (const IMAGE_RESOURCE_DIRECTORY_ENTRY& language : languages) {
                add_resource(type, name, k, language);
            }
        }
    }

    void add_resource(std::uint16_t type, const resource_name& name, std::size_t place,
                      const IMAGE_RESOURCE_DIRECTORY_ENTRY& entry) {
        if (is_subdirectory(entry.OffsetToData)) {
            file_error(
                -1, "pe-resource-tree",
                finding_text("entry %lu of the resources of type %u (%ss) has a fourth level where its "
                             "data should be",
                             static_cast<unsigned long>(place), unsigned{type}, type_name(type)));
            return;
        }
        std::int64_t at = 0;
        IMAGE_RESOURCE_DATA_ENTRY data{};
        if (!locate(std::uint64_t{root_} + entry.OffsetToData, IMAGE_RESOURCE_DATA_ENTRY_SIZE,
                    "resource data entry", report_.findings, -1, at) ||
            read_resource_data_entry(stream_, data) != IO_OK)
            return;
        const auto language = static_cast<std::uint16_t>(entry.Name & 0xFFFFu);
        const resource_data found{name, language, data.OffsetToData, data.Size};
        if (type == RT_GROUP_ICON || type == RT_GROUP_CURSOR) {
            groups_[type].push_back(found);
        } else if (name.text.empty()) {
            // Groups name their images by id; a named image is never one of them.
            const std::size_t index = images_.size();
            if (image_by_language_.try_emplace({type, name.id, language}, index).second) {
                images_.push_back(found);
                first_image_.try_emplace({type, name.id}, index);
            }
        }
    }

    // Takes the `size` bytes at `offset` for one group or image; false when
    // any of them is taken already.
    bool claim(std::int64_t offset, std::uint32_t size) {
        const std::int64_t end = offset + size;
        const auto next = claimed_.lower_bound(offset);
        if (next != claimed_.end() && next->first < end) return false;
        if (next != claimed_.begin() && std::prev(next)->second > offset) return false;
        claimed_.emplace(offset, end);
        return true;
    }

    // The image resource that a group entry names: the one in the group's
    // language, else the first in the tree; images_.size() when none.
    std::size_t find_image(std::uint16_t type, std::uint16_t id, std::uint16_t language) const {
        const auto same = image_by_language_.find({type, id, language});
        if (same != image_by_language_.end()) return same->second;
        const auto first = first_image_.find({type, id});
        return first != first_image_.end() ? first->second : images_.size();
    }

    void read_group(const resource_data& data, bool cursor) {
        resource_group& group = report_.groups.emplace_back();
        group.name = data.name;
        group.language = data.language;
        group.cursor = cursor;
        std::vector<finding>& out = group.findings;
        std::int64_t at = 0;
        if (!locate(data.rva, data.size, "group", out, -1, at)) return;
        ICONDIR header{};
        if (data.size < ICONDIR_SIZE || read_icon_dir(stream_, header) != IO_OK) {
            error(out, -1, at, "pe-group-truncated",
                  finding_text("the group's resource holds %lu bytes, too few for its 6-byte header",
                               static_cast<unsigned long>(data.size)));
            return;
        }
        if (!claim(at, data.size)) {
            error(out, -1, at, "pe-shared",
                  finding_text("the group's bytes at RVA 0x%08lX are also another group's or image's",
                               static_cast<unsigned long>(data.rva)));
            return;
        }
        const std::int64_t needed = ICONDIR_SIZE + std::int64_t{GRPICONDIRENTRY_SIZE} * header.idCount;
        if (needed > data.size) {
            error(out, -1, at, "pe-group-truncated",
                  finding_text("the group's %u entries need %lld bytes, but its resource holds %lu",
                               unsigned{header.idCount}, static_cast<long long>(needed),
                               static_cast<unsigned long>(data.size)));
            return;
        }
        if (header.idCount == 0) {
            add_finding(out, -1, at, severity::warning, "pe-group-empty", "the group holds no images");
            return;
        }
        std::vector<GRPICONDIRENTRY> entries(header.idCount);
        for (GRPICONDIRENTRY& entry : entries) {
            if (read_group_icon_dir_entry(stream_, entry) != IO_OK) {
                read_failed(at);
                return;
            }
        }
        std::int64_t total = ICONDIR_SIZE + std::int64_t{ICONDIRENTRY_SIZE} * header.idCount;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::int64_t entry_at =
                at + ICONDIR_SIZE + std::int64_t{GRPICONDIRENTRY_SIZE} * static_cast<std::int64_t>(i);
            group_image image;
            if (!read_group_image(entries[i], static_cast<std::int32_t>(i), entry_at, group, image)) return;
            total += image.size;
            if (total > INT32_MAX) {
                error(out, -1, -1, "pe-group-too-large", "the group's images add up to more than 2 GiB");
                return;
            }
            group.images.push_back(image);
        }
    }

    // One entry's image; false, with an error, when it can't be had. The
    // first error ends the group, so the work stays within its bytes.
    bool read_group_image(const GRPICONDIRENTRY& entry, std::int32_t index, std::int64_t entry_at,
                          resource_group& group, group_image& image) {
        std::vector<finding>& out = group.findings;
        const std::uint16_t type = group.cursor ? RT_CURSOR : RT_ICON;
        const char* const what = type_name(type);
        const std::size_t found = find_image(type, entry.nID, group.language);
        if (found == images_.size()) {
            error(out, index, entry_at + 12, "pe-group-missing",
                  finding_text("the entry names %s %u, which the file does not hold", what,
                               unsigned{entry.nID}));
            return false;
        }
        const resource_data* const data = &images_[found];
        std::int64_t at = 0;
        if (!locate(data->rva, data->size, what, out, index, at)) return false;
        if (data->size > 0 && !claim(at, data->size)) {
            error(
                out, index, at, "pe-shared",
                finding_text("%s %u's bytes are also another image's or group's", what, unsigned{entry.nID}));
            return false;
        }
        const std::uint32_t hotspot = group.cursor ? CURSOR_HOTSPOT_SIZE : 0;
        if (data->size < hotspot) {
            error(out, index, at, "pe-cursor-short",
                  finding_text("cursor %u holds %lu bytes, too few for its 4-byte hotspot",
                               unsigned{entry.nID}, static_cast<unsigned long>(data->size)));
            return false;
        }
        if (data->size == hotspot) {
            error(out, index, at, "pe-image-empty",
                  finding_text("%s %u holds no image", what, unsigned{entry.nID}));
            return false;
        }
        if (data->size - hotspot > INT32_MAX) {
            error(out, -1, -1, "pe-group-too-large", "the group's images add up to more than 2 GiB");
            return false;
        }
        if (group.cursor && (read_le16(stream_, &image.hotspot_x) != IO_OK ||
                             read_le16(stream_, &image.hotspot_y) != IO_OK)) {
            return read_failed(at);
        }
        if (static_cast<std::uint32_t>(entry.dwBytesInRes) != data->size) {
            add_finding(out, index, entry_at + 8, severity::warning, "pe-group-size",
                        finding_text("dwBytesInRes is %ld, but %s %u holds %lu bytes, which are taken",
                                     static_cast<long>(entry.dwBytesInRes), what, unsigned{entry.nID},
                                     static_cast<unsigned long>(data->size)));
        }
        image.entry = entry;
        image.entry.dwBytesInRes = static_cast<std::int32_t>(data->size);
        image.offset = at + hotspot;
        image.size = static_cast<std::int32_t>(data->size - hotspot);
        return true;
    }

    std::FILE* stream_;
    std::int64_t file_size_;
    pe_report& report_;
    std::vector<IMAGE_SECTION_HEADER> sections_;
    std::uint32_t root_ = 0;  // the tree's RVA; 0: no resources
    std::set<std::uint32_t> visited_;
    std::map<std::uint16_t, std::vector<resource_data>> groups_;
    // The images (RT_ICON, RT_CURSOR) in the tree's order, and their places
    // there by type, id and language, and by type and id.
    std::vector<resource_data> images_;
    std::map<std::tuple<std::uint16_t, std::uint16_t, std::uint16_t>, std::size_t> image_by_language_;
    std::map<std::pair<std::uint16_t, std::uint16_t>, std::size_t> first_image_;
    // The file's bytes that groups and images have taken, start to end: no
    // two may share any, so all that is written adds up to the file at most.
    std::map<std::int64_t, std::int64_t> claimed_;
};

}  // namespace

void read_pe_resources(std::FILE* stream, std::int64_t file_size, pe_report& report) {
    pe_walk(stream, file_size, report).run();
}
