#include "table/memo.h"

#include "platform/paths.h"
#include "table/dbf_format.h"

namespace rorarodi {

std::string make_memo_file_name(const std::string& table_file_name, int kind) {
    PathParts parts = split_path(table_file_name);
    return parts.drive + parts.directory + parts.name + ".dbt";
}

int derive_table_kind(DbfTable& table) {
    int kind = table.level7 ? kKindLevel7 : kind_for_version(table.version());
    table.table_kind = kind;
    table.memo_file_name = make_memo_file_name(table.table_file_name, kind);
    table.memo_slot.reset();
    return kind;
}

uint32_t memo_block_size(DbfTable&) { return 0; }
std::optional<std::string> read_memo_text(DbfTable&, int) { return std::nullopt; }
std::optional<std::string> read_memo_bytes(DbfTable&, int) { return std::nullopt; }
bool write_memo_text(DbfTable&, int, const std::string&) { return false; }
bool write_memo_bytes(DbfTable&, int, const std::string&) { return false; }

} // namespace rorarodi
