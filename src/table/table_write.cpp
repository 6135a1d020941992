#include "table/table_write.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/change.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/progress.h"
#include "table/create.h"
#include "table/dbf_format.h"
#include "table/field_text.h"
#include "table/memo.h"
#include "table/record_appender.h"

namespace rorarodi {

namespace {

// Sequential passes read and write this many bytes of records at a time.
constexpr size_t kBlockBytes = 512 * 1024;

uint32_t records_per_block(const DbfTable& table) {
    return std::max<uint32_t>(1, static_cast<uint32_t>(kBlockBytes / std::max<uint32_t>(1, table.record_length())));
}

uint64_t record_offset(const DbfTable& table, uint64_t index) {
    return static_cast<uint64_t>(table.header_length()) + index * table.record_length();
}

bool has_view_or_order(const DbfTable& table) { return table.filter.view_list || table.order_list; }

bool has_record_hooks(const DbfTable& table) { return table.after_record_read || table.before_record_write; }

// The bytes of the record buffer as a record write stores them (the write hook
// applied to a copy: the buffer keeps its plain values).
std::vector<uint8_t> stored_record_image(DbfTable& table) {
    const uint32_t length = table.record_length();
    std::vector<uint8_t> plain(table.record_buffer.begin(), table.record_buffer.begin() + length);
    if (!table.before_record_write) return plain;
    table.before_record_write(table);
    std::vector<uint8_t> stored(table.record_buffer.begin(), table.record_buffer.begin() + length);
    std::copy(plain.begin(), plain.end(), table.record_buffer.begin());
    return stored;
}

// Moves the live records together: record j goes to position k, the number of live
// records before it. Reads and writes in blocks; records that stay where they are
// are not written.
bool pack_records(DbfTable& table) {
    const uint32_t count = table.record_count();
    const uint32_t length = table.record_length();
    const uint32_t run = records_per_block(table);
    const bool hooks = has_record_hooks(table);
    std::vector<uint8_t> block(static_cast<size_t>(std::min(run, std::max<uint32_t>(count, 1))) * length);
    FileHandle& file = table.table_handle;
    uint64_t kept = 0;
    ProgressMeter progress(count);
    for (uint64_t first = 0; first < count;) {
        progress.step(first);
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(run, count - first));
        const size_t bytes = static_cast<size_t>(n) * length;
        if (!file.seek(record_offset(table, first)) || file.read(block.data(), bytes) != static_cast<long long>(bytes))
            return false;
        // Compact the block in place; records before the first move stay put.
        uint32_t out = 0;
        std::optional<uint32_t> first_moved;
        for (uint32_t i = 0; i < n; ++i) {
            uint8_t* record = block.data() + static_cast<size_t>(i) * length;
            const bool moves = kept + out != first + i;
            if (hooks) {
                // The record passes the hooks as a read and a write would.
                std::memcpy(table.record_buffer.data(), record, length);
                if (table.after_record_read) table.after_record_read(table);
                if (table.record_buffer[0] == kDeletedMark) continue;
                if (moves) {
                    if (table.before_record_write) table.before_record_write(table);
                    std::memcpy(record, table.record_buffer.data(), length);
                }
            } else if (record[0] == kDeletedMark) {
                continue;
            }
            if (moves) {
                if (!first_moved) first_moved = out;
                if (out != i) std::memmove(block.data() + static_cast<size_t>(out) * length, record, length);
            }
            ++out;
        }
        if (first_moved) {
            // The first write makes the backup; without one nothing is written.
            if (!backup_before_write(table)) return false;
            // The records from the first deleted one on move, in place.
            const size_t from = static_cast<size_t>(*first_moved) * length;
            if (!file.seek(record_offset(table, kept + *first_moved)) ||
                !file.write(block.data() + from, static_cast<size_t>(out) * length - from))
                return false;
        }
        kept += out;
        first += n;
    }
    if (kept != count) return truncate_records(table, static_cast<uint32_t>(kept));
    return true;
}

// Rebuilds the memo file: the old one is renamed to its "~" name and every memo
// that a record references is copied into a new, empty one, renumbered.
bool rebuild_memo_file(DbfTable& table) {
    if (table.first_memo_field < 0) return true;
    const std::optional<TableKind> kind = memo_kind_for_version(table.version());
    if (!kind) return true;
    const std::string memo_name = memo_file_path(table);
    const std::string old_name = pack_memo_name(memo_name);
    // A memo name (or "~" name) that is the table itself is never renamed or removed.
    if (!file_exists(memo_name) || names_open_file(memo_name, table.table_handle) ||
        names_open_file(old_name, table.table_handle))
        return true;
    // The records are rewritten below: their backup comes before the memo file changes.
    if (table.record_count() > 0 && !backup_before_write(table)) return false;
    const uint32_t block_size = memo_block_size(table);
    // The old memo file stays under its "~" name; the new one is built under a
    // temporary name and takes the memo file's place once the records refer to it.
    const std::string building = temporary_name_for(memo_name);
    if (!keep_file_as(memo_name, old_name) || !create_memo_file_at(building, *kind, block_size, true)) return false;
    MemoCopier copier(table, old_name, building);
    if (!copier.is_open()) return false;
    std::vector<int> memo_fields;
    for (size_t f = 0; f < table.field_table.size(); ++f)
        if (field_is_memo(table, static_cast<int>(f))) memo_fields.push_back(static_cast<int>(f));

    const uint32_t count = table.record_count();
    const uint32_t length = table.record_length();
    const uint32_t run = records_per_block(table);
    std::vector<uint8_t> block(static_cast<size_t>(std::min(run, std::max<uint32_t>(count, 1))) * length);
    FileHandle& file = table.table_handle;
    for (uint64_t first = 0; first < count;) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(run, count - first));
        const size_t bytes = static_cast<size_t>(n) * length;
        if (!file.seek(record_offset(table, first)) || file.read(block.data(), bytes) != static_cast<long long>(bytes))
            return false;
        bool copied = true;
        for (uint32_t i = 0; i < n && copied; ++i) {
            uint8_t* record = block.data() + static_cast<size_t>(i) * length;
            std::memcpy(table.record_buffer.data(), record, length);
            if (table.after_record_read) table.after_record_read(table);
            for (int field : memo_fields)
                if (copied) copied = copier.copy_field(field);
            if (table.before_record_write) table.before_record_write(table);
            std::memcpy(record, table.record_buffer.data(), length);
        }
        if (!file.seek(record_offset(table, first)) || !file.write(block.data(), bytes) || !copied) return false;
        first += n;
    }
    return replace_file(building, memo_name);
}

} // namespace

bool truncate_records(DbfTable& table, uint32_t count) {
    if (has_view_or_order(table) || !table_writable(table)) return false;
    if (!backup_before_write(table)) return false;
    const uint32_t before = table.record_count();
    if (count > before) {
        if (table.record_buffer.empty()) return false;
        // Added records are blank records, as /APPEND:blank makes them; the record
        // buffer keeps what it holds.
        const std::vector<uint8_t> kept = table.record_buffer;
        blank_record_buffer(table);
        const std::vector<uint8_t> blank = stored_record_image(table);
        table.record_buffer = kept;
        RecordAppender out(table);
        for (uint32_t i = before; i < count && out.append_stored(blank.data()); ++i) {
        }
        if (out.finish() && out.appended() == count - before) return true;
        // A file that could not take them all keeps only its own records.
        (void)truncate_records(table, before);
        return false;
    }
    if (!table.table_handle.truncate(record_offset(table, count))) return false;
    table.set_record_count(count);
    return write_header(table);
}

bool pack_table(DbfTable& table, PackMode mode) {
    if (has_view_or_order(table) || !table_writable(table) || table.record_length() == 0) return false;
    table.view_enabled = false;
    bool result = true;
    if (mode != PackMode::memo_only) result = pack_records(table);
    if (result && mode != PackMode::table_only) result = rebuild_memo_file(table);
    table.view_enabled = true;
    return result;
}

bool append_record(DbfTable& table, bool blank) {
    if (table.record_buffer.empty()) return false;
    if (blank) blank_record_buffer(table);
    RecordAppender out(table);
    return out.append() && out.finish();
}

uint32_t append_records(DbfTable& table, uint32_t count) {
    if (table.record_buffer.empty() || !table_writable(table)) return 0;
    // Every copy is the same stored record: the write hook runs once.
    const std::vector<uint8_t> image = stored_record_image(table);
    RecordAppender out(table);
    for (uint32_t i = 0; i < count && out.append_stored(image.data()); ++i) {
    }
    (void)out.finish();  // a full disk shows in the number appended
    return out.appended();
}

std::string pack_memo_name(const std::string& memo_file_name) {
    std::string extension = split_path(memo_file_name).extension;
    if (extension.size() > 1)
        extension[1] = '~';
    else
        extension = ".~";
    return with_extension(memo_file_name, extension);
}

} // namespace rorarodi
