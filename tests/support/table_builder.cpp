#include "table_builder.h"

#include <cstring>
#include <ctime>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace testing_support {

void stamp_today(TableLayout& layout) {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    layout.year = static_cast<uint8_t>(utc.tm_year);
    layout.month = static_cast<uint8_t>(utc.tm_mon + 1);
    layout.day = static_cast<uint8_t>(utc.tm_mday);
}

std::string le16(uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}
std::string be32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * (3 - i))) & 0xFF);
    return s;
}

std::string double_bytes(double value) {
    std::string bytes(8, '\0');
    std::memcpy(bytes.data(), &value, 8);
    return bytes;
}

unsigned field_width(const FieldLayout& field) {
    return field.length;
}

unsigned record_length(const TableLayout& layout) {
    unsigned length = 1;
    for (const FieldLayout& f : layout.fields) length += field_width(f);
    return length;
}

std::string make_record(const TableLayout& layout, const std::vector<std::string>& values, bool deleted) {
    std::string record(1, deleted ? '*' : ' ');
    for (size_t i = 0; i < layout.fields.size(); ++i) {
        const FieldLayout& f = layout.fields[i];
        unsigned width = field_width(f);
        std::string value = i < values.size() ? values[i] : std::string();
        if (value.size() > width) value.resize(width);
        bool right = f.type == 'N' || f.type == 'F';
        if (right)
            record += std::string(width - value.size(), ' ') + value;
        else
            record += value + std::string(width - value.size(), ' ');
    }
    return record;
}

std::string build_table(const TableLayout& layout) {
    const size_t header_size = layout.level7 ? 68 : 32;
    const size_t descriptor_size = layout.level7 ? 48 : 32;
    std::string header(header_size, '\0');
    header[0] = static_cast<char>(layout.version);
    header[1] = static_cast<char>(layout.year);
    header[2] = static_cast<char>(layout.month);
    header[3] = static_cast<char>(layout.day);
    uint32_t count = layout.header_record_count.value_or(static_cast<uint32_t>(layout.records.size()));
    header.replace(4, 4, le32(count));
    size_t header_length = header_size + layout.fields.size() * descriptor_size + 1 + layout.extra_header;
    header.replace(8, 2, le16(layout.header_length.value_or(static_cast<uint16_t>(header_length))));
    header.replace(10, 2, le16(layout.header_record_length.value_or(static_cast<uint16_t>(record_length(layout)))));
    header[29] = static_cast<char>(layout.code_page_mark);

    std::string descriptors;
    unsigned offset = 1;
    for (const FieldLayout& f : layout.fields) {
        std::string d(descriptor_size, '\0');
        unsigned width = field_width(f);
        uint8_t length_byte = static_cast<uint8_t>(width & 0xFF);
        uint8_t decimals_byte = static_cast<uint8_t>(f.type == 'C' && width > 255 ? (width >> 8) : f.decimals);
        if (layout.level7) {
            d.replace(0, std::min<size_t>(f.name.size(), 31), f.name.substr(0, 31));
            d[32] = f.type;
            d[33] = static_cast<char>(length_byte);
            d[34] = static_cast<char>(decimals_byte);
        } else {
            d.replace(0, std::min<size_t>(f.name.size(), 10), f.name.substr(0, 10));
            d[11] = f.type;
            d.replace(12, 4, le32(offset));
            d[16] = static_cast<char>(length_byte);
            d[17] = static_cast<char>(decimals_byte);
            d[18] = static_cast<char>(f.flags);
        }
        offset += width;
        descriptors += d;
    }
    std::string file = header + descriptors + '\x0D' + std::string(layout.extra_header, '\0');
    for (const std::string& r : layout.records) file += r;
    if (layout.end_marker) file += '\x1A';
    return file;
}

namespace {
uint32_t blocks_for(size_t length, size_t block_size) {
    return static_cast<uint32_t>((length + block_size - 1) / block_size);
}
void pad_to(std::string& file, size_t size) {
    if (file.size() < size) file.resize(size, '\0');
}
} // namespace

std::string build_dbase3_memo(const std::vector<std::string>& memos, std::vector<uint32_t>& blocks) {
    std::string file(512, '\0');
    uint32_t next = 1;
    blocks.clear();
    for (const std::string& memo : memos) {
        pad_to(file, next * 512);
        file.resize(next * 512);
        blocks.push_back(next);
        file += memo + "\x1A\x1A";  // dBase III ends a memo with two markers
        next += blocks_for(memo.size() + 2, 512);
    }
    pad_to(file, next * 512);
    file.replace(0, 4, le32(next));
    return file;
}

std::string build_dbase4_memo(const std::vector<std::string>& memos, std::vector<uint32_t>& blocks,
                              uint16_t block_size) {
    size_t area = std::max<size_t>(block_size, 512);
    std::string file(area, '\0');
    uint32_t next = static_cast<uint32_t>(area / block_size);
    file.replace(18, 2, le16(0x0102));
    file.replace(20, 2, le16(block_size));
    blocks.clear();
    for (const std::string& memo : memos) {
        file.resize(static_cast<size_t>(next) * block_size, '\0');
        blocks.push_back(next);
        file += std::string("\xFF\xFF\x08\x00", 4) + le32(static_cast<uint32_t>(memo.size() + 8)) + memo;
        next += blocks_for(memo.size() + 8, block_size);
    }
    pad_to(file, static_cast<size_t>(next) * block_size);
    file.replace(0, 4, le32(next));
    return file;
}

std::string build_foxpro_memo(const std::vector<std::string>& memos, std::vector<uint32_t>& blocks,
                              uint16_t block_size) {
    size_t area = std::max<size_t>(block_size, 512);
    std::string file(area, '\0');
    uint32_t next = static_cast<uint32_t>(area / block_size);
    file[6] = static_cast<char>(block_size >> 8);
    file[7] = static_cast<char>(block_size & 0xFF);
    blocks.clear();
    for (const std::string& memo : memos) {
        file.resize(static_cast<size_t>(next) * block_size, '\0');
        blocks.push_back(next);
        file += be32(1) + be32(static_cast<uint32_t>(memo.size())) + memo;
        next += blocks_for(memo.size() + 8, block_size);
    }
    pad_to(file, static_cast<size_t>(next) * block_size);
    file.replace(0, 4, be32(next));
    return file;
}

std::string build_smt_memo(const std::vector<std::string>& memos, std::vector<uint32_t>& blocks,
                           uint16_t block_size) {
    size_t area = std::max<size_t>(block_size, 512);
    std::string file(area, '\0');
    uint32_t next = static_cast<uint32_t>(area / block_size);
    file.replace(4, 2, le16(block_size));
    file.replace(6, 8, std::string("SIxMemo\0", 8));
    blocks.clear();
    for (const std::string& memo : memos) {
        file.resize(static_cast<size_t>(next) * block_size, '\0');
        blocks.push_back(next);
        file += memo;
        next += blocks_for(memo.size(), block_size);
    }
    pad_to(file, static_cast<size_t>(next) * block_size);
    file.replace(0, 4, le32(next));
    return file;
}

std::string write_foxpro_memo_table(const std::string& directory, unsigned name_width, const std::string& memo_field,
                                    const std::vector<std::string>& memos, const std::vector<MemoRecord>& records) {
    TableLayout layout;
    layout.version = 0xF5;
    layout.fields = {{"NAME", 'C', name_width}, {memo_field, 'M', 10}};
    std::vector<uint32_t> blocks;
    const std::string memo_file = build_foxpro_memo(memos, blocks);
    for (const MemoRecord& r : records) {
        const std::string reference = r.memo < 0 ? "" : memo_reference_text(blocks.at(static_cast<size_t>(r.memo)));
        layout.records.push_back(make_record(layout, {r.name, reference}, r.deleted));
    }
    std::ofstream(directory + "/t.dbf", std::ios::binary) << build_table(layout);
    std::ofstream(directory + "/t.fpt", std::ios::binary) << memo_file;
    return memo_file;
}

std::string memo_reference_text(uint32_t block, unsigned width) {
    std::string digits = std::to_string(block);
    if (digits.size() >= width) return digits.substr(0, width);
    return std::string(width - digits.size(), ' ') + digits;
}

} // namespace testing_support
