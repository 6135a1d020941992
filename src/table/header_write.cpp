#include "table/header_write.h"

#include <algorithm>

#include "platform/file.h"
#include "table/create.h"
#include "table/dbf_format.h"

namespace rorarodi {

bool table_writable(const DbfTable& table) {
    return table.table_handle.is_writable() && record_geometry_agrees(table);
}

bool write_header_byte(DbfTable& table, size_t offset, uint8_t value) {
    if (!table.table_handle.is_writable() || offset >= table.header_size) return false;
    uint8_t bytes[3];
    stamp_header_date(table.header_image.data());
    std::copy_n(table.header_image.data() + kDateOffset, 3, bytes);
    FileHandle& file = table.table_handle;
    if (!file.seek(kDateOffset) || !file.write(bytes, sizeof bytes)) return false;
    table.header_image[offset] = value;
    return file.seek(offset) && file.write(&value, 1);
}

bool repair_record_geometry(DbfTable& table) {
    const uint32_t fields = table.record_length();
    const uint32_t stated = header_record_length(table);
    if (record_geometry_agrees(table) || fields == 0 || !table.table_handle.is_writable()) return false;
    const long long size = table.table_handle.size();
    if (size < 0) return false;
    uint64_t data = static_cast<uint64_t>(size) > table.header_length() ? static_cast<uint64_t>(size) - table.header_length() : 0;
    // An end marker after the last record is not record data.
    uint8_t last = 0;
    const bool marked = data > 0 && table.table_handle.seek(static_cast<uint64_t>(size) - 1) &&
                        table.table_handle.read(&last, 1) == 1 && last == kEndOfFile;
    auto whole = [&](uint32_t length) {
        return length != 0 && (data % length == 0 || (marked && (data - 1) % length == 0));
    };
    if (!whole(fields) || whole(stated)) return false;
    table.set_record_length(fields);
    if (write_header(table)) return true;
    table.use_record_length(fields);
    write_le16(table.header_image.data() + kRecordLengthOffset, static_cast<uint16_t>(stated));
    return false;
}

bool write_header(DbfTable& table) {
    if (!table_writable(table)) return false;
    stamp_header_date(table.header_image.data());
    FileHandle& file = table.table_handle;
    const bool written = file.seek(0) && file.write(table.header_image.data(), table.header_size);
    // The end marker is for other readers: the header's record count is what counts.
    const uint8_t marker = kEndOfFile;
    if (file.seek(record_file_offset(table.record_length(), table.record_count(), table.header_length()))) (void)file.write(&marker, 1);
    return written;
}

} // namespace rorarodi
