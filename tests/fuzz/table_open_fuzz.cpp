// Opening a table and reading every field and memo of every record: the table file,
// its memo file and reading options come from the input. Reading never changes a
// file.
#include "fuzz_support.h"
#include "table/field_text.h"
#include "table/memo.h"
#include "table/table.h"

using namespace rorarodi;

namespace {
// Field visits per input, so that a table of many records and fields stays quick.
constexpr size_t kFieldVisits = 20000;
} // namespace

// Input: table file, memo file, options (date mode, trim mode).
RORARODI_FUZZ_TARGET(table_open) {
    static const bool silenced = (fuzzing::silence_standard_output(), true);
    (void)silenced;
    const std::vector<std::string> parts = fuzzing::split_parts(data, size, 3);
    fuzzing::clear_scratch();
    const std::string table_path = fuzzing::scratch_path("t.dbf");
    fuzzing::write_file(table_path, parts[0]);

    DbfTable table;
    if (open_table(table, table_path, false) != OpenResult::opened) return 0;
    if (parts.size() > 1) fuzzing::write_file(table.memo_file_name, parts[1]);
    const std::string memo_before = parts.size() > 1 ? parts[1] : std::string();
    if (parts.size() > 2 && !parts[2].empty()) {
        table.options.date_mode = static_cast<DateMode>(static_cast<uint8_t>(parts[2][0]) % 5);
        if (parts[2].size() > 1) table.options.trim_mode = static_cast<TrimMode>(static_cast<uint8_t>(parts[2][1]) % 4);
    }

    memo_block_size(table);
    size_t visits = 0;
    const uint32_t count = view_record_count(table);
    for (uint32_t position = 0; position < count && visits < kFieldVisits; ++position) {
        if (!read_view_record(table, position)) continue;
        for (size_t i = 0; i < table.field_count() && visits < kFieldVisits; ++i, ++visits) {
            const int field = static_cast<int>(i);
            field_text(table, field);
            field_number(table, field);
            const char type = table.field_table[i].type;
            if (type == 'D' || type == 'T' || type == '@') date_parts_valid(decode_date_parts(table, field));
            if (field_is_memo(table, field)) {
                memo_reference_present(table, field);
                (void)read_memo_text(table, field);  // any result: only a crash is a fault
                (void)read_memo_bytes(table, field);
            }
        }
    }
    close_table(table);

    FUZZ_CHECK(fuzzing::read_file(table_path) == parts[0], "reading changed the table file");
    if (parts.size() > 1)
        FUZZ_CHECK(fuzzing::read_file(table.memo_file_name) == memo_before, "reading changed the memo file");
    return 0;
}
