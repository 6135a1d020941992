#include "commands/sort.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "commands/record_lists.h"
#include "expr/field_list.h"
#include "expr/filter.h"
#include "platform/change.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "session/console.h"
#include "session/messages.h"
#include "session/session.h"
#include "table/cipher.h"
#include "table/create.h"
#include "table/dbf_format.h"
#include "table/field_text.h"
#include "table/record_appender.h"
#include "table/row_sort.h"
#include "table/table_write.h"

namespace rorarodi {

namespace {

constexpr size_t kCopyBlockBytes = 1024 * 1024;

// True when the new table's records are laid out as the old table's, so that
// whole records can be copied: creation fixes some lengths by type, and a table
// with unusual ones would come out different.
bool same_record_layout(const DbfTable& a, const DbfTable& b) {
    if (a.record_length() != b.record_length() || a.field_count() != b.field_count()) return false;
    for (size_t i = 0; i < a.field_count(); ++i) {
        const int field = static_cast<int>(i);
        if (a.field_table[i].offset != b.field_table[i].offset || a.field_table[i].type != b.field_table[i].type ||
            field_width(a, field) != field_width(b, field))
            return false;
    }
    return true;
}

// Copies the whole file behind `from` into a new file `name`; false when a read or
// write fails.
[[nodiscard]] bool copy_file(FileHandle& from, const std::string& name) {
    FileHandle to = create_file(name);
    if (!to || !from.seek(0)) return false;
    std::vector<uint8_t> block(kCopyBlockBytes);
    for (;;) {
        const long long got = from.read(block.data(), block.size());
        if (got < 0) return false;
        if (got == 0) return true;
        if (!to.write(block.data(), static_cast<size_t>(got))) return false;
    }
}

// Writes the table's own header (everything before the first record) into a new
// file `name`: the sorted table keeps the version byte, the flags, every descriptor
// and the area after them. False when a read or write fails.
[[nodiscard]] bool copy_header(FileHandle& from, uint16_t header_length, const std::string& name) {
    std::vector<uint8_t> header(header_length);
    if (!from.seek(0)) return false;
    const long long got = from.read(header.data(), header.size());
    // The temporary table never replaces a file of that name; what this parameter
    // created is removed when it fails.
    FileHandle to = create_new_file(name);
    return to && got >= 0 && to.write(header.data(), static_cast<size_t>(got));
}

// Writes the records of `table` in `order` into a new table `temp_name` with the
// table's own header (no memo file: the memo references stay valid); only the
// record count and the date of the header change. False, with the message printed
// and no temporary file left, when that fails; a temporary table that cannot be
// read back is fatal.
[[nodiscard]] bool write_sorted_copy(Session& session, DbfTable& table, const OrderList& order,
                       const std::string& temp_name) {
    if (!copy_header(table.table_handle, table.header_length(), temp_name)) {
        report_failure(session, kCantCreate, temp_name);
        return false;
    }
    DbfTable temp;
    OpenResult opened = open_table(temp, temp_name, false);
    if (opened == OpenResult::cannot_open) {
        report_failure(session, kCantOpenTemporaryFile);
        return false;
    }
    if (opened != OpenResult::opened || !same_record_layout(table, temp)) {
        // A level 7 header with more than its descriptors, alone in a file shorter
        // than 128 bytes, reads as a standard one. Records are copied whole, so the
        // temporary table then starts as a copy of the whole table file, and the
        // sorted records are written over the old ones.
        close_table(temp);
        opened = copy_file(table.table_handle, temp_name) ? open_table(temp, temp_name, false) : OpenResult::cannot_open;
        if (opened == OpenResult::invalid_header || opened == OpenResult::field_error) {
            close_table(temp);
            fail_with_name(kFatalCantCreateOutputFile, temp_name);
        }
    }
    bool written = opened == OpenResult::opened && same_record_layout(table, temp);
    if (written) temp.set_record_count(0);
    if (written) {
        // The sorted file takes the place of the table: it gets its permissions.
        struct stat status {};
        if (fstat(table.table_handle.fd(), &status) == 0) (void)fchmod(temp.table_handle.fd(), status.st_mode & 07777);
        // The sorted file is written enciphered when the table has a password.
        copy_password(table, temp);
        // The records are held in memory within what the sorting budget leaves
        // beside the order.
        const uint64_t budget = sort_memory_budget();
        written = copy_records_in_order(table, temp, order, budget - std::min(budget, order.memory_bytes()));
    }
    close_table(temp);
    if (!written) {
        report_failure(session, kCantCreate, temp_name);
    }
    return written;
}

// Keeps the table file under the backup name and puts the temporary file in its
// place in one step. False, with the message printed, when either step fails; the
// change of the parameter then puts everything back.
[[nodiscard]] bool swap_in_sorted_file(Session& session, const std::string& table_name, const std::string& backup_name,
                         const std::string& temp_name) {
    if (!keep_file_as(table_name, backup_name)) {
        report_failure(session, kCantCreate, backup_name);
        return false;
    }
    if (!replace_file(temp_name, table_name)) {
        report_failure(session, kCantCreate, table_name);
        return false;
    }
    return true;
}

} // namespace

void handle_order(Session& session, const std::string& argument) {
    trace_enter(session, "Order");
    if (argument.empty()) {
        report_failure(session, kFieldsRequiredForOrder);
    } else if (!order_table(session.table(), argument)) {
        report_failure(session, kInvalidFields);
    } else if (session.comparison_table && !order_table(*session.comparison_table, argument)) {
        report_failure(session, kInvalidFields);
    }
    trace_leave(session, "Order");
}

void handle_sort(Session& session, const std::string& argument) {
    trace_enter(session, "Sort");
    if (argument.empty()) {
        report_failure(session, kFieldsRequiredForSort);
        return;
    }
    DbfTable& table = session.table();
    // Names past the 22nd are ignored.
    std::vector<int> fields;
    if (!parse_field_list(table, argument, fields, kSortFieldLimit)) {
        report_failure(session, kInvalidFields);
        return;
    }
    handle_clear(session, "");
    // A table opened read-only is never rewritten.
    if (!table_writable(table)) {
        trace_leave(session, "Sort");
        return;
    }
    const std::string table_name = table.table_file_name;
    const std::string backup_name = table.backup_file_name;
    const std::string temp_name = with_extension(table_name, ".tmp");
    // A table named like its temporary file or its backup (extension ".tmp" or
    // ".bak") would be overwritten by the one or replaced by the other.
    for (const std::string* name : {&temp_name, &backup_name}) {
        if (names_open_file(*name, table.table_handle)) {
            report_failure(session, kCantCreate, *name);
            return;
        }
    }

    table.order_fields = fields;
    std::optional<OrderList> order;
    build_order(table, order);
    if (!write_sorted_copy(session, table, *order, temp_name)) return;
    order.reset();

    close_table(table);
    const bool swapped = swap_in_sorted_file(session, table_name, backup_name, temp_name);

    auto reopened = std::make_unique<DbfTable>();
    if (open_table(*reopened, table_name, false) != OpenResult::opened)
        fail_with_name(kFatalCantReopenFile, table_name);
    reopened->options = table.options;
    // The password too: the reopened table reads and writes as before the sort.
    copy_password(table, *reopened);
    // The backup just made holds the table as it was before the sort; a later
    // write under /BAK must not replace it with the sorted file.
    reopened->backup_done = swapped && reopened->options.backup_option;
    if (reopened->options.hide_deleted) apply_filter(*reopened, kResetMarker);
    session.current_table = std::move(reopened);
    trace_leave(session, "Sort");
}

} // namespace rorarodi
