// The change machinery under what goes wrong around it: a second process, a lost
// table name, a damaged journal, a user's file with a work file's name, a recovery
// that fails; and the system calls whose order makes a change durable.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

// Three named records and a deleted one, with a FoxPro memo file.
void prepare(const TempDir& dir) {
    TableLayout layout;
    layout.version = 0xF5;
    layout.fields = {{"NAME", 'C', 6}, {"AGE", 'N', 3}, {"NOTE", 'M', 10}};
    std::vector<uint32_t> blocks;
    const std::string memo = build_foxpro_memo({"first memo", "second memo"}, blocks, 64);
    layout.records = {make_record(layout, {"Zoe", "30", memo_reference_text(blocks[0])}),
                      make_record(layout, {"Anna", "0", memo_reference_text(blocks[1])}, true),
                      make_record(layout, {"Boris", "40", memo_reference_text(blocks[1])}),
                      make_record(layout, {"Carl", "50", ""})};
    write_file(dir / "t.dbf", build_table(layout));
    write_file(dir / "t.fpt", memo);
    if (!file_exists(dir / "rorarodi")) (void)::symlink(RORARODI_BINARY, (dir / "rorarodi").c_str());
}

RunResult run_in(const TempDir& dir, const std::vector<std::string>& environment,
                 const std::vector<std::string>& arguments, bool no_sync = true) {
    std::vector<std::string> all = environment;
    if (no_sync) all.push_back("RORARODI_UNSAFE_NO_SYNC=1");
    all.push_back("./rorarodi");
    all.insert(all.end(), arguments.begin(), arguments.end());
    return run_command("/usr/bin/env", all, dir.path());
}

int calls_of(const TempDir& dir, const std::vector<std::string>& arguments) {
    const std::string count_file = dir / "../" + std::to_string(::getpid()) + ".count";
    (void)run_in(dir, {"RORARODI_FAULT_COUNT=" + count_file}, arguments);
    const int calls = std::stoi(file_exists(count_file) ? read_file(count_file) : "0");
    std::remove(count_file.c_str());
    return calls;
}

std::string last_line(const std::string& output) {
    std::string text = output;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    const size_t newline = text.rfind('\n');
    return newline == std::string::npos ? text : text.substr(newline + 1);
}

// One writer rewrites or replaces the table while another appends to it, with
// random delays: every append that reports success is in the table, the pack is
// made or not as it reports, and nothing is left half done.
TEST(ChangeSurvival, TwoProcessesOnOneTable) {
    std::srand(static_cast<unsigned>(::getpid()));
    TempDir model;
    prepare(model);
    // Enough records that a pack takes a while.
    ASSERT_EQ(run_in(model, {}, {"t.dbf", "/APPEND:30000"}).status, 0);
    for (int round = 0; round < 12; ++round) {
        TempDir dir;
        prepare(dir);
        write_file(dir / "t.dbf", read_file(model / "t.dbf"));
        // The pack rewrites the table in place, the sort puts a new file in its place.
        const std::string replacing = round % 2 ? "/PACK" : "/SORT:NAME";
        const std::string script = "sleep 0.0" + std::to_string(std::rand() % 10) +
                                   "; ./rorarodi t.dbf " + replacing + " >pack.out; echo $? >pack.status & sleep 0.0" +
                                   std::to_string(std::rand() % 10) +
                                   "; ./rorarodi t.dbf /APPEND:1 >append.out; echo $? >append.status; wait";
        (void)run_command("/bin/sh", {"-c", "RORARODI_LOCK_WAIT_MS=20000 " + script}, dir.path());
        const bool packed = read_file(dir / "pack.status") == "0\n";
        const bool appended = read_file(dir / "append.status") == "0\n";
        SCOPED_TRACE(read_file(dir / "pack.out") + read_file(dir / "append.out"));
        RunResult count = run_in(dir, {}, {"t.dbf", "/COUNT"});
        EXPECT_EQ(count.output, std::to_string(30004 - (packed && round % 2 ? 1 : 0) + (appended ? 1 : 0)) + "\n");
        EXPECT_FALSE(file_exists(dir / "t.dbf.journal"));
        // A sort reported as made leaves the blank appended names first.
        const std::string table = read_file(dir / "t.dbf");
        const size_t first_record = static_cast<unsigned char>(table[8]) | static_cast<unsigned char>(table[9]) << 8;
        if (packed && !(round % 2)) EXPECT_EQ(table.substr(first_record + 1, 6), "      ");
    }
}

// A journal whose table name is missing (the name lost at the wrong moment) is
// played back when the table is named, and brings the table back.
TEST(ChangeSurvival, JournalOfAMissingTableIsPlayedBack) {
    TempDir reference;
    prepare(reference);
    const std::string before = read_file(reference / "t.dbf");
    const int calls = calls_of(reference, {"t.dbf", "/SORT:NAME"});
    bool tried = false;
    for (int n = 1; n <= calls && !tried; ++n) {
        TempDir dir;
        prepare(dir);
        (void)run_in(dir, {"RORARODI_FAULT=kill:" + std::to_string(n)}, {"t.dbf", "/SORT:NAME"});
        struct stat st {};
        // The kill came at the rename that puts the sorted table in place: the old
        // one has its backup name and the hidden name that keeps it.
        if (!file_exists(dir / "t.dbf.journal") || ::stat((dir / "t.dbf").c_str(), &st) != 0 || st.st_nlink < 3 ||
            read_file(dir / "t.dbf") != before)
            continue;
        tried = true;
        ASSERT_EQ(::unlink((dir / "t.dbf").c_str()), 0);
        RunResult recovered = run_in(dir, {}, {"t.dbf", "/COUNT"});
        EXPECT_EQ(recovered.output, "Rolled back an interrupted change of t.dbf\n4\n");
        EXPECT_EQ(read_file(dir / "t.dbf"), before);
    }
    EXPECT_TRUE(tried);
}

// An entry cut short by a crash fails its check value and is not played back: the
// damaged original bytes are never written over the table.
TEST(ChangeSurvival, TornJournalEntryIsIgnored) {
    TempDir reference;
    prepare(reference);
    const std::string before = read_file(reference / "t.dbf");
    const int calls = calls_of(reference, {"t.dbf", "/APPEND:1"});
    // The last call before the table's first write: the journal holds its entries.
    int chosen = 0;
    for (int n = 1; n <= calls; ++n) {
        TempDir dir;
        prepare(dir);
        (void)run_in(dir, {"RORARODI_FAULT=kill:" + std::to_string(n)}, {"t.dbf", "/APPEND:1"});
        if (read_file(dir / "t.dbf") != before) break;
        if (file_exists(dir / "t.dbf.journal") && read_file(dir / "t.dbf.journal").size() > 16) chosen = n;
    }
    ASSERT_GT(chosen, 0);
    TempDir dir;
    prepare(dir);
    (void)run_in(dir, {"RORARODI_FAULT=kill:" + std::to_string(chosen)}, {"t.dbf", "/APPEND:1"});
    std::string journal = read_file(dir / "t.dbf.journal");
    journal[journal.size() - 6] ^= 0x5A;  // inside the last entry's original bytes
    write_file(dir / "t.dbf.journal", journal);
    EXPECT_EQ(run_in(dir, {}, {"t.dbf", "/COUNT"}).status, 0);
    EXPECT_EQ(read_file(dir / "t.dbf"), before);
}

// A user's file that has a work file's name is never removed nor replaced,
// whichever call fails or ends the run.
TEST(ChangeSurvival, UsersFileWithAWorkFileName) {
    for (const auto& [work_file, parameter] : std::map<std::string, std::string>{
             {"t.tmp", "/SORT:NAME"}, {"$temp$.dbf", "/MODIFY:s.txt"}}) {
        TempDir reference;
        prepare(reference);
        write_file(reference / "s.txt", "NAME C 8\n");
        write_file(reference / work_file, "keep");
        const int calls = calls_of(reference, {"t.dbf", parameter});
        EXPECT_EQ(read_file(reference / work_file), "keep");
        for (int n = 1; n <= calls; ++n)
            for (const std::string fault : {"kill:", "fail:"}) {
                TempDir dir;
                prepare(dir);
                write_file(dir / "s.txt", "NAME C 8\n");
                write_file(dir / work_file, "keep");
                (void)run_in(dir, {"RORARODI_FAULT=" + fault + std::to_string(n) + ":EIO"}, {"t.dbf", parameter});
                (void)run_in(dir, {}, {"t.dbf", "/COUNT"});
                EXPECT_EQ(read_file(dir / work_file), "keep") << parameter << " " << fault << n;
            }
    }
}

// A table rewritten whole (in place or by a new file) keeps its mode.
TEST(ChangeSurvival, RewrittenTableKeepsItsMode) {
    for (const std::vector<std::string>& parameters :
         {std::vector<std::string>{"/DELETE:1", "/PACK"}, {"/ENCODE:k"}, {"/SORT:NAME"}, {"/OEM2ANSI"},
          {"/MODIFY:s.txt"}}) {
        TempDir dir;
        prepare(dir);
        write_file(dir / "s.txt", "NAME C 8\nNOTE M\n");
        for (const char* name : {"t.dbf", "t.fpt"}) ASSERT_EQ(::chmod((dir / name).c_str(), 0600), 0);
        std::vector<std::string> arguments = {"t.dbf"};
        arguments.insert(arguments.end(), parameters.begin(), parameters.end());
        EXPECT_EQ(run_in(dir, {}, arguments).status, 0);
        for (const char* name : {"t.dbf", "t.fpt"}) {
            struct stat st {};
            ASSERT_EQ(::stat((dir / name).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u) << parameters.back() << " " << name;
        }
    }
}

// After a rollback that changed the record count, the view of the table is made
// again: the count is the one before the failed parameter.
TEST(ChangeSurvival, ViewAfterARollback) {
    TempDir reference;
    prepare(reference);
    const std::vector<std::string> arguments = {"t.dbf", "/F:AGE}0", "/APPEND:2", "/COUNT"};
    const std::string before = last_line(run_in(reference, {}, {"t.dbf", "/F:AGE}0", "/COUNT"}).output);
    const int calls = calls_of(reference, arguments);
    int rolled_back = 0;
    for (int n = 1; n <= calls; ++n) {
        TempDir dir;
        prepare(dir);
        RunResult failed = run_in(dir, {"RORARODI_FAULT=fail:" + std::to_string(n) + ":EIO"}, arguments);
        if (failed.output.find("t.dbf is unchanged") == std::string::npos) continue;
        ++rolled_back;
        EXPECT_EQ(last_line(failed.output), before) << "call " << n << ": " << failed.output;
    }
    EXPECT_GT(rolled_back, 3);
}

// A journal that cannot be played back stays, the table is refused and the run
// fails; a journal under another process's lock is no interrupted change.
TEST(ChangeSurvival, FailedRecoveryAndLiveLocks) {
    TempDir dir;
    prepare(dir);
    ASSERT_EQ(::mkdir((dir / "t.dbf.journal").c_str(), 0700), 0);
    RunResult refused = run_in(dir, {}, {"t.dbf", "/COUNT"});
    EXPECT_EQ(refused.output,
              "Can't roll back the interrupted change of t.dbf: Can't read t.dbf.journal: Is a directory\n");
    EXPECT_EQ(refused.status, 2);
    ASSERT_EQ(::rmdir((dir / "t.dbf.journal").c_str()), 0);

    // A change in progress elsewhere: readers read, a writer says who holds the table.
    write_file(dir / "t.dbf.journal", "RRJOUR2\n12345678");
    const int fd = ::open((dir / "t.dbf").c_str(), O_RDWR | O_CLOEXEC);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
    EXPECT_EQ(run_in(dir, {}, {"#t.dbf", "/COUNT"}).output, "4\n");
    EXPECT_EQ(run_in(dir, {"RORARODI_LOCK_WAIT_MS=50"}, {"t.dbf", "/COUNT"}).output,
              "Can't lock t.dbf: another process is changing it; t.dbf is unchanged\n");
    ::close(fd);
    ASSERT_EQ(::unlink((dir / "t.dbf.journal").c_str()), 0);

    // A read lock held elsewhere keeps writers out; a lock let go within the wait
    // lets the writer in.
    const int reader = ::open((dir / "t.dbf").c_str(), O_RDONLY | O_CLOEXEC);
    lock.l_type = F_RDLCK;
    ASSERT_EQ(::fcntl(reader, F_OFD_SETLK, &lock), 0);
    EXPECT_EQ(run_in(dir, {"RORARODI_LOCK_WAIT_MS=50"}, {"t.dbf", "/ZAP", "/COUNT"}).output,
              "Can't lock t.dbf: another process is changing it; t.dbf is unchanged\n4\n");
    std::thread release([reader] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::close(reader);
    });
    EXPECT_EQ(run_in(dir, {"RORARODI_LOCK_WAIT_MS=3000"}, {"t.dbf", "/ZAP", "/COUNT"}).output, "0\n");
    release.join();
}

// The order of the system calls that makes a change durable: every journal entry
// is synced before the write it covers, and the directory is synced once names
// are made.
TEST(ChangeSurvival, SyncsComeBeforeTheStepsTheyCover) {
    if (!file_exists("/usr/bin/strace")) GTEST_SKIP() << "strace is missing";
    TempDir dir;
    prepare(dir);
    const std::string log = dir / "../" + std::to_string(::getpid()) + ".strace";
    // The leak checker cannot run under a tracer.
    RunResult traced = run_command("/usr/bin/env", {"ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-o", log, "-e",
                                                    "trace=openat,pwrite64,fsync,fdatasync", "./rorarodi", "t.dbf",
                                                    "/APPEND:1", "/DELETE:1", "/PACK"},
                                   dir.path());
    ASSERT_EQ(traced.status, 0) << traced.output;
    std::istringstream lines(read_file(log));
    std::remove(log.c_str());
    std::map<std::string, std::string> fds;  // descriptor -> name
    std::set<std::string> directory_fds;
    bool journal_unsynced = false, directory_synced = false;
    int table_writes = 0;
    const std::regex open_call(R"re(openat\(AT_FDCWD, "([^"]*)", ([A-Z_|]+).*= (\d+))re");
    const std::regex fd_call(R"re((pwrite64|fsync|fdatasync)\((\d+))re");
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_search(line, m, open_call)) {
            fds[m[3]] = m[1];
            if (m[2].str().find("O_DIRECTORY") != std::string::npos)
                directory_fds.insert(m[3]);
            else
                directory_fds.erase(m[3]);
        } else if (std::regex_search(line, m, fd_call)) {
            const std::string name = fds[m[2]];
            const bool journal = name.find(".journal") != std::string::npos;
            if (m[1] == "pwrite64" && journal) journal_unsynced = true;
            if (m[1] != "pwrite64" && journal) journal_unsynced = false;
            if (m[1] == "fsync" && directory_fds.count(m[2])) directory_synced = true;
            if (m[1] == "pwrite64" && name == "t.dbf") {
                ++table_writes;
                EXPECT_FALSE(journal_unsynced) << line;
            }
        }
    }
    EXPECT_GT(table_writes, 2);
    EXPECT_TRUE(directory_synced);
}

// A table the program appended to is one it reads back, whatever its version.
TEST(ChangeSurvival, AppendedSmallTablesOpenAgain) {
    for (const uint8_t version : {0x02, 0x03, 0x30, 0x43, 0x83, 0x8B, 0xF5, 0xFB}) {
        for (size_t records = 0; records <= 10; ++records) {
            TempDir dir;
            TableLayout layout;
            layout.version = version;
            layout.fields = {{"A", 'C', 1}, {"", 'C', 1}};
            for (size_t i = 0; i < records; ++i) layout.records.push_back(make_record(layout, {"x", "y"}));
            write_file(dir / "t.dbf", build_table(layout));
            SCOPED_TRACE(std::to_string(version) + " with " + std::to_string(records) + " records");
            EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/APPEND:1"}).status, 0);
            EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/COUNT"}).output, std::to_string(records + 1) + "\n");
        }
    }
}

} // namespace
