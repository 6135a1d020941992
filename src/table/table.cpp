#include "table/table.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/change.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "table/dbf_format.h"

namespace rorarodi {

namespace {
constexpr size_t kLayoutProbeSize = 128;
constexpr size_t kLevel7ProbeOffset = 64;
constexpr size_t kBackupBlockSize = 32768;
// Level 7 integers are big-endian with the sign bit inverted.
constexpr uint32_t kLevel7IntegerFlip = 0x80000000u;

// The field's bytes in the record buffer when the field is at least `count` bytes
// wide and they all lie in the buffer; null otherwise.
uint8_t* held_bytes(DbfTable& table, int field, size_t count) {
    const size_t offset = table.field(field).offset;
    if (field_width(table, field) < count || offset > table.record_buffer.size() ||
        table.record_buffer.size() - offset < count)
        return nullptr;
    return table.record_buffer.data() + offset;
}
const uint8_t* held_bytes(const DbfTable& table, int field, size_t count) {
    return held_bytes(const_cast<DbfTable&>(table), field, count);
}
} // namespace

uint32_t DbfTable::record_count() const { return read_le32(header_image.data() + kRecordCountOffset); }

void DbfTable::set_record_count(uint32_t count) { write_le32(header_image.data() + kRecordCountOffset, count); }

uint16_t DbfTable::header_length() const { return read_le16(header_image.data() + kHeaderLengthOffset); }

void DbfTable::set_record_length(uint32_t length) {
    record_length_ = length;
    write_le16(header_image.data() + kRecordLengthOffset, static_cast<uint16_t>(length));
}

namespace {

// True when a header names level 7 (version 0x04 or 0x8C) and its length is exactly
// that of level 7 descriptors with their terminator. Such a table is level 7 however
// short the file: a new one with a single field and no records has only 117 bytes.
// No standard header without extra bytes has such a length (32 + 32n + 1 never
// equals 68 + 48n + 1), and the terminator must stand where that layout puts it.
bool fits_level7_layout(FileHandle& file, const uint8_t* probe, long long probed) {
    if (probed < static_cast<long long>(kHeaderLengthOffset + 2)) return false;
    const uint8_t version = probe[kVersionOffset];
    if (version != kVersionDbase4 && version != kVersionLevel7Memo) return false;
    const size_t header_length = read_le16(probe + kHeaderLengthOffset);
    const size_t descriptors = kLevel7HeaderSize + kLevel7DescriptorSize + 1;
    if (header_length < descriptors || (header_length - descriptors) % kLevel7DescriptorSize != 0) return false;
    uint8_t terminator = 0;
    return file.seek(header_length - 1) && file.read(&terminator, 1) == 1 && terminator == kHeaderTerminator;
}

} // namespace

bool read_table_header(DbfTable& table) {
    uint8_t probe[kLayoutProbeSize] = {};
    if (!table.table_handle.seek(0)) return false;
    long long got = table.table_handle.read(probe, sizeof probe);
    // Only the level 7 version bytes may name the level 7 layout: a standard table
    // of another version whose byte 64 happens to be zero is no level 7 one.
    const bool level7_version = got > 0 && (probe[kVersionOffset] == kVersionDbase4 ||
                                            probe[kVersionOffset] == kVersionLevel7Memo);
    table.level7 = level7_version && ((got == static_cast<long long>(kLayoutProbeSize) && probe[kLevel7ProbeOffset] == 0) ||
                                      fits_level7_layout(table.table_handle, probe, got));
    table.header_size = table.level7 ? kLevel7HeaderSize : kStandardHeaderSize;
    table.descriptor_size = table.level7 ? kLevel7DescriptorSize : kStandardDescriptorSize;
    (void)table.table_handle.seek(0);  // open: the seek above succeeded

    table.header_problems = 0;
    table.header_image.fill(0);
    got = table.table_handle.read(table.header_image.data(), table.header_size);
    uint8_t version = table.header_image[kVersionOffset];
    if (version == 0 || !is_accepted_version(version)) table.header_problems |= kDamagedVersion;
    table.use_record_length(read_le16(table.header_image.data() + kRecordLengthOffset));
    return got == static_cast<long long>(table.header_size) &&
           table.header_length() > table.header_size + table.descriptor_size;
}

namespace {

FieldDescriptor read_descriptor(const uint8_t* d, bool level7) {
    const DescriptorLayout& layout = level7 ? kLevel7Descriptor : kStandardDescriptor;
    FieldDescriptor field;
    size_t name_length = 0;
    while (name_length < layout.name_length && d[name_length] != 0) ++name_length;
    field.name.assign(reinterpret_cast<const char*>(d), name_length);
    field.type = static_cast<char>(d[layout.type]);
    field.length = d[layout.length];
    field.decimals = d[layout.decimals];
    if (level7) {
        std::copy(d + kLevel7TailOffset, d + layout.size, field.level7_tail.begin());
    } else {
        field.flags = d[kStandardFlagsOffset];
        field.carried = d[kStandardCarriedOffset];
        std::copy(d + kStandardFlagsOffset + 1, d + layout.size, field.standard_tail.begin());
    }
    return field;
}

uint32_t character_width(const FieldDescriptor& field) {
    return field.type == 'C' ? static_cast<uint32_t>(field.length) | (static_cast<uint32_t>(field.decimals) << 8)
                             : field.length;
}

void finish_open(DbfTable& table) {
    // Record count from the file size; the header's own count only sets a flag.
    long long file_size = table.table_handle.size();
    uint64_t count = 0;
    if (file_size > static_cast<long long>(table.header_length()) && table.record_length() > 0)
        count = (static_cast<uint64_t>(file_size) - table.header_length()) / table.record_length();
    count = std::min<uint64_t>(count, std::numeric_limits<uint32_t>::max());
    if (count != table.record_count()) table.header_problems |= kRecordCountMismatch;
    table.set_record_count(static_cast<uint32_t>(count));

    table.backup_file_name = with_extension(table.table_file_name, ".bak");
}

} // namespace

bool is_visual_foxpro(const DbfTable& table) {
    return !table.level7 && kind_for_version(table.version()) == TableKind::visual_foxpro;
}

uint8_t field_flags(const DbfTable& table, int field) {
    return is_visual_foxpro(table) ? table.field(field).flags : 0;
}

void assign_null_flag_bits(DbfTable& table) {
    table.null_flags_field = -1;
    for (FieldDescriptor& field : table.field_table) field.null_bit = field.length_bit = -1;
    if (!is_visual_foxpro(table)) return;
    for (size_t i = 0; i < table.field_table.size(); ++i) {
        const FieldDescriptor& field = table.field_table[i];
        if (field.type == '0' && equals_ignoring_case(field.name, kNullFlagsFieldName)) table.null_flags_field = static_cast<int>(i);
    }
    if (table.null_flags_field < 0) return;
    const size_t bits = 8u * table.field(table.null_flags_field).length;
    int16_t next = 0;
    for (FieldDescriptor& field : table.field_table) {
        if (field.type == 'V' || field.type == 'Q') field.length_bit = next++;
        if (field.flags & kNullableFieldFlag) field.null_bit = next++;
    }
    // Bits beyond the field's bytes do not exist: those fields have none.
    for (FieldDescriptor& field : table.field_table) {
        if (static_cast<size_t>(field.length_bit) >= bits) field.length_bit = -1;
        if (static_cast<size_t>(field.null_bit) >= bits) field.null_bit = -1;
    }
}

bool read_field_descriptors(DbfTable& table) {
    const size_t size = table.descriptor_size;
    std::vector<uint8_t> area(kMaxFieldsRead * size, 0);
    const long long got =
        table.table_handle.seek(table.header_size) ? table.table_handle.read(area.data(), area.size()) : -1;
    table.field_table.clear();
    table.first_memo_field = -1;
    table.narrow_character_fields = false;
    if (got <= 0) {
        finish_open(table);
        return false;
    }
    const size_t bytes = static_cast<size_t>(got);
    const size_t header_length = table.header_length();

    // Walk: a descriptor that begins with the terminator, one that does not end
    // within the header length (the records begin there: a table whose terminator
    // is some other byte must not have its records read as fields), or the end of
    // what was read ends the field list. A descriptor that the end of the file cuts
    // off is not a field; the ones read whole before it are.
    for (size_t i = 0; i < kMaxFieldsRead; ++i) {
        const size_t start = i * size;
        if (start + size > bytes || area[start] == kHeaderTerminator ||
            table.header_size + start + size > header_length)
            break;
        table.field_table.push_back(read_descriptor(&area[start], table.level7));
    }

    // Wide character fields: the header's record length tells whether the
    // decimals byte of a 'C' field is the high byte of its width.
    uint64_t narrow_sum = 1, wide_sum = 1;
    for (const FieldDescriptor& field : table.field_table) {
        narrow_sum += field.length;
        wide_sum += character_width(field);
    }
    uint32_t header_record_length = read_le16(table.header_image.data() + kRecordLengthOffset);
    if (header_record_length == narrow_sum && header_record_length != wide_sum) {
        table.narrow_character_fields = true;
        for (FieldDescriptor& field : table.field_table)
            if (field.type == 'C') field.decimals = 0;
    }

    uint64_t offset = 1;
    size_t known = 0;
    for (size_t i = 0; i < table.field_table.size(); ++i) {
        FieldDescriptor& field = table.field_table[i];
        field.offset = static_cast<uint16_t>(std::min<uint64_t>(offset, 0xFFFF));
        offset += character_width(field);
        if (is_known_field_type(field.type)) ++known;
        if (table.first_memo_field < 0 && is_memo_type(field.type, character_width(field)))
            table.first_memo_field = static_cast<int>(i);
    }
    // A record longer than the 16-bit record length cannot be addressed. The header
    // keeps its own record length: records are read by the fields' widths, and
    // record_geometry_agrees() tells whether the two may be written.
    bool fits = offset <= kMaxRecordLength;
    table.use_record_length(static_cast<uint32_t>(fits ? offset : 0));

    size_t unknown = table.field_table.size() - known;
    bool accepted = fits;
    if (accepted && !(table.field_table.size() > 0 && unknown == 0)) {
        if (known >= unknown)
            table.header_problems |= kUnknownFieldTypes;
        else
            accepted = false;
    }

    if (table.header_problems & kDamagedVersion)
        table.header_image[kVersionOffset] = table.first_memo_field >= 0 ? kVersionFoxProMemo : kVersionDbase3;
    assign_null_flag_bits(table);

    if (accepted) {
        table.record_buffer.assign(kRecordBufferSize, 0);
        table.text_buffer.assign(kTextBufferSize, 0);
        blank_record_buffer(table);
    }
    finish_open(table);
    return accepted;
}

OpenResult open_table(DbfTable& table, const std::string& name, bool read_only) {
    table.table_handle = read_only ? open_file_read_only(name) : open_file_read_write(name);
    if (!table.table_handle) return OpenResult::cannot_open;
    if (!read_table_header(table)) return OpenResult::invalid_header;
    table.table_file_name = name;
    if (!read_field_descriptors(table)) return OpenResult::field_error;
    derive_table_kind(table);
    return OpenResult::opened;
}

void close_table(DbfTable& table) {
    if (!table.table_handle) return;
    table.table_handle.close();
    table.memo_handle.close();
    table.backup_file_name.clear();
    table.record_buffer.clear();
    table.record_buffer.shrink_to_fit();
    table.text_buffer.clear();
    table.text_buffer.shrink_to_fit();
}

uint32_t header_record_length(const DbfTable& table) {
    return read_le16(table.header_image.data() + kRecordLengthOffset);
}

bool record_geometry_agrees(const DbfTable& table) {
    return table.record_length() != 0 && header_record_length(table) == table.record_length();
}

uint64_t record_file_offset(uint32_t record_length, uint32_t physical_index, uint64_t base) {
    return static_cast<uint64_t>(record_length) * static_cast<uint64_t>(physical_index) + base;
}

int find_field(const DbfTable& table, std::string_view name) {
    for (size_t f = 0; f < table.field_table.size(); ++f)
        if (equals_ignoring_case(table.field_table[f].name, name)) return static_cast<int>(f);
    return -1;
}

uint32_t physical_index(const DbfTable& table, uint32_t position) {
    constexpr uint32_t kBeyond = std::numeric_limits<uint32_t>::max();
    uint32_t k = position;
    if (table.order_list) {
        if (position >= table.order_list->size()) return kBeyond;
        k = (*table.order_list)[position];
    }
    if (table.view_enabled && table.filter.view_list) {
        if (k >= table.filter.view_list->size()) return kBeyond;
        return (*table.filter.view_list)[k];
    }
    return k;
}

uint32_t view_record_count(const DbfTable& table) {
    if (table.filter.view_list) return static_cast<uint32_t>(table.filter.view_list->size());
    return table.record_count();
}

bool seek_physical_record(DbfTable& table, uint32_t index) {
    return table.table_handle.seek(record_file_offset(table.record_length(), index, table.header_length()));
}

bool seek_view_record(DbfTable& table, uint32_t position) {
    return seek_physical_record(table, physical_index(table, position));
}

bool read_view_record(DbfTable& table, uint32_t position) {
    return read_physical_record(table, physical_index(table, position));
}

bool read_physical_record(DbfTable& table, uint32_t index) {
    if (!seek_physical_record(table, index)) return false;
    const long long got = table.table_handle.read(table.record_buffer.data(), table.record_length());
    // A short or empty read holds no record: the hook never sees such bytes.
    if (got != static_cast<long long>(table.record_length())) return false;
    if (table.after_record_read) table.after_record_read(table);
    return true;
}

namespace {
bool write_record_at(DbfTable& table, uint32_t physical) {
    if (!record_geometry_agrees(table) || !backup_before_write(table)) return false;
    if (!seek_physical_record(table, physical)) return false;
    if (table.before_record_write) table.before_record_write(table);
    return table.table_handle.write(table.record_buffer.data(), table.record_length());
}
} // namespace

bool write_view_record(DbfTable& table, uint32_t position) {
    return write_record_at(table, physical_index(table, position));
}

bool write_physical_record(DbfTable& table, uint32_t index) { return write_record_at(table, index); }

std::optional<uint8_t> read_mark_byte(DbfTable& table, uint32_t position) {
    if (!seek_view_record(table, position)) return std::nullopt;
    uint8_t mark = 0;
    if (table.table_handle.read(&mark, 1) != 1) return std::nullopt;
    if (table.after_mark_read) table.after_mark_read(table, mark);
    return mark;
}

bool write_mark_byte(DbfTable& table, uint32_t position, uint8_t mark) {
    if (!record_geometry_agrees(table) || !backup_before_write(table)) return false;
    if (!seek_view_record(table, position)) return false;
    if (table.before_mark_write) table.before_mark_write(table, mark);
    return table.table_handle.write(&mark, 1);
}

uint32_t field_width(const DbfTable& table, int field) {
    const FieldDescriptor& f = table.field(field);
    if (f.type == 'C') return static_cast<uint32_t>(f.length) | (static_cast<uint32_t>(f.decimals) << 8);
    return f.length;
}

uint8_t field_blank_byte(const DbfTable& table, int field) {
    const FieldDescriptor& f = table.field(field);
    switch (f.type) {
    case 'C': case 'D': case 'F': case 'L': case 'N': case 'V': return ' ';
    case 'G': case 'M': return (f.length == 10 && table.version() != kVersionSmt) ? ' ' : 0;
    case 'T': case '@': return f.length == 14 ? ' ' : 0;
    case 'B': return (f.length == 8 || f.length == 4) ? 0 : ' ';
    default: return 0;
    }
}

void blank_field(DbfTable& table, int field) {
    const FieldDescriptor& f = table.field(field);
    uint32_t width = field_width(table, field);
    if (f.offset + width > table.record_buffer.size()) return;
    std::memset(table.record_buffer.data() + f.offset, field_blank_byte(table, field), width);
}

int32_t field_integer(const DbfTable& table, int field) {
    const uint8_t* p = held_bytes(table, field, 4);
    if (!p) return 0;
    // Level 7 integers are big-endian with the sign bit inverted.
    if (table.level7) return static_cast<int32_t>(read_be32(p) ^ kLevel7IntegerFlip);
    return static_cast<int32_t>(read_le32(p));
}

void store_field_integer(DbfTable& table, int field, int32_t value) {
    uint8_t* p = held_bytes(table, field, 4);
    if (!p) return;
    if (table.level7)
        write_be32(p, static_cast<uint32_t>(value) ^ kLevel7IntegerFlip);
    else
        write_le32(p, static_cast<uint32_t>(value));
}

TableKind derive_table_kind(DbfTable& table) {
    const TableKind kind = table.level7 ? TableKind::level7 : kind_for_version(table.version());
    table.table_kind = kind;
    table.memo_file_name = make_memo_file_name(table.table_file_name, kind);
    return kind;
}

void blank_record_buffer(DbfTable& table) {
    if (table.record_buffer.empty()) return;
    table.record_buffer[0] = kLiveMark;
    for (size_t i = 0; i < table.field_table.size(); ++i) blank_field(table, static_cast<int>(i));
}

namespace {
// Copies the whole table file into `backup`; false when a read or a write fails.
bool copy_table_file(FileHandle& table_file, FileHandle& backup) {
    std::vector<uint8_t> block(kBackupBlockSize);
    const uint64_t saved = table_file.position();
    if (!table_file.seek(0)) return false;
    bool copied = true;
    for (;;) {
        const long long got = table_file.read(block.data(), block.size());
        if (got == 0) break;
        if (got < 0 || !backup.write(block.data(), static_cast<size_t>(got))) {
            copied = false;
            break;
        }
    }
    return table_file.seek(saved) && copied;
}
} // namespace

bool backup_before_write(DbfTable& table) {
    if (!table.options.backup_option || table.backup_done) return true;
    // A table that cannot be written gets no copy: the write would fail anyway.
    if (!table.table_handle.is_writable()) return false;
    // A table named like its own backup (extension ".bak") cannot have one: copying
    // would replace the table by itself.
    if (names_open_file(table.backup_file_name, table.table_handle)) {
        table.backup_failure = "it is the table itself";
        return false;
    }
    // The copy is made under a temporary name and renamed over an older backup
    // when complete: the backup name holds the old backup or the whole new one.
    const std::string temporary = temporary_name_for(table.backup_file_name);
    FileHandle backup = create_new_file(temporary);
    if (!backup) {
        table.backup_failure = std::strerror(errno);
        return false;
    }
    const bool copied = copy_table_file(table.table_handle, backup);
    backup.close();
    if (!copied || !replace_file(temporary, table.backup_file_name)) {
        table.backup_failure = change_failure() ? std::strerror(change_failure()->error) : "the copy failed";
        // A partial copy is no backup: it goes, and the write it protects waits.
        (void)remove_new_file(temporary);  // the failure that matters is noted already
        return false;
    }
    table.backup_done = true;
    return true;
}


void clear_view(DbfTable& table) {
    table.order_list.reset();
    table.filter.view_list.reset();
}

} // namespace rorarodi
