// Seed inputs for every target, written with the test table builder: tables of
// every kind and field type with memo files of every format, calculator texts,
// filter conditions, and list files.
#include <functional>
#include <map>

#include "fuzz_support.h"
#include "table_builder.h"

using namespace testing_support;

namespace fuzzing {

namespace {

using Seeds = std::vector<std::pair<std::string, std::string>>;

// OEM (866) texts with letters that change under conversion.
const std::vector<std::string> kMemoTexts = {"Privet \x8F\xE0\xA8\xA2\xA5\xE2", "\x80\x81\x82\r\nline two",
                                             std::string(600, '\xA0')};

struct MemoKind {
    const char* name;
    uint8_t version;
    unsigned reference_width;  // 4: binary block number
    std::function<std::string(const std::vector<std::string>&, std::vector<uint32_t>&)> build;
    size_t extra_header = 0;
    bool level7 = false;
};

const std::vector<MemoKind>& memo_kinds() {
    static const std::vector<MemoKind> kinds = {
        {"dbase3", 0x83, 10, [](auto& m, auto& b) { return build_dbase3_memo(m, b); }},
        {"dbase4", 0x8B, 10, [](auto& m, auto& b) { return build_dbase4_memo(m, b, 512); }},
        {"dbase4_small_blocks", 0x8B, 10, [](auto& m, auto& b) { return build_dbase4_memo(m, b, 64); }},
        {"foxpro", 0xF5, 10, [](auto& m, auto& b) { return build_foxpro_memo(m, b, 64); }},
        {"visual_foxpro", 0x30, 4, [](auto& m, auto& b) { return build_foxpro_memo(m, b, 64); }, 263},
        {"smt", 0xE5, 10, [](auto& m, auto& b) { return build_smt_memo(m, b, 32); }},
        {"level7", 0x8C, 10, [](auto& m, auto& b) { return build_dbase4_memo(m, b, 512); }, 0, true},
    };
    return kinds;
}

std::string reference(const MemoKind& kind, uint32_t block, size_t length) {
    if (kind.version == 0xE5) return std::string(2, '\0') + le32(static_cast<uint32_t>(length)) + le32(block);
    return kind.reference_width == 4 ? le32(block) : memo_reference_text(block, kind.reference_width);
}

// A table of character, number, date and logical fields and a memo field (and, for
// Visual FoxPro, a binary-flagged character field and a General field), with its
// memo file.
std::pair<std::string, std::string> memo_table(const MemoKind& kind) {
    std::vector<uint32_t> blocks;
    const std::string memo = kind.build(kMemoTexts, blocks);
    TableLayout layout;
    layout.version = kind.version;
    layout.level7 = kind.level7;
    layout.extra_header = kind.extra_header;
    layout.fields = {{"NAME", 'C', 12}, {"AGE", 'N', 3}, {"PRICE", 'N', 8, 2}, {"BORN", 'D', 8}, {"OK", 'L', 1},
                     {"NOTES", 'M', kind.reference_width}};
    if (kind.version == 0x30) {
        layout.fields.push_back({"RAW", 'C', 4, 0, 0x04});
        layout.fields.push_back({"PICTURE", 'G', 4});
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
        std::vector<std::string> values = {i == 0 ? "\x8F\xE0\xA8\xA2\xA5\xE2" : "Name " + std::to_string(i),
                                           std::to_string(20 + i), "12.5" + std::to_string(i), "1999123" + std::to_string(i),
                                           i % 2 ? "T" : "F", reference(kind, blocks[i], kMemoTexts[i].size())};
        if (kind.version == 0x30) {
            values.push_back("\x80\x81\x82\x83");
            values.push_back(le32(blocks[(i + 1) % blocks.size()]));
        }
        layout.records.push_back(make_record(layout, values, i == 1));
    }
    return {build_table(layout), memo};
}

// A table of every other field type, without memo file.
std::string typed_table() {
    TableLayout layout;
    layout.version = 0x30;
    layout.extra_header = 263;
    layout.fields = {{"WIDE", 'C', 300},  {"F", 'F', 10, 3}, {"T", 'T', 8}, {"Y", 'Y', 8}, {"B", 'B', 8},
                     {"I", 'I', 4},      {"V", 'V', 6},     {"Q", 'Q', 4}, {"Z", '0', 1}, {"STAMP", '@', 8},
                     {"AUTO", '+', 4},   {"O", 'O', 8}};
    const std::string bytes8("\x00\x00\x00\x00\x00\x00\xF0\x3F", 8);
    layout.records = {
        make_record(layout, {"wide", "-1.250", std::string("\x25\x8C\x25\x00\x80\xEE\x36\x00", 8), le32(15000) + le32(0),
                             bytes8, le32(7), "abc", "\x01\x02", "\x00", le32(2451545) + le32(3600000),
                             le32(1), bytes8}),
        make_record(layout, {}, true),
    };
    return build_table(layout);
}

Seeds table_open_seeds() {
    Seeds seeds;
    for (const MemoKind& kind : memo_kinds()) {
        auto [table, memo] = memo_table(kind);
        seeds.push_back({kind.name, join_parts({table, memo})});
        seeds.push_back({std::string(kind.name) + "_dates", join_parts({table, memo, std::string("\x01\x03", 2)})});
    }
    seeds.push_back({"typed", typed_table()});
    seeds.push_back({"typed_dates", join_parts({typed_table(), "", std::string("\x02\x01", 2)})});
    return seeds;
}

Seeds convert_seeds() {
    Seeds seeds;
    for (const MemoKind& kind : memo_kinds()) {
        auto [table, memo] = memo_table(kind);
        seeds.push_back({std::string(kind.name) + "_oem2ansi", join_parts({table, memo})});
        seeds.push_back({std::string(kind.name) + "_ansi2oem", join_parts({table, memo, std::string("\x01\x01", 2)})});
        seeds.push_back({std::string(kind.name) + "_read_only", join_parts({table, memo, std::string("\x02", 1)})});
        seeds.push_back({std::string(kind.name) + "_other_table", join_parts({table, memo, std::string("\x08", 1)})});
        seeds.push_back({std::string(kind.name) + "_tables",
                         join_parts({table, memo, std::string("\x05\x02", 2), std::string("\xE9\xE8\0\x82\x8A", 5)})});
    }
    return seeds;
}

Seeds calculator_seeds() {
    const char* texts[] = {"2^10/4",       "(1+2)*3",          "ABS(-3)+SQRT(16)", "round(2.567)", "1/0",
                           "--2",          "2*(3+(4-1))^2",    "log10(1000)-exp(0)", "sin(0)+cos(0)+tan(0)",
                           "1e308*10",     "-(((((1)))))",     "trunc(-2.5)*pow10(2)", "sqr(3)-sinh(0)+cosh(0)",
                           "acos(1)+asin(0)+atan(1)+tanh(0)+log(1)", "3.5e-2", "12,5", ""};
    Seeds seeds;
    int n = 0;
    for (const char* text : texts) seeds.push_back({"calc" + std::to_string(n++), text});
    return seeds;
}

Seeds filter_seeds() {
    const char* conditions[] = {
        "AGE>30", "AGE>=30", "AGE<>30", "NAME=Jo", "NAME==John      ", "NAME~ohn", "NAME^ohn", "CITY=Paris|CITY=Rome",
        "(AGE=42|AGE=25)&CITY=Rome", "AGE=42|AGE=25&CITY=Rome", "PRICE>AGE*2", "AGE>(20+10)", "BORN>1980",
        "BORN~1231", "NAME='Jo'", "NAME=\"Jo\"", "'NAME'=NA", "NAME=UPPER(j)o", "NAME=TRIM(NAME)",
        "SUBSTR(NAME,2,3)=ohn", "LEFT(CITY,2)=Pa", "RIGHT(NAME,2)=hn", "DTOS(BORN)>1990", "CAP(NAME)=John",
        "LOWER(NAME)=john", "LTRIM(RTRIM(NAME))=John", "NOTES~note", "OK=T", "CODE=a&b", "CODE='a&b'",
        "ABS(AGE)>SQRT(PRICE)", "(AGE=42", "AGE=42)", "AGE=42&", "AGE=42|", "PRICE<0|PRICE>99999",
        "QTY>10", "COST<=0", "RATE=1.25", "QTY*2>AGE", "COST>QTY", "NAME>CITY", "CITY<>''", "NAME==john",
    };
    Seeds seeds;
    int n = 0;
    for (const char* condition : conditions) {
        seeds.push_back({"condition" + std::to_string(n), condition});
        seeds.push_back({"condition" + std::to_string(n) + "_options",
                         join_parts({condition, std::string(1, static_cast<char>(n % 16)) + "\x01"})});
        ++n;
    }
    seeds.push_back({"two_filters", join_parts({"CITY=Paris;CITY=Rome", std::string(1, '\0'), "AGE<40"})});
    seeds.push_back({"two_filters_grouped", join_parts({"(CITY=Paris|CITY=Rome)", std::string(1, '\x01'), "NAME=jo"})});
    return seeds;
}

Seeds list_file_seeds() {
    Seeds seeds;
    seeds.push_back({"parameters", join_parts({"; settings\n/NAME\n", "/COUNT\n-filter:AGE>30\n/COUNT\n@n.lst\n",
                                               "ORDER:NAME\nDELETE:1\nRECALL:all\nCOUNT\n"})});
    seeds.push_back({"translation_tables", join_parts({"TableAnsi=\xE9\xE8\r\nTableOEM=\x82\x8A\r\nNormal=\xA0\r\n"
                                                       "Uppercase=\x80\r\nCodePages=437,1252\r\n",
                                                       "/CASE\n/FILTER:NAME=JO\n/COUNT\n/ANSI2OEM\n/OEM2ANSI\n", ""})});
    seeds.push_back({"nesting", join_parts({"@n.lst\n", "@s.lst\n@n.lst\n/COUNT\n", "@s.lst\n@rorarodi.ini\n/HDR\n"})});
    seeds.push_back({"views", join_parts({"", "/DELETED-\n/COUNT\n/DELETEDONLY\n/COUNT\n/CLEAR\n/RANGE:3,1-2\n"
                                              "/RANGE:all\n/DESC\n/ORDER:AGE;NAME\n/DATE:dmy\n/TRIM:all\n/COUNT\n",
                                          ""})});
    seeds.push_back({"long_lines", join_parts({";" + std::string(1100, 'x') + "\n",
                                               std::string(1023, ' ') + "COUNT\n" + std::string(1030, 'y') + "\n",
                                               ""})});
    seeds.push_back({"misc", join_parts({"/VERBOSE\n", "/CALC:2^10\n/QUOTES:single\n/IGNOREQUOTES\n/ESCAPE:#\n"
                                                     "/CRLF:kill\n/TYPE:db4\n/OUT:x.csv\n/2ANSI\n/VERSION\n/?\n",
                                         "/BAK\n/DELETE:2-3\n/RECALL:2\n/PACK\n/ZAP\n"})});
    return seeds;
}

} // namespace

const std::vector<std::string>& target_names() {
    static const std::vector<std::string> names = {"table_open", "calculator", "filter", "list_file", "convert"};
    return names;
}

std::vector<std::pair<std::string, std::string>> make_seeds(const std::string& target) {
    static const std::map<std::string, std::function<Seeds()>> makers = {
        {"table_open", table_open_seeds}, {"calculator", calculator_seeds}, {"filter", filter_seeds},
        {"list_file", list_file_seeds},   {"convert", convert_seeds},
    };
    auto found = makers.find(target);
    return found == makers.end() ? Seeds{} : found->second();
}

} // namespace fuzzing
