#include "commands/duplicates.h"

#include <cstdio>
#include <new>
#include <optional>

#include "session/session.h"
#include "table/duplicates.h"
#include "table/row_sort.h"
#include "table/table_write.h"

namespace rorarodi {

void handle_deldupes(Session& session, const std::string&) {
    DbfTable& table = session.table();
    // Like every other change, nothing happens to a table that cannot be written;
    // reporting records as deleted that are not would be wrong.
    if (view_record_count(table) < 2 || !table_writable(table)) return;
    std::optional<DuplicatesDeleted> deleted;
    try {
        // The search keeps within the sorting budget.
        deleted = delete_duplicates(table, sort_memory_budget());
    } catch (const std::bad_alloc&) {
        return;  // without the memory to compare, nothing is marked and nothing said
    }
    // A backup that cannot be made leaves the table unchanged, and nothing is said.
    if (!deleted) return;
    const uint32_t marked = deleted->marked;
    if (session.settings.show_names) std::printf("%-18s : ", table.table_file_name.c_str());
    if (marked == 1)
        std::printf("%u record has been deleted.\n", marked);
    else if (marked > 1)
        std::printf("%u records have been deleted.\n", marked);
    else
        std::printf("Duplicated records not found.\n");
}

} // namespace rorarodi
