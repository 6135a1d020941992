#include "driver/parameter_effects.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "commands/update.h"
#include "driver/all_or_nothing.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "session/console.h"
#include "session/messages.h"
#include "table/dbf_format.h"
#include "table/field_text.h"
#include "table/memo.h"
#include "table/table.h"

namespace rorarodi {

namespace {

constexpr const char* kDryRunKeyword = "dryrun";
constexpr size_t kSnapshotBlock = 1 << 20;
constexpr uint8_t kStructuralIndexFlag = 0x01;

// What a dry run compares: the record count, a hash of every record's bytes and
// the header.
struct TableSnapshot {
    uint32_t count = 0;
    std::vector<uint64_t> hashes;
    std::vector<uint8_t> header;
};

uint64_t record_hash(const uint8_t* bytes, size_t length) {
    uint64_t hash = 1469598103934665603ULL;  // 64-bit FNV-1a
    for (size_t i = 0; i < length; ++i) hash = (hash ^ bytes[i]) * 1099511628211ULL;
    return hash;
}

// The table's records as the file holds them now (a change in progress included).
TableSnapshot take_snapshot(DbfTable& table) {
    TableSnapshot snapshot;
    snapshot.count = table.record_count();
    snapshot.header.assign(table.header_image.begin(), table.header_image.begin() + table.header_size);
    const uint32_t length = table.record_length();
    if (length == 0 || snapshot.count == 0) return snapshot;
    snapshot.hashes.reserve(snapshot.count);
    const uint32_t per_block = std::max<uint32_t>(1, static_cast<uint32_t>(kSnapshotBlock / length));
    std::vector<uint8_t> block;
    for (uint32_t first = 0; first < snapshot.count; first += per_block) {
        const uint32_t records = std::min(per_block, snapshot.count - first);
        block.resize(size_t{records} * length);
        if (!table.table_handle.seek(record_file_offset(length, first, table.header_length()))) break;
        const long long got = table.table_handle.read(block.data(), block.size());
        if (got <= 0) break;
        for (size_t at = 0; at + length <= static_cast<size_t>(got); at += length)
            snapshot.hashes.push_back(record_hash(block.data() + at, length));
    }
    return snapshot;
}

std::string records_text(uint64_t count) {
    return std::to_string(count) + (count == 1 ? " record" : " records");
}

// What a change did, in the words of the dry run: "would remove 30 of 1000 records".
std::string describe_change(const ParameterEffects& effects, const TableSnapshot& before, const TableSnapshot& after) {
    uint64_t changed = 0;
    const size_t common = std::min(before.hashes.size(), after.hashes.size());
    for (size_t i = 0; i < common; ++i) changed += before.hashes[i] != after.hashes[i];
    if (effects.restructures) return "would rewrite " + records_text(after.count) + " in the new structure";
    if (effects.reorders) return "would reorder " + records_text(changed > 0 ? after.count : 0);
    // /PACK, /ZAP and /TRUNC say what they remove, also when it is nothing.
    const bool removes = effects.keyword == "pack" || effects.keyword == "zap" || effects.keyword == "trunc:";
    if (after.count < before.count || (removes && after.count == before.count))
        return "would remove " + std::to_string(before.count - after.count) + " of " + records_text(before.count);
    if (after.count > before.count || effects.moves_records)
        return "would add " + records_text(after.count - before.count);
    if (changed > 0) return "would change " + records_text(changed);
    if (before.header != after.header) return "would change the header";
    return "would change nothing";
}

// The memo file is missing and the parameter would write memos: it refuses.
bool refuses_memo_writes(Session& session, const ParameterEffects& effects) {
    if (!effects.writes_memos || !session.current_table) return false;
    DbfTable& table = session.table();
    if (table.first_memo_field < 0 || !table.table_handle.is_writable() || table.memo_file_name.empty()) return false;
    const std::string memo = memo_file_path(table);
    // Only a memo file that is not there at all: anything else in its place fails
    // when written, with its own message.
    if (file_exists(memo) || is_directory(memo)) return false;
    const std::string& keyword = effects.keyword;
    if (keyword == "update" || keyword == "append") {
        // Only assignments to memo fields write memos there.
        const AssignmentList list = session_assignments(session, table);
        if (std::none_of(list.assignments.begin(), list.assignments.end(), [&](const AssignmentList::Assignment& a) {
                return a.field >= 0 && field_is_memo(table, a.field);
            }))
            return false;
    }
    if (keyword == "pack" && session.settings.pack_mode == PackMode::table_only) return false;
    report_on_standard_error(session, effects.display + ": " + memo + ": " + std::strerror(ENOENT) + "; " +
                                          table.table_file_name + " is unchanged");
    return true;
}

// A memo file that could not be read made memos read as empty: said once per table.
void report_unread_memos(Session& session) {
    if (!session.current_table) return;
    DbfTable& table = session.table();
    if (table.memo_read_error == 0 || table.memo_read_error_reported) return;
    table.memo_read_error_reported = true;
    report_on_standard_error(session, memo_file_path(table) + ": " + std::strerror(table.memo_read_error) +
                                          "; memo fields of " + table.table_file_name + " read as empty");
}

// The name of a companion beside the table, when such a file exists.
std::optional<std::string> existing_companion(const DbfTable& table, const char* extension) {
    const std::string name = resolve_companion_name(with_extension(table.table_file_name, extension),
                                                    table.table_file_name);
    if (!file_exists(name)) return std::nullopt;
    return name;
}

// Files that describe the records from outside and that a change leaves behind.
void warn_about_companions(Session& session, const ParameterEffects& effects) {
    if (!session.current_table) return;
    const DbfTable& table = session.table();
    if (effects.writes_records && (table.header_image[kTableFlagsOffset] & kStructuralIndexFlag)) {
        for (const char* extension : {".cdx", ".mdx"})
            if (const auto index = existing_companion(table, extension)) {
                warn_on_standard_error(*index + " no longer matches " + table.table_file_name +
                                       ": rebuild the index in its application, or clear the flag with /CDX");
                break;
            }
    }
    if (effects.moves_records)
        if (const auto shapes = existing_companion(table, ".shp"))
            warn_on_standard_error(table.table_file_name + " belongs to the shapefile " + *shapes +
                                   "; its records no longer match the shapes");
}

} // namespace

ParameterEffects effects_of(const std::string& keyword, const ChangeColumns& columns, const std::string& text) {
    ParameterEffects effects;
    static_cast<ChangeColumns&>(effects) = columns;
    effects.keyword = keyword;
    if (keyword == "+") {
        effects.display = text;
    } else {
        std::string name = keyword;
        if (!name.empty() && (name.back() == ':' || name.back() == '=')) name.pop_back();
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        effects.display = "/" + name;
    }
    // "/PACK:dbf" packs the records alone.
    if (keyword == "pack" && equals_ignoring_case(text.c_str() + std::min<size_t>(4, text.size()), ":dbf"))
        effects.writes_memos = false;
    return effects;
}

bool is_dry_run_keyword(const std::string& keyword) { return keyword == kDryRunKeyword; }

void run_parameter(Session& session, const ParameterEffects& effects, const std::function<void()>& step) {
    if (!effects.changes() || !session.current_table) {
        (void)run_as_change(session, step);  // a parameter that changes nothing has no outcome to report
        report_unread_memos(session);
        return;
    }
    if (refuses_memo_writes(session, effects)) return;

    const bool read_only = !session.table().table_handle.is_writable();
    const std::string table_name = session.table().table_file_name;
    const bool dry_run = session.settings.dry_run && !read_only;
    std::optional<TableSnapshot> before;
    if (dry_run) before = take_snapshot(session.table());
    std::string description;
    bool dry_change = false;
    const StepOutcome outcome = run_as_change(session, [&] {
        step();
        if (!dry_run) return;
        // What the change did is measured before it is rolled back. A parameter
        // that rolls itself back would keep nothing.
        if (!session.roll_back_step && session.current_table) {
            const TableSnapshot after = take_snapshot(session.table());
            description = describe_change(effects, *before, after);
            dry_change = description != "would change nothing";
        } else {
            description = "would change nothing";
        }
        session.roll_back_step = true;
    });
    if (read_only && !effects.says_read_only) refuse_parameter(session, effects.display, table_name, kRefusedReadOnly);
    if (dry_run && !description.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s %s\n", table_name.c_str(), effects.display.c_str(), description.c_str());
    }
    if (dry_run ? dry_change : outcome.wrote && outcome.kept) warn_about_companions(session, effects);
    report_unread_memos(session);
}

} // namespace rorarodi
