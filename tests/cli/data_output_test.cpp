// The outputs made for other programs (SQLite databases, JSON, SQL for PostgreSQL and
// SQLite), each read back by the real consumer and compared value by value with the
// source: Python's json and sqlite3 modules, the sqlite3 shell, and a PostgreSQL
// server the test starts itself in a temporary directory, on a Unix socket only.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

RunResult shell(const TempDir& dir, const std::string& command) { return run_command("/bin/sh", {"-c", command}, dir.path()); }

// A PostgreSQL server of its own, stopped (immediately) when the object goes away.
class PostgresServer {
public:
    // Empty `why_not` when the server runs.
    PostgresServer() {
        std::string bin;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error))
            if (std::filesystem::exists(entry.path() / "bin/initdb")) bin = (entry.path() / "bin").string();
        const passwd* user = ::getpwnam("postgres");
        if (bin.empty() || !user || ::getuid() != 0) {
            why_not = "no PostgreSQL server, no postgres user, or not run as root";
            return;
        }
        char dir_template[] = "/tmp/rorarodi-pg-XXXXXX";
        if (!::mkdtemp(dir_template) || ::chown(dir_template, user->pw_uid, user->pw_gid) != 0) {
            why_not = "cannot make the server's directory";
            return;
        }
        dir_ = dir_template;
        pg_ctl_ = "runuser -u postgres -- " + bin + "/pg_ctl -D " + dir_ + "/data";
        const std::string start = "runuser -u postgres -- " + bin + "/initdb -D " + dir_ +
                                  "/data -A trust -U postgres -E UTF8 --locale=C >" + dir_ + "/init.log 2>&1 && " +
                                  pg_ctl_ + " -w -l " + dir_ + "/server.log -o \"-c listen_addresses='' -k " + dir_ +
                                  "\" start >/dev/null";
        started_ = run_command("/bin/sh", {"-c", start}, "/").status == 0;
        if (!started_) why_not = "the server did not start (see " + dir_ + ")";
    }
    ~PostgresServer() {
        if (started_) run_command("/bin/sh", {"-c", pg_ctl_ + " -m immediate stop >/dev/null"}, "/");
        if (!dir_.empty() && started_) std::filesystem::remove_all(dir_);
    }
    // psql as the server's superuser, stopping at the first error.
    std::string psql() const { return "psql -X -q -h " + dir_ + " -U postgres -d postgres -v ON_ERROR_STOP=1"; }

    std::string why_not;

private:
    std::string dir_, pg_ctl_;
    bool started_ = false;
};

// Reads an output back and compares every value with the source. Arguments: the
// reader (json, jsonl, sqlite, pg: JSON lines of row_to_json), the file, the
// table's code page, and how many times the records were written.
constexpr const char* kChecker = R"PY(
import base64, json, sqlite3, sys
from decimal import Decimal as D
kind, path, page, times = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
word = {'866': 'Привет\u0401', '1251': 'Привет\ufffd'}[page]
memo = ''.join('%s %d "q" \'s\'\t\\ \r\n' % (word, i) for i in range(5000))[:70000 - 6]
pic = bytes(range(256))
names = ['NAME', 'QTY', 'PRICE', 'RATIO', 'COUNT', 'RATE', 'CASH', 'BORN', 'SEEN', 'OK', 'NOTE', 'RAW', 'PIC', '_deleted']
rows = [[' ' + word + ' "q" \'s\'\t\\\r\nz', -42, D('139.45052'), D('12345678901.12345'), -7, D('33.33'),
         D('12345.6789'), '2016-02-29', '2016-02-29T12:34:56', True, memo, b'a\0\t\xff', pic, False],
        ['', None, None, None, 0, D(0), D(0), None, None, None, '', b'    ', b'', True],
        ['x', 7, D('-0.5'), D('1E+20'), 2147483647, D('-1E-300'), D('-0.0001'), '9999-12-31', '0001-01-01T00:00:00',
         False, '\\N', b'\\.\n\0', b'\\.\n\0', False]]
def same(want, got):
    if isinstance(want, bytes):
        if isinstance(got, str):
            got = bytes.fromhex(got[2:]) if got.startswith('\\x') else base64.b64decode(got)
        return want == got
    if isinstance(want, D):
        return got is not None and not isinstance(got, bool) and (D(got) == want if not isinstance(got, float) else got == float(want))
    return want == got
if kind == 'sqlite':
    db = sqlite3.connect(path)
    cursor = db.execute('SELECT * FROM "%s" ORDER BY rowid' % ('t' + page))
    got = [dict(zip([c[0] for c in cursor.description], r)) for r in cursor]
else:
    text = open(path, encoding='utf-8').read()
    got = json.loads(text, parse_float=D) if kind == 'json' else [json.loads(l, parse_float=D) for l in text.splitlines()]
want = [dict(zip(names, r)) for r in rows] * times
bad = [(i, k, w[k], g.get(k)) for i, (w, g) in enumerate(zip(want, got)) for k in w if not same(w[k], g.get(k))]
bad += [(i, list(g)) for i, g in enumerate(got) if list(g) != names]
if bad or len(got) != len(want):
    print(len(got), 'records,', len(want), 'wanted;', repr(bad)[:2000])
    sys.exit(1)
print('ok')
)PY";

// The test table in code page 866 or 1251 (by its mark), with a memo file: every
// field type, special characters, a deleted blank record, memos of 70,000 and 0 bytes.
void write_source(const TempDir& dir, const std::string& page) {
    const std::string word = page == "866" ? "\x8F\xE0\xA8\xA2\xA5\xE2\xF0" : "\xCF\xF0\xE8\xE2\xE5\xF2\x98";
    std::string memo;
    for (int i = 0; memo.size() < 70000 - 6; ++i)
        memo += word + " " + std::to_string(i) + " \"q\" 's'\t\\ \r\n";
    memo.resize(70000 - 6);
    memo += std::string("\0\0\0\0\0\0", 6);  // NUL bytes are dropped
    std::string pic;
    for (int i = 0; i < 256; ++i) pic += static_cast<char>(i);
    std::vector<uint32_t> blocks;
    write_file(dir / ("t" + page + ".fpt"), build_foxpro_memo({memo, pic, "", "\\N", std::string("\\.\n\0", 4)}, blocks));
    TableLayout layout;
    layout.version = 0x30;
    layout.extra_header = 263;
    layout.code_page_mark = page == "866" ? 0x65 : 0xC9;
    layout.fields = {{"NAME", 'C', 24}, {"QTY", 'N', 10},  {"PRICE", 'N', 13, 3}, {"RATIO", 'F', 20, 5},
                     {"COUNT", 'I', 4}, {"RATE", 'B', 8, 2}, {"CASH", 'Y', 8},    {"BORN", 'D', 8},
                     {"SEEN", 'T', 8},  {"OK", 'L', 1},    {"NOTE", 'M', 4},      {"RAW", 'C', 4, 0, 0x04},
                     {"PIC", 'G', 4}};
    auto dbl = [](double v) { std::string s(8, '\0'); std::memcpy(s.data(), &v, 8); return s; };
    const std::string zero4(4, '\0'), zero8(8, '\0');
    layout.records = {
        make_record(layout, {" " + word + " \"q\" 's'\t\\\r\n" + std::string("\0z", 2), "-42", "1.3945052E+02",
                             "12345678901.12345", le32(static_cast<uint32_t>(-7)), dbl(33.33),
                             le32(123456789) + zero4, "20160229", le32(2457448) + le32(45296000), "T",
                             le32(blocks[0]), std::string("a\0\t\xff", 4), le32(blocks[1])}),
        make_record(layout, {"", "", "", "", zero4, zero8, zero8, "", zero8, " ", le32(blocks[2]), "", zero4}, true),
        make_record(layout, {"x", "7.00E0", "-.5", "1E+20", le32(2147483647), dbl(-1e-300),
                             le32(static_cast<uint32_t>(-1)) + le32(0xFFFFFFFF), "99991231", le32(1721426) + zero4, "n",
                             le32(blocks[3]), std::string("\\.\n\0", 4), le32(blocks[4])})};
    write_file(dir / ("t" + page + ".dbf"), build_table(layout));
}

// A Visual FoxPro table built byte by byte: nullable fields (null ones still holding
// old bytes), varchar and varbinary values shorter than their width, two fields of
// one name, an N(8,0) holding 1.5, a date-time at .999 s, a record whose flag byte
// is 0x00 (live) and a deleted one; and a dBase III table with bytes in descriptor
// byte 18, which means nothing there.
void write_foxpro_nulls(const TempDir& dir) {
    TableLayout layout;
    layout.version = 0x32;
    layout.extra_header = 263;
    // Bits of _NullFlags: NAME null 0, VC length 1 and null 2, VB length 3, QTY null 4.
    layout.fields = {{"NAME", 'C', 6, 0, 0x02}, {"name", 'C', 4}, {"VC", 'V', 8, 0, 0x02}, {"VB", 'Q', 4},
                     {"QTY", 'N', 8, 0, 0x02},  {"SEEN", 'T', 8}, {"_NullFlags", '0', 1, 0, 0x05}};
    layout.records = {
        make_record(layout, {"ab", "cd", "xyz    \x03", "\x01\x02\x03\x04", "1.5", le32(2457448) + le32(45296999), "\x02"}),
        make_record(layout, {"old", "", "oldvalu\x07", std::string("\x09\0\0\x01", 4), "7", std::string(8, '\0'), "\x1D"}),
        make_record(layout, {"gone", "", "", "", "", std::string(8, '\0'), std::string(1, '\0')}, true)};
    layout.records[1][0] = '\0';
    write_file(dir / "v.dbf", build_table(layout));
    TableLayout dbase3;
    dbase3.fields = {{"NAME", 'C', 5, 0, 0x46}};
    dbase3.records = {make_record(dbase3, {"Hi"})};
    write_file(dir / "d.dbf", build_table(dbase3));
}

constexpr const char* kFoxProRows =
    "{\"NAME\":\"ab\",\"name_2\":\"cd\",\"VC\":\"xyz\",\"VB\":\"AQIDBA==\",\"QTY\":1.5,\"SEEN\":\"2016-02-29T12:34:57\"}\n"
    "{\"NAME\":null,\"name_2\":\"\",\"VC\":null,\"VB\":\"CQ==\",\"QTY\":null,\"SEEN\":null}\n";

// Compares the rows a consumer gives back (JSON lines; bytes as base64 or \\x hex)
// with those of kFoxProRows.
constexpr const char* kFoxProChecker = R"PY(
import base64, json, sqlite3, sys
want = [json.loads(l) for l in open('want.jsonl')]
if sys.argv[1] == 'sqlite':
    cursor = sqlite3.connect(sys.argv[2]).execute('SELECT * FROM v ORDER BY rowid')
    got = [dict(zip([c[0] for c in cursor.description], r)) for r in cursor]
    for g in got: g['VB'] = base64.b64encode(g['VB']).decode()
else:
    got = [json.loads(l) for l in open(sys.argv[2])]
    for g in got: g['VB'] = base64.b64encode(bytes.fromhex(g['VB'][2:])).decode()
print('ok' if got == want else repr(got))
)PY";

struct DataOutputs : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        if (shell(dir, "python3 -c 'import json, sqlite3'").status != 0)
            GTEST_SKIP() << "*** SKIPPED LOUDLY: python3 with its json and sqlite3 modules is missing ***";
        write_file(dir / "check.py", kChecker);
        write_source(dir, "866");
        write_source(dir, "1251");
        write_foxpro_nulls(dir);
        write_file(dir / "want.jsonl", kFoxProRows);
        write_file(dir / "foxpro.py", kFoxProChecker);
    }
    void check(const std::string& kind, const std::string& file, const std::string& page, int times = 2) {
        const RunResult result = shell(dir, "python3 check.py " + kind + " " + file + " " + page + " " + std::to_string(times));
        EXPECT_EQ(result.output, "ok\n") << kind << " " << file << result.errors;
    }
};

TEST_F(DataOutputs, JsonAndSqliteReadBackEveryValue) {
    (void)run_rorarodi(dir, {"/VERSION"});
    for (const char* page : {"866", "1251"}) {
        const std::string t = std::string("t") + page;
        ASSERT_EQ(shell(dir, "./rorarodi " + t + ".dbf /DEL /OUT:" + t + ".jsonl /S:* /S:* && ./rorarodi " + t +
                                 ".dbf /DEL /OUT:" + t + ".json /S:* && ./rorarodi " + t + ".dbf /DEL /OUT:" + t +
                                 ".json /S:* && ./rorarodi " + t + ".dbf /DEL /OUT:out.SQLite3 /S:* /S:* && ./rorarodi " +
                                 t + ".dbf /DEL /SQL:sqlite /OUT:" + t + ".sql /S:* /S:* && sqlite3 " + t + ".db < " + t + ".sql")
                      .status,
                  0);
        check("jsonl", t + ".jsonl", page);
        check("json", t + ".json", page);
        check("sqlite", "out.SQLite3", page);
        check("sqlite", t + ".db", page);
    }
    // A failure rolls the whole export back and says so.
    write_file(dir / "bad.db", "not a database at all");
    const RunResult bad = shell(dir, "./rorarodi t866.dbf /OUT:bad.db /S:*");
    EXPECT_EQ(bad.output, "Can't open bad.db\n");
    EXPECT_EQ(read_file(dir / "bad.db"), "not a database at all");
}

TEST_F(DataOutputs, NullsVarcharsNamesAndDeletionsReachEveryConsumer) {
    EXPECT_EQ(run_rorarodi(dir, {"v.dbf", "/OUT:v.jsonl", "/S:*", "/OUT:v.db", "/S:*"}).status, 0);
    EXPECT_EQ(read_file(dir / "v.jsonl"), kFoxProRows);
    EXPECT_EQ(shell(dir, "python3 foxpro.py sqlite v.db").output, "ok\n");
    // Run twice under /REPLACE, a database holds the rows once.
    for (int run = 0; run < 2; ++run) EXPECT_EQ(run_rorarodi(dir, {"v.dbf", "/REPLACE", "/OUT:r.db", "/S:*"}).status, 0);
    EXPECT_EQ(shell(dir, "python3 foxpro.py sqlite r.db").output, "ok\n");
    // With /DEL every record, only '*' counting as deleted.
    EXPECT_EQ(run_rorarodi(dir, {"v.dbf", "/DEL", "/OUT:-.jsonl", "/S:NAME"}).output,
              "{\"NAME\":\"ab\",\"_deleted\":false}\n{\"NAME\":null,\"_deleted\":false}\n"
              "{\"NAME\":\"gone\",\"_deleted\":true}\n");
    // While data goes to standard output, messages go to standard error.
    const RunResult piped = shell(dir, "./rorarodi v.dbf /OUT:-.csv /S:NOPE /OUT /S:NOPE");
    EXPECT_EQ(piped.output, "Invalid field[s]...\n");
    EXPECT_EQ(piped.errors, "Invalid field[s]...\n");
    // Byte 18 of a dBase III descriptor is no flag: the text stays text.
    EXPECT_EQ(run_rorarodi(dir, {"d.dbf", "/OUT:-.jsonl", "/S:*"}).output, "{\"NAME\":\"Hi\"}\n");
    // A table without fields makes no empty CREATE TABLE.
    TableLayout no_fields;
    no_fields.extra_header = 40;
    write_file(dir / "z.dbf", build_table(no_fields));
    const RunResult none = run_rorarodi(dir, {"z.dbf", "/SQL:postgres", "/OUT:z.sql", "/S:*"});
    EXPECT_EQ(none.output, "No fields to write: z.dbf\n");
    EXPECT_EQ(none.status, 2);
    EXPECT_FALSE(file_exists(dir / "z.sql"));
    // The text forms: a null value blank, a varchar up to its length, the time rounded.
    EXPECT_EQ(run_rorarodi(dir, {"v.dbf", "/S:NAME;VC;QTY;SEEN"}).output,
              "ab    |xyz|       2|20160229123457\n      |        |       0|              \n"
              "gone  |        |       0|              \n");
}

// Rows go into SQLite in batches: every row arrives once and in order, in a full
// batch or in the rest; a row refused inside a batch rolls the whole export back.
TEST_F(DataOutputs, SqliteBatchesKeepEveryRowInOrder) {
    TableLayout layout;
    layout.fields = {{"N", 'N', 5}, {"T", 'C', 4}, {"R", 'N', 7, 2}};
    for (int i = 1; i <= 131; ++i)
        layout.records.push_back(make_record(layout, {std::to_string(i), "t" + std::to_string(i), std::to_string(i) + ".25"}));
    write_file(dir / "b.dbf", build_table(layout));
    EXPECT_EQ(run_rorarodi(dir, {"b.dbf", "/OUT:b.db", "/S:*"}).status, 0);
    EXPECT_EQ(shell(dir, "python3 -c \"import sqlite3; rows = sqlite3.connect('b.db').execute('SELECT * FROM b ORDER BY rowid')"
                         ".fetchall(); print('ok' if rows == [(i, 't%d' % i, i + 0.25) for i in range(1, 132)] else rows)\"")
                  .output,
              "ok\n");
    ASSERT_EQ(shell(dir, "python3 -c \"import sqlite3; c = sqlite3.connect('c.db'); "
                         "c.execute('CREATE TABLE b (N INTEGER CHECK (N <> 100), T TEXT, R REAL)'); c.commit()\"")
                  .status,
              0);
    const RunResult refused = shell(dir, "./rorarodi b.dbf /OUT:c.db /S:*");
    EXPECT_EQ(refused.output, "Can't write c.db\n");
    EXPECT_EQ(refused.errors, "rorarodi: c.db: CHECK constraint failed: N <> 100\n");
    EXPECT_EQ(shell(dir, "python3 -c \"import sqlite3; print(sqlite3.connect('c.db').execute('SELECT COUNT(*) FROM b').fetchone()[0])\"")
                  .output,
              "0\n");
}

// Outputs that exist already: an empty JSON array, SQLite tables whose columns have
// other letter cases or refuse a row (SQLite's reason on standard error).
TEST_F(DataOutputs, ExistingArraysAndTables) {
    write_file(dir / "e.json", "[]\n");
    EXPECT_EQ(run_rorarodi(dir, {"v.dbf", "/OUT:e.json", "/S:NAME;NAME"}).status, 0);
    EXPECT_EQ(read_file(dir / "e.json"), "[\n{\"NAME\":\"ab\"},\n{\"NAME\":null}\n]\n");
    ASSERT_EQ(shell(dir, "python3 -c \"import sqlite3; c = sqlite3.connect('l.db'); "
                         "c.execute('CREATE TABLE v (name TEXT, qty)'); c.commit()\" && "
                         "python3 -c \"import sqlite3; c = sqlite3.connect('c.db'); "
                         "c.execute('CREATE TABLE v (NAME TEXT CHECK (NAME IS NULL))'); c.commit()\"")
                  .status,
              0);
    EXPECT_EQ(run_rorarodi(dir, {"v.dbf", "/OUT:l.db", "/S:NAME;QTY;NAME"}).status, 0);
    EXPECT_EQ(shell(dir, "python3 -c \"import sqlite3; print(sqlite3.connect('l.db').execute('SELECT * FROM v').fetchall())\"")
                  .output,
              "[('ab', 1.5), (None, None)]\n");
    const RunResult refused = shell(dir, "./rorarodi v.dbf /OUT:c.db /S:NAME");
    EXPECT_EQ(refused.output, "Can't write c.db\n");
    EXPECT_EQ(refused.errors, "rorarodi: c.db: CHECK constraint failed: NAME IS NULL\n");
    EXPECT_EQ(refused.status, 2);
}

TEST_F(DataOutputs, PostgresLoadsTheStructureAndTheRows) {
    PostgresServer server;
    if (!server.why_not.empty()) GTEST_SKIP() << "*** SKIPPED LOUDLY: PostgreSQL: " << server.why_not << " ***";
    (void)run_rorarodi(dir, {"/VERSION"});
    for (const char* page : {"866", "1251"}) {
        const std::string t = std::string("t") + page;
        // The structure first, then rows only; a new file of its own carries both.
        ASSERT_EQ(shell(dir, "./rorarodi " + t + ".dbf /DEL /SQL:postgres /OUT:" + t + ".sql /S:* /S:* && " +
                                 server.psql() + " -f " + t + ".sql && " + server.psql() + " -At -c 'SELECT row_to_json(r) FROM \"" +
                                 t + "\" r' >" + t + ".pg")
                      .status,
                  0);
        check("pg", t + ".pg", page);
    }
    const RunResult structure =
        shell(dir, "./rorarodi t866.dbf /SQL:postgres /STRUCT:s.sql /OUT:s.sql /S:* && " + server.psql() +
                       " -c 'DROP TABLE t866' -f s.sql && " + server.psql() + " -At -c 'SELECT count(*) FROM t866'");
    EXPECT_EQ(structure.output, "2\n") << structure.errors;  // the deleted record left out

    // A folder into one file, written twice under /REPLACE: each table once, whole.
    const std::string folder = "./rorarodi '*.dbf' /REPLACE /SQL:postgres /OUT:all.sql /S:*";
    ASSERT_EQ(shell(dir, folder + " && " + folder).status, 0);
    const RunResult loaded = shell(dir, server.psql() + " -c 'DROP TABLE t866, t1251' -f all.sql && " + server.psql() +
                                            " -At -c 'SELECT row_to_json(r) FROM v r' >v.pg && python3 foxpro.py pg v.pg");
    EXPECT_EQ(loaded.output, "ok\n") << loaded.errors;
}

} // namespace
