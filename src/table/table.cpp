#include "table/table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sys/stat.h>

#include "platform/paths.h"
#include "table/dbf_format.h"
#include "table/field_text.h"
#include "table/memo.h"

namespace rorarodi {

namespace {
constexpr size_t kLayoutProbeSize = 128;
constexpr size_t kLevel7ProbeOffset = 64;
constexpr size_t kBackupBlockSize = 32768;
constexpr uint8_t kVersionWithMemo = 0xF5;
constexpr uint8_t kVersionWithoutMemo = 0x03;
} // namespace

DbfTable::DbfTable() { table_init(*this); }

uint32_t DbfTable::record_count() const { return read_le32(header_image.data() + kRecordCountOffset); }

void DbfTable::set_record_count(uint32_t count) { write_le32(header_image.data() + kRecordCountOffset, count); }

uint16_t DbfTable::header_length() const { return read_le16(header_image.data() + kHeaderLengthOffset); }

void DbfTable::set_record_length(uint32_t length) {
    record_length_ = length;
    write_le16(header_image.data() + kRecordLengthOffset, static_cast<uint16_t>(length));
}

void reset_date_formats(DbfTable& table) {
    table.date_formats = {"", "%02d.%02d.%04d", "%02d.%02d.%04d", "%04d.%02d.%02d", "%04d%02d%02d"};
    table.datetime_formats = {"", "%02d.%02d.%04d %02d:%02d:%02d", "%02d.%02d.%04d %02d:%02d:%02d",
                              "%04d.%02d.%02d %02d:%02d:%02d", "%04d%02d%02d%02d%02d%02d"};
}

void table_init(DbfTable& table) {
    table.table_handle.close();
    table.memo_handle.close();
    table.table_file_name.clear();
    table.memo_file_name.clear();
    table.backup_file_name.clear();
    table.header_image.fill(0);
    table.level7 = false;
    table.header_size = kStandardHeaderSize;
    table.descriptor_size = kStandardDescriptorSize;
    table.header_problems = 0;
    table.table_kind = 0;
    table.field_table.clear();
    table.first_memo_field = -1;
    table.narrow_character_fields = false;
    table.field_map.clear();
    table.record_buffer.clear();
    table.text_buffer.clear();
    table.mark_byte = ' ';
    table.memo_slot.reset();
    table.filter = RecordFilter{};
    table.order_list.reset();
    table.view_enabled = true;
    table.order_fields.clear();
    table.date_mode = 0;
    reset_date_formats(table);
    table.trim_mode = 0;
    table.new_memo_block_size = 128;
    table.ansi = false;
    table.case_insensitive = false;
    table.descending = false;
    table.field_layout = 0;
    table.hide_deleted = false;
    table.backup_option = false;
    table.backup_done = false;
    table.to_oem_hook = nullptr;
    table.from_oem_hook = nullptr;
    table.upper_case_hook = nullptr;
    table.after_record_read = nullptr;
    table.before_record_write = nullptr;
    table.after_mark_read = nullptr;
    table.before_mark_write = nullptr;
    table.password_key.clear();
    table.set_record_length(0);
}

bool read_table_header(DbfTable& table) {
    uint8_t probe[kLayoutProbeSize] = {};
    table.table_handle.seek(0);
    long long got = table.table_handle.read(probe, sizeof probe);
    table.level7 = got == static_cast<long long>(kLayoutProbeSize) && probe[kLevel7ProbeOffset] == 0;
    table.header_size = table.level7 ? kLevel7HeaderSize : kStandardHeaderSize;
    table.descriptor_size = table.level7 ? kLevel7DescriptorSize : kStandardDescriptorSize;
    table.table_handle.seek(0);

    table.header_problems = 0;
    table.header_image.fill(0);
    got = table.table_handle.read(table.header_image.data(), table.header_size);
    uint8_t version = table.header_image[kVersionOffset];
    if (version == 0 || !is_accepted_version(version)) table.header_problems |= kDamagedVersion;
    table.set_record_length(read_le16(table.header_image.data() + kRecordLengthOffset));
    return got == static_cast<long long>(table.header_size) &&
           table.header_length() > table.header_size + table.descriptor_size;
}

namespace {

FieldDescriptor standard_descriptor(const uint8_t* d) {
    FieldDescriptor field;
    size_t name_length = 0;
    while (name_length < 10 && d[name_length] != 0) ++name_length;
    field.name.assign(reinterpret_cast<const char*>(d), name_length);
    field.type = static_cast<char>(d[11]);
    field.length = d[16];
    field.decimals = d[17];
    field.flags = d[18];
    field.carried = d[20];
    return field;
}

FieldDescriptor level7_descriptor(const uint8_t* d) {
    FieldDescriptor field;
    size_t name_length = 0;
    while (name_length < 31 && d[name_length] != 0) ++name_length;
    field.name.assign(reinterpret_cast<const char*>(d), name_length);
    field.type = static_cast<char>(d[32]);
    field.length = d[33];
    field.decimals = d[34];
    std::copy(d + 37, d + 48, field.level7_tail.begin());
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

    PathParts parts = split_path(table.table_file_name);
    table.backup_file_name = parts.drive + parts.directory + parts.name + ".bak";
}

} // namespace

bool read_field_descriptors(DbfTable& table) {
    const size_t size = table.descriptor_size;
    std::vector<uint8_t> area(kMaxFieldsRead * size, 0);
    table.table_handle.seek(table.header_size);
    long long got = table.table_handle.read(area.data(), area.size());
    table.field_table.clear();
    table.field_map.clear();
    table.first_memo_field = -1;
    table.narrow_character_fields = false;
    if (got <= 0) {
        finish_open(table);
        return false;
    }
    const size_t bytes = static_cast<size_t>(got);
    const size_t header_length = table.header_length();
    bool truncated = false;

    // Walk: the terminator, a descriptor that would not lie wholly inside the
    // header length, or the end of what was read ends the field list.
    for (size_t i = 0; i < kMaxFieldsRead; ++i) {
        size_t start = i * size;
        if (start >= bytes || area[start] == kHeaderTerminator) break;
        if (table.header_size + start + size > header_length) break;
        if (start + size > bytes) {
            // The file ends inside a descriptor: the field definition is cut off.
            truncated = true;
            break;
        }
        table.field_table.push_back(table.level7 ? level7_descriptor(&area[start]) : standard_descriptor(&area[start]));
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
        table.field_map.push_back(static_cast<int32_t>(i));
    }
    // A record longer than the 16-bit record length cannot be addressed.
    bool fits = offset <= kMaxRecordLength;
    table.set_record_length(static_cast<uint32_t>(fits ? offset : 0));

    size_t unknown = table.field_table.size() - known;
    bool accepted = fits && !truncated;
    if (accepted && !(table.field_table.size() > 0 && unknown == 0)) {
        if (known >= unknown)
            table.header_problems |= kUnknownFieldTypes;
        else
            accepted = false;
    }

    if (table.header_problems & kDamagedVersion)
        table.header_image[kVersionOffset] = table.first_memo_field >= 0 ? kVersionWithMemo : kVersionWithoutMemo;

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

uint64_t record_file_offset(uint32_t record_length, uint32_t physical_index, uint64_t base) {
    return static_cast<uint64_t>(record_length) * static_cast<uint64_t>(physical_index) + base;
}

uint32_t physical_index(const DbfTable& table, uint32_t position) {
    constexpr uint32_t kBeyond = std::numeric_limits<uint32_t>::max();
    uint32_t k = position;
    if (table.order_list) {
        if (position >= table.order_list->size()) return kBeyond;
        k = static_cast<uint32_t>((*table.order_list)[position]);
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

bool seek_view_field(DbfTable& table, uint32_t position, int field) {
    uint64_t base = table.header_length() + table.field_table[static_cast<size_t>(field)].offset;
    return table.table_handle.seek(record_file_offset(table.record_length(), physical_index(table, position), base));
}

bool read_view_record(DbfTable& table, uint32_t position) {
    if (!seek_view_record(table, position)) return false;
    long long got = table.table_handle.read(table.record_buffer.data(), table.record_length());
    if (table.after_record_read) table.after_record_read(table);
    return got >= 0;
}

namespace {
bool write_record_at(DbfTable& table, uint32_t physical) {
    if (table.backup_option) backup_before_write(table);
    if (!seek_physical_record(table, physical)) return false;
    if (table.before_record_write) table.before_record_write(table);
    return table.table_handle.write(table.record_buffer.data(), table.record_length());
}
} // namespace

bool write_view_record(DbfTable& table, uint32_t position) {
    return write_record_at(table, physical_index(table, position));
}

bool write_physical_record(DbfTable& table, uint32_t index) { return write_record_at(table, index); }

bool read_mark_byte(DbfTable& table, uint32_t position) {
    if (!seek_view_record(table, position)) return false;
    long long got = table.table_handle.read(&table.mark_byte, 1);
    if (table.after_mark_read) table.after_mark_read(table);
    return got >= 0;
}

bool write_mark_byte(DbfTable& table, uint32_t position) {
    if (table.backup_option) backup_before_write(table);
    if (!seek_view_record(table, position)) return false;
    if (table.before_mark_write) table.before_mark_write(table);
    return table.table_handle.write(&table.mark_byte, 1);
}

void blank_record_buffer(DbfTable& table) {
    if (table.record_buffer.empty()) return;
    table.record_buffer[0] = kLiveMark;
    for (size_t i = 0; i < table.field_table.size(); ++i) blank_field(table, static_cast<int>(i));
}

void backup_before_write(DbfTable& table) {
    if (!table.backup_option || table.backup_done) return;
    // A table named like its own backup (extension ".bak") is not replaced by its copy.
    struct stat backup_status {}, table_status {};
    if (stat(table.backup_file_name.c_str(), &backup_status) == 0 && table.table_handle &&
        fstat(table.table_handle.fd(), &table_status) == 0 && backup_status.st_dev == table_status.st_dev &&
        backup_status.st_ino == table_status.st_ino)
        return;
    std::remove(table.backup_file_name.c_str());
    FileHandle backup = create_file(table.backup_file_name);
    if (!backup) return;
    std::vector<uint8_t> block(kBackupBlockSize);
    uint64_t saved = table.table_handle.position();
    table.table_handle.seek(0);
    for (;;) {
        long long got = table.table_handle.read(block.data(), block.size());
        if (got <= 0) break;
        backup.write(block.data(), static_cast<size_t>(got));
    }
    table.table_handle.seek(saved);
    table.backup_done = true;
}

void clear_view(DbfTable& table) {
    table.order_list.reset();
    table.filter.view_list.reset();
}

} // namespace rorarodi
