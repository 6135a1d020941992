#include "commands/password.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/change.h"
#include "platform/progress.h"
#include "session/console.h"
#include "session/messages.h"
#include "session/session.h"
#include "table/cipher.h"

namespace rorarodi {

namespace {

// Records are read, transformed and written back in blocks of about this size.
constexpr size_t kBlockBytes = 1 << 20;

// /PSW with an empty argument: the password is removed, with its own trace lines.
void clear_password_traced(Session& session) {
    trace_enter(session, "Password");
    clear_password(session.table());
    trace_leave(session, "Password");
}

// Lays the password's keystream over every record of the file, whatever the view.
// Enciphering and deciphering are the same XOR, so one routine serves /ENCODE and
// /DECODE. Records are read and written in large blocks; a block that cannot be
// read or written is skipped and the rest goes on; false when one was.
[[nodiscard]] bool transform_all_records(DbfTable& table) {
    const std::span<const uint8_t> keystream = record_keystream(table);
    const uint32_t length = table.record_length();
    const uint32_t count = table.record_count();
    if (keystream.empty() || length == 0 || count == 0) return true;
    bool complete = true;
    const uint32_t per_block = std::max<uint32_t>(1, static_cast<uint32_t>(kBlockBytes / length));
    // Every record changes, in place.
    std::vector<uint8_t> block;
    ProgressMeter progress(count);
    for (uint32_t first = 0; first < count; first += std::min(per_block, count - first)) {
        progress.step(first);
        const uint32_t records = std::min(per_block, count - first);
        block.resize(size_t{records} * length);
        const long long got = seek_physical_record(table, first) ? table.table_handle.read(block.data(), block.size()) : -1;
        if (got <= 0) {
            complete = false;
            continue;
        }
        const size_t whole = static_cast<size_t>(got) / length;
        for (size_t r = 0; r < whole; ++r) apply_keystream(block.data() + r * length, keystream);
        // Without the backup nothing is written (the first write makes it).
        if (!backup_before_write(table)) return false;
        if (!seek_physical_record(table, first) || !table.table_handle.write(block.data(), whole * length))
            complete = false;
    }
    return complete;
}

void encode_or_decode(Session& session, const std::string& argument, const char* trace_name) {
    trace_enter(session, trace_name);
    if (argument.empty()) {
        report_failure(session, kPasswordRequired);
        trace_leave(session, trace_name);
        return;
    }
    DbfTable& table = session.table();
    clear_view(table);
    table.filter.filter_text.reset();
    clear_password_traced(session);
    set_password(table, argument);
    if (!transform_all_records(table)) mark_failed(session);
    clear_password_traced(session);
    trace_leave(session, trace_name);
}

} // namespace

void handle_psw(Session& session, const std::string& argument) {
    trace_enter(session, "Password");
    if (argument.size() > 1 && argument[0] == ':')
        set_password(session.table(), argument.substr(1));
    else
        clear_password(session.table());
    trace_leave(session, "Password");
}

void handle_encode(Session& session, const std::string& argument) { encode_or_decode(session, argument, "Encode"); }
void handle_decode(Session& session, const std::string& argument) { encode_or_decode(session, argument, "Decode"); }

} // namespace rorarodi
