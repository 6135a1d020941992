// Test-side builder of table and memo files of every kind, and of damaged ones.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct FieldLayout {
    std::string name;
    char type = 'C';
    unsigned length = 10;  // for 'C' wider than 255, the high byte goes to decimals
    unsigned decimals = 0;
    uint8_t flags = 0;     // descriptor byte 18 (Visual FoxPro: 0x04 binary)
};

struct TableLayout {
    uint8_t version = 0x03;
    bool level7 = false;              // 68-byte header, 48-byte descriptors
    std::vector<FieldLayout> fields;
    std::vector<std::string> records; // whole records, mark byte included
    size_t extra_header = 0;          // bytes after the terminator (263 for Visual FoxPro)
    bool end_marker = true;           // 0x1A after the last record
    std::optional<uint32_t> header_record_count;   // default: records.size()
    std::optional<uint16_t> header_record_length;  // default: computed
    std::optional<uint16_t> header_length;         // default: computed
    uint8_t year = 116, month = 2, day = 29;
    uint8_t code_page_mark = 0;
};

// Sets the header date of a layout to today (UTC), as the program dates the
// tables it writes.
void stamp_today(TableLayout& layout);

// Record length of a table layout: 1 + the sum of widths.
unsigned record_length(const TableLayout& layout);
// Width of a field (16-bit for 'C').
unsigned field_width(const FieldLayout& field);

// A record from field values: 'C'-like fields left-aligned and space-padded,
// N/F right-aligned; other values are taken as raw bytes padded with spaces.
std::string make_record(const TableLayout& layout, const std::vector<std::string>& values, bool deleted = false);

// The bytes of the whole table file.
std::string build_table(const TableLayout& layout);

// Memo file images. Each returns the file bytes and fills `blocks` with the block
// number of every memo, in order.
std::string build_dbase3_memo(const std::vector<std::string>& memos, std::vector<uint32_t>& blocks);
std::string build_dbase4_memo(const std::vector<std::string>& memos, std::vector<uint32_t>& blocks,
                              uint16_t block_size = 512);
std::string build_foxpro_memo(const std::vector<std::string>& memos, std::vector<uint32_t>& blocks,
                              uint16_t block_size = 64);
std::string build_smt_memo(const std::vector<std::string>& memos, std::vector<uint32_t>& blocks,
                           uint16_t block_size = 32);

// One record of a FoxPro memo table: the name, the index of its memo (-1: none),
// the deletion mark.
struct MemoRecord {
    std::string name;
    int memo = -1;
    bool deleted = false;
};

// Writes `directory`/t.dbf, a FoxPro table (0xF5) of the fields NAME C(name_width)
// and `memo_field` M(10) holding `records`, and `directory`/t.fpt holding `memos`
// (64-byte blocks). Returns the memo file's bytes.
std::string write_foxpro_memo_table(const std::string& directory, unsigned name_width, const std::string& memo_field,
                                    const std::vector<std::string>& memos, const std::vector<MemoRecord>& records);

// Byte helpers.
std::string le16(uint16_t v);
std::string le32(uint32_t v);
std::string be32(uint32_t v);
// The eight bytes of a double as stored in a B field (little-endian on this machine).
std::string double_bytes(double value);
// A right-aligned decimal memo reference of width 10.
std::string memo_reference_text(uint32_t block, unsigned width = 10);

} // namespace testing_support
