// The open table: file, header image, field table, record and text buffers, the
// record view, per-table options and the hook slots that see every record passing.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/code_pages.h"
#include "platform/file.h"
#include "table/dbf_format.h"
#include "table/order_list.h"

namespace rorarodi {

struct DbfTable;

// One field as the engine keeps it (the level 7 descriptor shape). For a 'C' field
// `length` and `decimals` together form the 16-bit width.
struct FieldDescriptor {
    std::string name;  // at most 10 (standard) or 31 (level 7) characters
    char type = 0;
    uint8_t length = 0;
    uint8_t decimals = 0;
    uint16_t offset = 0;  // position within the record
    uint8_t carried = 0;  // byte 20 of a standard descriptor, written back on creation
    uint8_t flags = 0;    // byte 18 of a standard descriptor (Visual FoxPro field flags)
    // Bytes 19..31 of a standard descriptor as read (a Visual FoxPro autoincrement
    // field keeps its next value and step in bytes 19..23; byte 20 is `carried`).
    std::array<uint8_t, 13> standard_tail{};
    std::array<uint8_t, 11> level7_tail{};  // bytes 37..47 of a level 7 descriptor
    // The bits of the Visual FoxPro null-flags field that belong to this field
    // (-1 for none): the one set for a null value, and, for V and Q, the one set
    // for a value shorter than the width, whose length is then the last byte.
    int16_t null_bit = -1;
    int16_t length_bit = -1;
};

struct CompiledFilter;

// The filter state: accumulated condition text and the current view, and the text
// as the filter code last compiled it.
struct RecordFilter {
    std::optional<std::string> filter_text;
    std::optional<std::vector<uint32_t>> view_list;
    std::shared_ptr<CompiledFilter> compiled;
};

using TableHook = void (*)(DbfTable& table);
using MarkHook = void (*)(DbfTable& table, uint8_t& mark);
using ConversionHook = std::function<void(unsigned char* text, size_t length)>;
using UpperCaseHook = std::function<void(unsigned char* text)>;

// Bits of `header_problems`.
constexpr int kDamagedVersion = 1;
constexpr int kUnknownFieldTypes = 2;
constexpr int kRecordCountMismatch = 4;

// Format texts of the date modes 1 to 4 (index 0 unused): day, month and year in the
// order of the mode, and the time of day after them.
inline const std::array<std::string, 5> kDefaultDateFormats = {"", "%02d.%02d.%04d", "%02d.%02d.%04d",
                                                              "%04d.%02d.%02d", "%04d%02d%02d"};
inline const std::array<std::string, 5> kDefaultDateTimeFormats = {
    "", "%02d.%02d.%04d %02d:%02d:%02d", "%02d.%02d.%04d %02d:%02d:%02d", "%04d.%02d.%02d %02d:%02d:%02d",
    "%04d%02d%02d%02d%02d%02d"};

// How dates and date-times show (/DATE): as stored, in one of three orders of day,
// month and year with separators, or compact (digits only, for keys and substitution).
enum class DateMode : int { as_stored = 0, day_month_year = 1, month_day_year = 2, year_month_day = 3, compact = 4 };

// Which spaces the text form of a character field loses (/TRIM).
enum class TrimMode : int { none = 0, right = 1, left = 2, both = 3 };
constexpr bool trims_right(TrimMode mode) { return mode == TrimMode::right || mode == TrimMode::both; }
constexpr bool trims_left(TrimMode mode) { return mode == TrimMode::left || mode == TrimMode::both; }

// How record exports lay out a record: one line per record (/BROWSE) or one line
// per field (/FIELDS).
enum class FieldLayout : int { browse = 0, fields = 1 };

// The options that shape the text form of a field: two tables alike in these show
// equal field bytes as equal texts.
struct TextFormOptions {
    DateMode date_mode = DateMode::as_stored;
    std::array<std::string, 5> date_formats = kDefaultDateFormats;          // by date mode, 1..4
    std::array<std::string, 5> datetime_formats = kDefaultDateTimeFormats;  // by date mode, 1..4
    TrimMode trim_mode = TrimMode::none;
    bool operator==(const TextFormOptions&) const = default;
};

// The options a table carries: set by parameters for each file, starting from
// their defaults, and copied from one table to another as a whole. The hooks make
// them incomparable as a whole; text_form() is the part that compares.
struct TableOptions : TextFormOptions {
    const TextFormOptions& text_form() const { return *this; }
    bool operator==(const TableOptions&) const = delete;

    int new_memo_block_size = 128;
    bool ansi = false;
    bool case_insensitive = false;
    bool descending = false;
    FieldLayout field_layout = FieldLayout::browse;
    bool hide_deleted = false;
    bool backup_option = false;

    // Conversion hooks (installed by the run loop from the translation tables).
    ConversionHook to_oem_hook;
    ConversionHook from_oem_hook;
    UpperCaseHook upper_case_hook;

    // Run settings the session keeps in every open table, so that the field
    // texts, conditions and keys of this table follow them: the code-page pair,
    // the two quote characters of expression texts (0 when /IGNOREQUOTES), and
    // whether field lists are typed in UTF-8 (/UTF8).
    CodePagePair code_pages;
    std::array<char, 2> expression_quotes{'"', '\''};
    bool utf8_field_names = false;
};

constexpr size_t kTextBufferSize = 65536;
constexpr size_t kRecordBufferSize = 65536;

struct DbfTable {
    // Files.
    FileHandle table_handle;
    FileHandle memo_handle;
    std::string table_file_name;
    std::string memo_file_name;
    std::string backup_file_name;

    // Header and layout.
    std::array<uint8_t, 68> header_image{};
    bool level7 = false;
    size_t header_size = 32;
    size_t descriptor_size = 32;
    int header_problems = 0;
    TableKind table_kind = TableKind::dbase3;

    // Fields.
    std::vector<FieldDescriptor> field_table;
    int first_memo_field = -1;
    bool narrow_character_fields = false;
    int null_flags_field = -1;  // the Visual FoxPro `_NullFlags` field, -1 for none

    // Buffers: one record in file form, and the text of the field last formatted.
    std::vector<uint8_t> record_buffer;
    std::vector<char> text_buffer;

    // Record view.
    RecordFilter filter;
    std::optional<OrderList> order_list;
    bool view_enabled = true;
    std::vector<int> order_fields;  // key fields of the order being built

    // Per-table options: start from their defaults for every file and are copied
    // as one value.
    TableOptions options;
    // Whether this table's ".bak" copy was made: the state of one open file, not
    // an option, so it is never copied.
    bool backup_done = false;
    // Why the last ".bak" copy could not be made; empty when none failed since the
    // driver last reported one.
    std::string backup_failure;
    // The system error of the last memo file that could not be opened for reading
    // (its memos then read as empty), 0 when none; the driver reports it once.
    mutable int memo_read_error = 0;
    bool memo_read_error_reported = false;

    // Password hooks and their key state.
    TableHook after_record_read = nullptr;
    TableHook before_record_write = nullptr;
    MarkHook after_mark_read = nullptr;
    MarkHook before_mark_write = nullptr;
    std::vector<uint8_t> password_key;

    // Header values as held in memory after opening.
    uint8_t version() const { return header_image[0]; }
    uint32_t record_count() const;
    void set_record_count(uint32_t count);
    uint16_t header_length() const;
    uint32_t record_length() const { return record_length_; }
    // Sets the record length and the header image's copy of it.
    void set_record_length(uint32_t length);
    // Sets the length records are read and written with (the sum of the field
    // widths); the header image keeps the length it holds.
    void use_record_length(uint32_t length) { record_length_ = length; }
    size_t field_count() const { return field_table.size(); }
    // The descriptor of field `index`, counted from 0 in record order; the index is
    // below field_count().
    const FieldDescriptor& field(int index) const { return field_table[static_cast<size_t>(index)]; }

private:
    uint32_t record_length_ = 0;
};

// True when the header is accepted: all bytes read and the header length exceeds
// header size plus descriptor size. Detects the layout first.
[[nodiscard]] bool read_table_header(DbfTable& table);

// Reads the field descriptors; true when the fields are accepted, false when
// nothing could be read after the header, when the record would be longer than
// 65535 bytes, or when unknown field types outnumber known ones. Computes the record
// count from the file size (0 when the file ends before the header length) and the
// backup name in every case.
[[nodiscard]] bool read_field_descriptors(DbfTable& table);

// Outcome of opening a table file.
enum class OpenResult { opened, cannot_open, invalid_header, field_error };

// Opens a table file as the run loop does: the file (read-only, or read-write
// falling back to read-only), its header, its name, its field descriptors, and
// the table kind with the memo file name.
[[nodiscard]] OpenResult open_table(DbfTable& table, const std::string& name, bool read_only);

// Closes the table file and releases the buffers; nothing when already closed.
void close_table(DbfTable& table);

// The record length the header states (it may differ from record_length(), which
// follows the field widths).
uint32_t header_record_length(const DbfTable& table);

// True when the header's record length is the sum of the field widths: records then
// lie where both say, and the record length, record count and end marker a write
// puts into the header describe the file. Nothing writes records otherwise.
bool record_geometry_agrees(const DbfTable& table);

// Record length x physical index + base, in 64 bits.
uint64_t record_file_offset(uint32_t record_length, uint32_t physical_index, uint64_t base);

// The first field, in record order, whose name equals `name` ignoring ASCII letter
// case; -1 when no field has it.
int find_field(const DbfTable& table, std::string_view name);

// True for Visual FoxPro tables (version bytes 0x30, 0x31, 0x32): the only ones
// whose descriptor byte 18 holds field flags and whose `_NullFlags` field counts.
bool is_visual_foxpro(const DbfTable& table);
// The field flags of descriptor byte 18 in a Visual FoxPro table; 0 in every other
// kind, where the byte is reserved and some writers leave bytes in it.
uint8_t field_flags(const DbfTable& table, int field);
// Finds the `_NullFlags` field of a Visual FoxPro table and gives each field its
// bits in it, in field order: a V or Q field its length bit, then a nullable field
// its null bit (bit k is bit k % 8 of the field's byte k / 8).
void assign_null_flag_bits(DbfTable& table);

// Physical record index of a view position (through order list and view list).
uint32_t physical_index(const DbfTable& table, uint32_t position);

uint32_t view_record_count(const DbfTable& table);
[[nodiscard]] bool seek_view_record(DbfTable& table, uint32_t position);
[[nodiscard]] bool seek_physical_record(DbfTable& table, uint32_t index);
// Reads the record at a view position or physical index into `record_buffer` and
// runs the read hook;
// false, without the hook, when the seek fails or fewer than record-length bytes
// come back (the buffer then holds no valid record).
[[nodiscard]] bool read_view_record(DbfTable& table, uint32_t position);
[[nodiscard]] bool read_physical_record(DbfTable& table, uint32_t index);
// Writes `record_buffer` at a view position or physical index, after the backup
// copy and the write hook; false (nothing written) when the backup cannot be made,
// false also when the seek or the write fails.
[[nodiscard]] bool write_view_record(DbfTable& table, uint32_t position);
[[nodiscard]] bool write_physical_record(DbfTable& table, uint32_t index);
// The deletion flag of the record at a view position, passed through its hook;
// nothing, without the hook, when the seek fails or no byte could be read.
[[nodiscard]] std::optional<uint8_t> read_mark_byte(DbfTable& table, uint32_t position);
// Writes `mark` as the deletion flag, under the same rules as record writes.
[[nodiscard]] bool write_mark_byte(DbfTable& table, uint32_t position, uint8_t mark);

// Storage width: the 16-bit width of a 'C' field, the length byte otherwise.
uint32_t field_width(const DbfTable& table, int field);
// Blank byte of the field's type, and filling the field with it.
uint8_t field_blank_byte(const DbfTable& table, int field);
void blank_field(DbfTable& table, int field);
// Fills `record_buffer` with the blank record: mark ' ' and each field's blank byte.
void blank_record_buffer(DbfTable& table);
// Signed 32-bit integer of an I/'+' field (or a width-4 memo reference); level 7
// tables hold it big-endian with the sign bit inverted. 0 when the field is narrower.
int32_t field_integer(const DbfTable& table, int field);
void store_field_integer(DbfTable& table, int field, int32_t value);

// Derives the table kind from the version byte (7 for the level 7 layout), stores
// the memo file name and kind in the table; returns the kind.
TableKind derive_table_kind(DbfTable& table);

// Makes the ".bak" copy once per open table when the backup option is on. True when
// the write it precedes may go on: the option is off, or the whole table is copied
// (now or earlier). False when the copy cannot be made (the table is not open for
// writing or is its own backup name, the file cannot be created, a read or write
// fails); the backup-done flag then stays off, no partial copy is left, the
// reason is kept in `backup_failure`, and the next write tries again.
[[nodiscard]] bool backup_before_write(DbfTable& table);

// Drops the view list and the order list.
void clear_view(DbfTable& table);

} // namespace rorarodi
