#include "driver/all_or_nothing.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "commands/code_pages.h"
#include "platform/change.h"
#include "session/console.h"
#include "session/messages.h"
#include "table/cipher.h"
#include "table/memo.h"
#include "table/table_write.h"

namespace rorarodi {

namespace {

// After a rollback the table in memory may describe the undone change (record
// count, header, lists): it is read again, keeping its options, password, and its
// view and order of the records that are still there.
void reload_current_table(Session& session) {
    if (!session.current_table) return;
    DbfTable& old = session.table();
    const std::string name = old.table_file_name;
    note_file_seen(name);
    auto fresh = std::make_unique<DbfTable>();
    if (open_table(*fresh, name, !table_writable(old)) != OpenResult::opened) fail_with_name("Can't reopen file:", name);
    fresh->options = old.options;
    copy_password(old, *fresh);
    fresh->backup_done = old.backup_done;
    // The view and order stay, without the records the undone change had added.
    fresh->filter = old.filter;
    fresh->order_list = std::move(old.order_list);
    // The view lists records; the order lists positions in the view.
    const uint32_t count = fresh->record_count();
    auto& view = fresh->filter.view_list;
    if (view) std::erase_if(*view, [count](uint32_t record) { return record >= count; });
    const size_t positions = view ? view->size() : count;
    if (fresh->order_list && !fresh->order_list->erase_if([positions](uint32_t position) { return position >= positions; }))
        fresh->order_list.reset();  // an order that cannot be read back is no order
    std::copy(old.record_buffer.begin(), old.record_buffer.end(), fresh->record_buffer.begin());
    session.current_table = std::move(fresh);
}

} // namespace

StepOutcome run_as_change(Session& session, const std::function<void()>& step) {
    // A table that another process changed or replaced since this run read it is
    // read again from its name, so that this parameter changes what the name holds.
    if (session.current_table && table_writable(session.table())) {
        const DbfTable& table = session.table();
        const std::string memo = memo_file_path(table);
        if (file_exists(table.table_file_name) &&
            (!names_open_file(table.table_file_name, table.table_handle) || changed_since_seen(table.table_file_name) ||
             (!memo.empty() && changed_since_seen(memo))))
            reload_current_table(session);
    }
    begin_change();
    std::string table_name;
    if (session.current_table) {
        DbfTable& table = session.table();
        table_name = table.table_file_name;
        if (table_writable(table)) guard_table(table.table_file_name, memo_file_path(table));
    }
    bool out_of_memory = false;
    session.roll_back_step = false;
    try {
        step();
    } catch (const std::bad_alloc&) {
        out_of_memory = true;
    }
    const bool roll_back = session.roll_back_step;
    session.roll_back_step = false;
    const ChangeOutcome outcome = finish_change(!out_of_memory && !roll_back);
    if (!outcome.failure && !out_of_memory) {
        if (roll_back) reload_current_table(session);
        return {outcome.wrote, !roll_back};
    }
    // The reason is all the message a memory shortage has: no file is to blame.
    const std::string reason = out_of_memory ? "Not enough memory" : describe_failure(*outcome.failure);
    if (outcome.committed)
        report_change_failure(session, reason, table_name, ChangeEnd::made);
    else if (outcome.rollback_failure)
        report_change_failure(session, reason, table_name, ChangeEnd::not_put_back,
                              describe_failure(*outcome.rollback_failure));
    else
        report_change_failure(session, reason, table_name, ChangeEnd::unchanged);
    if (!outcome.committed && !outcome.rollback_failure) reload_current_table(session);
    return {outcome.wrote, outcome.committed};
}

bool settle_interrupted_change(Session& session, const std::string& table_name, bool read_only) {
    if (read_only) {
        if (!has_interrupted_change(table_name)) return true;
        refuse_interrupted_change(session, table_name);
        return false;
    }
    const Recovery recovery = recover_interrupted_change(table_name);
    // The table as it is now, before it is read: a later change of it by another
    // process is seen.
    note_file_seen(table_name);
    switch (recovery.result) {
    case RecoveryResult::nothing: return true;
    case RecoveryResult::rolled_back:
        std::printf("Rolled back an interrupted change of %s\n", table_name.c_str());
        return true;
    case RecoveryResult::completed:
        std::printf("Completed an interrupted change of %s\n", table_name.c_str());
        return true;
    case RecoveryResult::locked:
        // Nothing was interrupted: another process is changing the table now.
        report_change_failure(session, describe_failure(*recovery.failure), table_name, ChangeEnd::unchanged);
        return false;
    case RecoveryResult::failed: break;
    }
    report_failed_recovery(session, table_name,
                           recovery.failure ? describe_failure(*recovery.failure) : "unknown reason");
    return false;
}

bool has_change_journal(const std::string& table_name) { return has_journal(table_name); }

void forget_seen_tables() { forget_seen_files(); }

} // namespace rorarodi
