#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

// Reads t.dbf with dbfread and with Python's dbf, and compares every value of the
// live and the deleted records with the program's own CSV of them (live.csv,
// deleted.csv). Prints one line per reader and kind, or the values that differ.
constexpr const char* kReadBack = R"(import csv, datetime, shutil, sys, dbf, dbfread
kind = sys.argv[1]
def rows(name): return list(csv.reader(open(name, newline='', encoding='latin-1')))[1:]
def same(text, value):
    if isinstance(value, bool): return text == ('T' if value else 'F')
    if value is None: return text.strip() in ('', '?')
    if isinstance(value, datetime.datetime): return value.strftime('%Y%m%d%H%M%S') == text
    if isinstance(value, datetime.date): return value.strftime('%Y%m%d') == text
    if isinstance(value, (int, float)) or type(value).__name__ == 'Decimal':  # CSV leaves zeros empty
        return abs(float(text or 0) - float(value)) <= 1e-9 * max(1.0, abs(float(value)))
    return str(value).rstrip() == text.rstrip()
def check(reader, live, deleted, skipped=()):
    bad = [(i, t[:40], repr(v)[:40]) for want, got in ((rows('live.csv'), live), (rows('deleted.csv'), deleted))
           for i, (w, g) in enumerate(zip(want, got))
           for c, (t, v) in enumerate(zip(w, g)) if c not in skipped and not same(t, v)]
    counts = (len(rows('live.csv')), len(rows('deleted.csv'))) == (len(live), len(deleted))
    print(kind, reader, 'same' if counts and not bad else 'differs: %r %s' % (counts, bad[:3]))
# dbfread takes every dBase IV memo block as 512 bytes and its length as the data's:
# it reads that table without its memo file.
name = shutil.copy('t.dbf', 'n.dbf') if kind == 'dbase4' else 't.dbf'
t = dbfread.DBF(name, encoding='latin-1', char_decode_errors='replace', ignore_missing_memofile=True)
memos = [c for c, f in enumerate(t.fields) if f.type == 'M'] if kind == 'dbase4' else ()
check('dbfread', [list(r.values()) for r in t], [list(r.values()) for r in t.deleted], memos)
try:
    table = dbf.Table('t.dbf', codepage='cp1252')
    table.open(dbf.READ_ONLY)
except Exception as error:
    print(kind, 'dbf cannot open this kind:', type(error).__name__)
    sys.exit()
values = [(dbf.is_deleted(r), [None if v is dbf.Null or v is None else v for v in r]) for r in table]
check('dbf', [v for d, v in values if not d], [v for d, v in values if d])
)";

TEST(ReadersInterop, WrittenTablesReadBackByOtherReaders) {
    // The system's Python holds the Debian packages when another python3 comes first.
    std::string python;
    for (const char* candidate : {"python3", "/usr/bin/python3"})
        if (python.empty() && std::system((std::string(candidate) + " -c 'import dbf, dbfread' >/dev/null 2>&1").c_str()) == 0)
            python = candidate;
    if (python.empty()) GTEST_SKIP() << "python3-dbf or python3-dbfread missing (.ci/install-tools installs them)";
    struct Kind {
        const char* name;
        const char* structure;
        const char* extra_values;  // assignments of the fields only this kind has
    } kinds[] = {
        {"dbase3", "NAME C 20\nQTY N 8 2\nBORN D\nOK L\nNOTE M\n", ""},
        {"dbase4", "NAME C 20\nQTY N 8 2\nBORN D\nOK L\nNOTE M\nRATE F 12 4\n", ";RATE=0.125"},
        {"foxpro", "NAME C 20\nQTY N 8 2\nBORN D\nOK L\nNOTE M\nRATE F 12 4\n", ";RATE=0.125"},
        {"vfp", "NAME C 20\nQTY N 8 2\nBORN D\nOK L\nNOTE M\nRATE F 12 4\nCNT I\nCASH Y\nSEEN T\nRATIO B 8 2\n",
         ";RATE=0.125;CNT=-42;CASH=12.3456;SEEN='20240131123456';RATIO=3.25"},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        TempDir dir;
        write_file(dir / "s.txt", kind.structure);
        write_file(dir / "m.txt", "NAME C 20\n");
        ASSERT_EQ(run_rorarodi(dir, {std::string("/CREATE:s.txt,") + kind.name, "t.dbf"}).status, 0);
        std::vector<std::string> arguments = {"t.dbf"};
        int n = 0;
        for (size_t length : {0, 511, 512, 513, 70000}) {
            const std::string name = "r" + std::to_string(++n);
            arguments.push_back("/FIELD:NAME='" + name + "';QTY=" + std::to_string(n) + ".5;BORN='2024013" +
                                std::to_string(n % 2) + "';OK='" + (n % 2 ? "T" : "F") + "';NOTE='" +
                                std::string(length, 'a' + n) + "'" + kind.extra_values);
            arguments.push_back("/APPEND");
        }
        for (const char* step : {"/APPEND:blank", "/FIELD:QTY=QTY*2", "/UPDATE", "/DELETE:1", "/PACK", "/DELETE:2",
                                 "/SORT:NAME", "/MODIFY:m.txt", "/TRUNC:8"})
            arguments.push_back(step);
        ASSERT_EQ(run_rorarodi(dir, arguments).status, 0);
        run_rorarodi(dir, {"t.dbf", "/DELETED-", "/OUT:live.csv", "/HDR", "/MEMO:text", "/S:*"});
        run_rorarodi(dir, {"t.dbf", "/DELETEDONLY", "/OUT:deleted.csv", "/HDR", "/MEMO:text", "/S:*"});
        write_file(dir / "read.py", kReadBack);
        RunResult r = run_command("/bin/sh", {"-c", python + " -W ignore read.py " + kind.name + " 2>&1"}, dir.path());
        EXPECT_EQ(r.output.find("differs"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find(std::string(kind.name) + " dbfread same"), std::string::npos) << r.output;
        EXPECT_TRUE(r.output.find(std::string(kind.name) + " dbf same") != std::string::npos ||
                    r.output.find(std::string(kind.name) + " dbf cannot open") != std::string::npos)
            << r.output;
    }
}

} // namespace
