// All-or-nothing changes of tables and their memo files: the state of the open change.
//
// The driver opens one change around each parameter and guards the current table
// and its memo file. While it is open:
// - before a guarded file is first written or cut, the table and its memo file are
//   locked under their names (a second writer waits, then fails), and a journal
//   is created beside the table (change_journal.h); the original length of each
//   guarded file and the original bytes of every range about to be overwritten or
//   cut go into it, synced before the file is touched. Files rewritten whole are
//   rewritten in place the same way;
// - new files are made under hidden names noted first, and reach a visible name as
//   a second name of the hidden file; a file that a new one replaces is kept under
//   a hidden name first. Each such name is made durable (its directory synced)
//   before a step relies on it;
// - finishing syncs every file written (and their directories once each) and
//   removes the journal: that is the commit (with a commit entry first when hidden
//   names are left to remove). A failure of any call makes finishing play the
//   journal back instead (change_playback.h); a process that dies leaves the
//   journal for the next open.
#pragma once
#include <optional>
#include <string>

#include "platform/change_hooks.h"
#include "platform/disk.h"

namespace rorarodi {

class FileHandle;

// Opens the change of one parameter. Nothing is written until a guarded file changes.
void begin_change();
// True between begin_change and finish_change.
bool change_open();
// Guards a table file and its memo file (empty or missing: none) in the open change.
void guard_table(const std::string& table_path, const std::string& memo_path);
// The first failure of the open change, if any.
const std::optional<DiskFailure>& change_failure();

struct ChangeOutcome {
    std::optional<DiskFailure> failure;           // why the change was rolled back
    std::optional<DiskFailure> rollback_failure;  // the journal stays for the next open
    bool wrote = false;                           // a journal was made (something changed)
    bool committed = false;                       // the change stays (a failure came after the commit)
};
// Commits the open change, or rolls it back when a call failed. With `keep` false
// it rolls the change back on purpose (a trial run, a refused result): every file
// is put back as it was before the change began.
ChangeOutcome finish_change(bool keep = true);

// A hidden name beside `path` that no file has: ".name.XXXXXXXX.new".
std::string temporary_name_for(const std::string& path);
// Creates `path` exclusively (never replacing a file), noted so that a rollback
// removes it. A closed handle on failure, the failure noted (errno EEXIST when a
// file of that name exists).
FileHandle create_new_file(const std::string& path);
// Puts `from` in the place of `to` in one step, giving it the mode, owner and group
// of the file it replaces; a rollback puts the old `to` back. False, the failure noted.
[[nodiscard]] bool replace_file(const std::string& from, const std::string& to);
// Makes `copy_name` hold the file `path` as it is now (a second name of it, or a
// copy where the file system has no second names), replacing any file of that name.
[[nodiscard]] bool keep_file_as(const std::string& path, const std::string& copy_name);
// Removes a file made in the open change (or any file outside one); false, noted.
[[nodiscard]] bool remove_new_file(const std::string& path);

// Remembers a table file as this process sees it now (before reading it), and
// tells whether another process changed it since.
void note_file_seen(const std::string& path);
bool changed_since_seen(const std::string& path);
void forget_seen_files();

// The journal's name beside a table: "name.journal".
std::string journal_name(const std::string& table_path);
// True when a journal lies beside the table (whether or not the table exists).
bool has_journal(const std::string& table_path);
// True when the journal of an interrupted change lies beside the table and no
// process is changing the table now.
bool has_interrupted_change(const std::string& table_path);

enum class RecoveryResult { nothing, rolled_back, completed, failed, locked };
struct Recovery {
    RecoveryResult result = RecoveryResult::nothing;
    std::optional<DiskFailure> failure;
};
// Plays back the journal of an interrupted change of the table, if any, under the
// table's lock: every guarded file gets its original bytes and length back, and
// names made by the change go. A change that had committed (only hidden names were
// left to remove) is completed instead. `locked`: another process holds the table.
Recovery recover_interrupted_change(const std::string& table_path);

} // namespace rorarodi
