// Every parameter that changes files, ended or failed at each call that changes a
// file (the test build counts them; RORARODI_FAULT picks one): afterwards the
// directory holds exactly what it held before the parameter or after it.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

using Snapshot = std::map<std::string, std::string>;

// Every file of the directory but the program's link, by name.
Snapshot snapshot(const TempDir& dir) {
    Snapshot files;
    DIR* listing = ::opendir(dir.path().c_str());
    while (dirent* entry = listing ? ::readdir(listing) : nullptr) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == "rorarodi") continue;
        files[name] = read_file(dir / name);
    }
    if (listing) ::closedir(listing);
    return files;
}

// True when `now` is the state `after` a change that another run made: a table's
// date of last change is the day of its run, and runs on either side of midnight
// must not be told apart by it. A state before the change is compared whole.
bool is_after(Snapshot now, Snapshot after) {
    for (Snapshot* files : {&now, &after})
        for (auto& [name, bytes] : *files)
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dbf") == 0 && bytes.size() >= 4)
                bytes.replace(1, 3, 3, '\0');
    return now == after;
}

// A FoxPro table with memos, a deleted record, a duplicate, a set index flag and a
// header that undercounts its records; a copy to append from; a structure file.
void prepare(const TempDir& dir) {
    TableLayout layout;
    layout.version = 0xF5;
    layout.fields = {{"NAME", 'C', 6}, {"NOTE", 'M', 10}};
    std::vector<uint32_t> blocks;
    const std::string memo = build_foxpro_memo({"first memo", "second \x8E memo", "third"}, blocks, 64);
    layout.records = {make_record(layout, {"Zoe", memo_reference_text(blocks[0])}),
                      make_record(layout, {"Anna", memo_reference_text(blocks[1])}, true),
                      make_record(layout, {"Zoe", memo_reference_text(blocks[0])}),
                      make_record(layout, {"Boris\x8E", memo_reference_text(blocks[2])})};
    layout.header_record_count = 3;
    std::string table = build_table(layout);
    table[28] = 1;
    write_file(dir / "t.dbf", table);
    write_file(dir / "t.fpt", memo);
    write_file(dir / "o.dbf", table);
    write_file(dir / "o.fpt", memo);
    write_file(dir / "s.txt", "NAME C 8\nID N 4 INC:1\n");
    if (!file_exists(dir / "rorarodi")) (void)::symlink(RORARODI_BINARY, (dir / "rorarodi").c_str());
}

RunResult run_with(const TempDir& dir, const std::vector<std::string>& environment,
                   const std::vector<std::string>& arguments) {
    // Syncs are counted (and fail or end the process) but not waited for.
    std::vector<std::string> all = environment;
    all.push_back("RORARODI_UNSAFE_NO_SYNC=1");
    all.push_back("./rorarodi");
    all.push_back("t.dbf");
    all.insert(all.end(), arguments.begin(), arguments.end());
    return run_command("/usr/bin/env", all, dir.path());
}

// The number of calls that change a file when `arguments` run in `dir` now.
int count_calls(const TempDir& dir, const std::vector<std::string>& arguments) {
    const std::string count_file = dir / "../" + std::to_string(::getpid()) + ".calls";
    (void)run_with(dir, {"RORARODI_FAULT_COUNT=" + count_file}, arguments);
    const std::string text = file_exists(count_file) ? read_file(count_file) : "0";
    std::remove(count_file.c_str());
    return std::stoi(text);
}

// A copy of a directory with its second names (hard links) kept.
void copy_directory(const TempDir& from, const TempDir& to) {
    ASSERT_EQ(run_command("/bin/cp", {"-a", from.path() + "/.", to.path()}, to.path()).status, 0);
}

// The parameters that make, replace or keep files under other names: their
// interrupted playback is interrupted again at each of its own calls, wherever the
// first interruption left such names (hidden ones) to undo.
bool replaces_or_creates(const std::vector<std::string>& arguments) {
    for (const char* keyword : {"/PACK", "/SORT", "/MODIFY", "/MAKE", "/STRUCT", "/OUT", "/BAK"})
        if (arguments.front().rfind(keyword, 0) == 0) return true;
    return false;
}

bool has_hidden_files(const Snapshot& files) {
    for (const auto& [name, bytes] : files)
        if (name[0] == '.') return true;
    return false;
}

class EveryCallPoint : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(EveryCallPoint, EndsBeforeOrAfterAndFailsUnchanged) {
    const std::vector<std::string>& arguments = GetParam();
    TempDir counted;
    prepare(counted);
    const Snapshot before = snapshot(counted);
    const std::string count_file = counted / "../" + std::to_string(::getpid()) + ".calls";
    RunResult clean = run_with(counted, {"RORARODI_FAULT_COUNT=" + count_file}, arguments);
    ASSERT_EQ(clean.status, 0) << clean.output;
    const Snapshot after = snapshot(counted);
    ASSERT_NE(after, before);
    const int calls = std::stoi(read_file(count_file));
    std::remove(count_file.c_str());
    ASSERT_GT(calls, 0);

    for (int n = 1; n <= calls; ++n) {
        SCOPED_TRACE("call " + std::to_string(n) + " of " + std::to_string(calls));
        {
            TempDir dir;
            prepare(dir);
            RunResult killed = run_with(dir, {"RORARODI_FAULT=kill:" + std::to_string(n)}, arguments);
            EXPECT_EQ(killed.status, 128 + SIGKILL);
            // The playback killed at each of its calls, then played again.
            const int playback_calls = replaces_or_creates(arguments) && has_hidden_files(snapshot(dir)) ? [&] {
                TempDir trial;
                copy_directory(dir, trial);
                return count_calls(trial, {"/COUNT"});
            }() : 0;
            for (int k = 1; k <= playback_calls; ++k) {
                SCOPED_TRACE("playback killed at call " + std::to_string(k));
                TempDir again;
                copy_directory(dir, again);
                EXPECT_EQ(run_with(again, {"RORARODI_FAULT=kill:" + std::to_string(k)}, {"/COUNT"}).status,
                          128 + SIGKILL);
                RunResult reopened = run_with(again, {}, {"/COUNT"});
                EXPECT_EQ(reopened.status, 0) << reopened.output;
                const Snapshot now = snapshot(again);
                EXPECT_TRUE(now == before || is_after(now, after)) << reopened.output;
            }
            // Opening for writing settles the interrupted change.
            RunResult reopened = run_with(dir, {}, {"/COUNT"});
            EXPECT_EQ(reopened.status, 0) << reopened.output;
            const Snapshot now = snapshot(dir);
            EXPECT_TRUE(now == before || is_after(now, after)) << reopened.output;
        }
        for (const char* error : {"ENOSPC", "EIO"}) {
            TempDir dir;
            prepare(dir);
            RunResult failed =
                run_with(dir, {"RORARODI_FAULT=fail:" + std::to_string(n) + ":" + error}, arguments);
            const char* reason = std::string(error) == "EIO" ? "Input/output error" : "No space left on device";
            if (failed.output == "Can't create file: st.dbf") {
                EXPECT_EQ(failed.status, 1);  // a fatal message of its own
            } else {
                EXPECT_EQ(failed.status, 2) << error;
                EXPECT_NE(failed.output.find(std::string(": ") + reason), std::string::npos) << failed.output;
            }
            // Only a failure after the commit leaves the change made, and says so;
            // what it left to tidy is tidied at the next open.
            const bool made = failed.output.find("the change of t.dbf is made") != std::string::npos;
            if (made) run_with(dir, {}, {"/COUNT"});
            EXPECT_TRUE(made ? is_after(snapshot(dir), after) : snapshot(dir) == before) << error << ": " << failed.output;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllOrNothing, EveryCallPoint,
    testing::Values(std::vector<std::string>{"/PACK"}, std::vector<std::string>{"/PACK:memo"},
                    std::vector<std::string>{"/PACK:dbf"}, std::vector<std::string>{"/ZAP"},
                    std::vector<std::string>{"/TRUNC:2"}, std::vector<std::string>{"/TRUNC:6"},
                    std::vector<std::string>{"/APPEND:3"}, std::vector<std::string>{"/APPEND:blank"},
                    std::vector<std::string>{"/BAK", "/DELETE:1"}, std::vector<std::string>{"/RECALL:all"},
                    std::vector<std::string>{"/CPZERO:101"}, std::vector<std::string>{"/CDX"},
                    std::vector<std::string>{"/CHECK"},
                    std::vector<std::string>{"/FIELD:NAME='Zed';NOTE='new'", "/UPDATE"},
                    std::vector<std::string>{"/DELDUPES"}, std::vector<std::string>{"+o.dbf"},
                    std::vector<std::string>{"/SORT:NAME"}, std::vector<std::string>{"/MODIFY:s.txt"},
                    std::vector<std::string>{"/ENCODE:key"}, std::vector<std::string>{"/DECODE:key"},
                    std::vector<std::string>{"/OEM2ANSI"}, std::vector<std::string>{"/ANSI2OEM"},
                    std::vector<std::string>{"/MAKE:m.dbf"}, std::vector<std::string>{"/STRUCT:st.dbf"},
                    std::vector<std::string>{"/OUT:x.dbf", "/S:*"}, std::vector<std::string>{"/OUT:x.sqlite", "/S:*"}));

// A text export that fails at any call leaves its file as it was: its old bytes,
// or no file when it was new. A JSON array is cut open only for records.
TEST(AllOrNothing, TextExportsFailWhole) {
    for (const char* name : {"x.csv", "x.jsonl", "x.sql", "x.xml", "x.htm", "x.txt", "x.prg", "x.json"}) {
        for (const bool existing : {false, true}) {
            SCOPED_TRACE(std::string(name) + (existing ? " existing" : " new"));
            const std::vector<std::string> arguments = {std::string("/OUT:") + name, "/S:*"};
            TempDir counted;
            prepare(counted);
            if (existing) write_file(counted / name, "[\n{\"old\":1}\n]\n");
            const Snapshot before = snapshot(counted);
            const std::string count_file = counted / "../" + std::to_string(::getpid()) + ".calls";
            ASSERT_EQ(run_with(counted, {"RORARODI_FAULT_COUNT=" + count_file}, arguments).status, 0);
            const Snapshot after = snapshot(counted);
            const int calls = std::stoi(read_file(count_file));
            std::remove(count_file.c_str());
            for (int n = 1; n <= calls; ++n) {
                TempDir dir;
                prepare(dir);
                if (existing) write_file(dir / name, "[\n{\"old\":1}\n]\n");
                const RunResult failed = run_with(dir, {"RORARODI_FAULT=fail:" + std::to_string(n)}, arguments);
                EXPECT_EQ(failed.status, 2) << n;
                // Only a failure after the commit (a directory sync) leaves the export made.
                // What it left to tidy is tidied at the next open.
                const bool made = failed.output.find("the change of t.dbf is made") != std::string::npos;
                if (made) run_with(dir, {}, {"/COUNT"});
                EXPECT_TRUE(made ? is_after(snapshot(dir), after) : snapshot(dir) == before) << n << ": " << failed.output;
            }
        }
    }
    // No record: the array stays closed, byte for byte.
    TempDir dir;
    prepare(dir);
    write_file(dir / "x.json", "[\n{\"old\":1}\n]\n");
    EXPECT_EQ(run_with(dir, {}, {"/FILTER:NAME='none'", "/OUT:x.json", "/S:*"}).status, 0);
    EXPECT_EQ(read_file(dir / "x.json"), "[\n{\"old\":1}\n]\n");
}

// An interrupted change is refused read-only and rolled back on the next open for
// writing; a second writer waits for the lock and then gives up.
TEST(AllOrNothing, ReadOnlyRefusalAndLocks) {
    TempDir dir;
    prepare(dir);
    const Snapshot before = snapshot(dir);
    EXPECT_EQ(run_with(dir, {"RORARODI_FAULT=kill:12"}, {"/PACK"}).status, 128 + SIGKILL);
    ASSERT_TRUE(file_exists(dir / "t.dbf.journal"));
    RunResult refused = run_command(dir / "rorarodi", {"#t.dbf", "/COUNT"}, dir.path());
    EXPECT_EQ(refused.output, "t.dbf has an interrupted change: open it for writing to roll it back\n");
    EXPECT_EQ(refused.status, 2);
    RunResult recovered = run_with(dir, {}, {"/COUNT"});
    EXPECT_EQ(recovered.output, "Rolled back an interrupted change of t.dbf\n4\n");
    EXPECT_EQ(snapshot(dir), before);

    // Another open file holds the lock: readers go on, a writer fails after its wait.
    const int fd = ::open((dir / "t.dbf").c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
    EXPECT_EQ(run_with(dir, {"RORARODI_LOCK_WAIT_MS=100"}, {"/COUNT", "/ZAP", "/COUNT"}).output,
              "4\nCan't lock t.dbf: another process is changing it; t.dbf is unchanged\n4\n");
    ::close(fd);
    EXPECT_EQ(snapshot(dir), before);
}

// Past a tiny sorting budget the keys, the order and the duplicates' hashes go
// through scratch files. Ended or failed at any call, the directory holds what it
// held before or after (no scratch file stays), the result is the in-memory one,
// and an append under an order on disk that is rolled back leaves the order as it
// was.
TEST(AllOrNothing, SpilledWorkAtEveryCallPoint) {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 6}};
    for (int i = 0; i < 300; ++i)
        layout.records.push_back(make_record(layout, {std::string(1, static_cast<char>('a' + i % 7)) + std::to_string(i % 5)},
                                             i % 11 == 0));
    const std::string table = build_table(layout);
    const auto prepare_table = [&](const TempDir& dir) {
        write_file(dir / "t.dbf", table);
        write_file(dir / "o.dbf", table);
        (void)::symlink(RORARODI_BINARY, (dir / "rorarodi").c_str());
    };
    const std::string tiny = "RORARODI_SORT_MEMORY=1K";
    TempDir listed;
    prepare_table(listed);
    const std::string listing = run_with(listed, {tiny}, {"/ORDER:NAME", "/S:*"}).output;
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"/DELDUPES"}, {"/SORT:NAME"}, {"/ORDER:NAME", "+o.dbf", "/S:*"}}) {
        SCOPED_TRACE(arguments.front());
        TempDir counted, in_memory;
        prepare_table(counted);
        prepare_table(in_memory);
        const Snapshot before = snapshot(counted);
        const std::string count_file = counted / "../" + std::to_string(::getpid()) + ".calls";
        const RunResult clean = run_with(counted, {tiny, "RORARODI_FAULT_COUNT=" + count_file}, arguments);
        ASSERT_EQ(clean.status, 0) << clean.output;
        const Snapshot after = snapshot(counted);
        const int calls = std::stoi(read_file(count_file));
        std::remove(count_file.c_str());
        const RunResult unspilled = run_with(in_memory, {}, arguments);
        EXPECT_EQ(unspilled.output, clean.output);
        EXPECT_TRUE(is_after(snapshot(in_memory), after));
        for (int n = 1; n <= calls; ++n) {
            SCOPED_TRACE("call " + std::to_string(n) + " of " + std::to_string(calls));
            TempDir killed_dir, failed_dir;
            prepare_table(killed_dir);
            prepare_table(failed_dir);
            EXPECT_EQ(run_with(killed_dir, {tiny, "RORARODI_FAULT=kill:" + std::to_string(n)}, arguments).status,
                      128 + SIGKILL);
            (void)run_with(killed_dir, {}, {"/COUNT"});
            const Snapshot now = snapshot(killed_dir);
            EXPECT_TRUE(now == before || is_after(now, after));
            const RunResult failed = run_with(failed_dir, {tiny, "RORARODI_FAULT=fail:" + std::to_string(n)}, arguments);
            const bool made = failed.output.find("the change of t.dbf is made") != std::string::npos;
            if (made) (void)run_with(failed_dir, {}, {"/COUNT"});
            const Snapshot settled = snapshot(failed_dir);
            // A failed scratch file only sends the work back into memory.
            EXPECT_TRUE((made ? is_after(settled, after) : settled == before) ||
                        (is_after(settled, after) && failed.output == clean.output))
                << failed.output;
            if (arguments.size() == 3 && settled == before) {
                EXPECT_EQ(failed.output.substr(failed.output.size() - std::min(failed.output.size(), listing.size())),
                          listing);
            }
        }
    }
}

} // namespace
