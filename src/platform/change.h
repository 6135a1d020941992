// All-or-nothing changes of tables and their memo files.
//
// The driver opens one change around each parameter and guards the current table
// and its memo file. While it is open:
// - before a guarded file is first written or cut, the table and its memo file are
//   locked (a second writer waits, then fails), and a journal is created beside the
//   table; the original length of each guarded file and the original bytes of every
//   range about to be overwritten or cut go into it, synced before the file is
//   touched;
// - files created, renamed into place or kept under a second name are noted in the
//   journal first;
// - finishing syncs every file touched (and their directories) and removes the
//   journal: that is the commit. A failure of any call makes finishing play the
//   journal back instead, which restores every guarded file and undoes the renames
//   and creations; a process that dies leaves the journal for the next open.
#pragma once
#include <optional>
#include <string>

#include "platform/disk.h"

namespace rorarodi {

class FileHandle;

// Opens the change of one parameter. Nothing is written until a guarded file changes.
void begin_change();
// True between begin_change and finish_change.
bool change_open();
// Guards a table file and its memo file (empty or missing: none) in the open change.
void guard_table(const std::string& table_path, const std::string& memo_path);
// Records a failed call (the first one counts); the open change is then rolled back.
void note_disk_failure(DiskOp op, const std::string& path, int error);
// The first failure of the open change, if any.
const std::optional<DiskFailure>& change_failure();

struct ChangeOutcome {
    std::optional<DiskFailure> failure;           // why the change was rolled back
    std::optional<DiskFailure> rollback_failure;  // the journal stays for the next open
    bool wrote = false;                           // a journal was made (something changed)
    bool committed = false;                       // the change stays (a failure came after the commit)
};
// Commits the open change, or rolls it back when a call failed or `keep` is false.
ChangeOutcome finish_change(bool keep = true);

// Hooks of FileHandle. The descriptor a write or truncation goes to (the file's
// own, or the new file that replaces it), after the original bytes are saved; -1
// (the failure noted) when they cannot be, so the write must not happen.
int before_file_write(const FileHandle& file, uint64_t offset, size_t count);
int before_file_truncate(const FileHandle& file, uint64_t length);
// A read of a file being rewritten into its replacement: what the rewriting wrote,
// the original elsewhere. -2 when the file has no replacement.
long long read_through_replacement(const FileHandle& file, void* buffer, size_t count, uint64_t offset);
// The length of a file being rewritten, as the rewriting sees it.
std::optional<uint64_t> replaced_size(const FileHandle& file);

// Asks that the guarded file behind `file`, about to be rewritten whole, be written
// into a new file beside it that takes its place when the change commits (its
// original bytes then need no saving; links to the old file keep the old content).
// Nothing when the file is not guarded or was already written in this change.
void rewrite_by_replacement(const FileHandle& file);
// Notes a file written in the open change, to be synced when it commits.
void note_file_written(const std::string& path);

// A hidden name beside `path` that no file has: ".name.XXXXXXXX.new".
std::string temporary_name_for(const std::string& path);
// Creates `path` exclusively (never replacing a file), noted so that a rollback
// removes it. A closed handle on failure, the failure noted (errno EEXIST when a
// file of that name exists).
FileHandle create_new_file(const std::string& path);
// Renames `from` over `to` in one step, giving it the mode, owner and group of the
// file it replaces; a rollback puts the old `to` back. False, the failure noted.
[[nodiscard]] bool replace_file(const std::string& from, const std::string& to);
// Makes `copy_name` hold the file `path` as it is now (a second name of it, or a
// copy where the file system has no second names), replacing any file of that name.
[[nodiscard]] bool keep_file_as(const std::string& path, const std::string& copy_name);
// Removes a file made in the open change (or any file outside one); false, noted.
[[nodiscard]] bool remove_new_file(const std::string& path);

// The journal's name beside a table: "name.journal".
std::string journal_name(const std::string& table_path);
// True when the journal of an interrupted change lies beside the table and no
// process is changing the table now.
bool has_interrupted_change(const std::string& table_path);

enum class RecoveryResult { nothing, rolled_back, completed, failed };
struct Recovery {
    RecoveryResult result = RecoveryResult::nothing;
    std::optional<DiskFailure> failure;
};
// Plays back the journal of an interrupted change of the table, if any, under the
// table's lock: every guarded file gets its original bytes and length back, and
// files created or renamed by the change are removed or renamed back. A change
// that had committed (only the old files' second names were left to remove) is
// completed instead.
Recovery recover_interrupted_change(const std::string& table_path);

} // namespace rorarodi
