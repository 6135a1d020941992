// Writes the benchmark tables into a directory, the same bytes for the same sizes:
//
//   people.dbf      dBase III table of `records` records of 140 bytes
//                   (ID N(8), NAME C(30), CITY C(20), BORN D, SALARY N(12,2),
//                   ACTIVE L, NOTE C(60)); about 5% deleted, about 1% blank
//                   salaries and dates, a few negative salaries
//   memo_fox.dbf    FoxPro table (.fpt memo file) of `memo_records` records
//   memo_db3.dbf    dBase III table (.dbt memo file) with the same records
//   people_866.dbf, people_936.dbf
//                   people.dbf with the letters of NAME, CITY and NOTE turned into
//                   Cyrillic letters of code page 866 (mark 0x65), or two by two
//                   into Chinese characters of GBK (mark 0x4D), for /UTF8
//   name.keys, salary.keys, born.keys
//                   the raw NAME, SALARY and BORN bytes of people.dbf, one per
//                   line, for the sort program the order jobs are measured against
//
// Usage: make_tables <directory> <records> <memo_records>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: small, fast, and the same sequence everywhere.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. bound-1
    uint32_t below(uint32_t bound) { return static_cast<uint32_t>(next() % bound); }
    bool percent(uint32_t p) { return below(100) < p; }

private:
    uint64_t state_;
};

const char* const kSurnames[] = {
    "Smith",    "Smythe",   "Small",    "Smart",    "Johnson",  "Williams", "Brown",    "Jones",    "Garcia",
    "Miller",   "Davis",    "Rodriguez", "Martinez", "Hernandez", "Lopez",   "Gonzalez", "Wilson",   "Anderson",
    "Thomas",   "Taylor",   "Moore",    "Jackson",  "Martin",   "Lee",      "Perez",    "Thompson", "White",
    "Harris",   "Sanchez",  "Clark",    "Ramirez",  "Lewis",    "Robinson", "Walker",   "Young",    "Allen",
    "King",     "Wright",   "Scott",    "Torres",   "Nguyen",   "Hill",     "Flores",   "Green",    "Adams",
    "Nelson",   "Baker",    "Hall",     "Rivera",   "Campbell", "Mitchell", "Carter",   "Roberts",  "Dubois",
    "Moreau",   "Laurent",  "Lefebvre", "Rossi",    "Russo",    "Ferrari",  "Esposito", "Bianchi",  "Romano",
    "Muller",   "Schmidt",  "Schneider", "Fischer", "Weber",    "Meyer",    "Wagner",   "Becker",   "Hoffmann",
    "Novak",    "Horvat",   "Kowalski", "Nowak",    "Ivanov",   "Petrov",   "Sokolov",  "Jensen",   "Hansen",
    "Nielsen",  "Berg",     "Lindqvist", "Virtanen", "Korhonen", "Silva",   "Santos",   "Pereira",  "Costa",
    "Oliveira", "Murphy",   "Kelly",    "Byrne",    "Walsh",    "O'Brien",  "de Vries", "van Dijk", "Bakker",
};
const char* const kFirstNames[] = {
    "James",   "Mary",     "John",    "Patricia", "Robert",  "Jennifer", "Michael", "Linda",   "William",
    "Elizabeth", "David",  "Barbara", "Richard",  "Susan",   "Joseph",   "Jessica", "Thomas",  "Sarah",
    "Charles", "Karen",    "Pierre",  "Marie",    "Jean",    "Sophie",   "Luca",    "Giulia",  "Marco",
    "Anna",    "Hans",     "Greta",   "Jan",      "Eva",     "Piotr",    "Olga",    "Ivan",    "Ingrid",
    "Lars",    "Astrid",   "Mikko",   "Aino",     "Joao",    "Ana",      "Sean",    "Aoife",   "Daan",
    "Emma",    "Noah",     "Liam",    "Olivia",   "Lucas",
};
const char* const kCities[] = {
    "Paris",      "Rome",       "London",    "Berlin",     "Madrid",    "Lisbon",     "Vienna",
    "Prague",     "Warsaw",     "Budapest",  "Amsterdam",  "Brussels",  "Copenhagen", "Stockholm",
    "Oslo",       "Helsinki",   "Dublin",    "Athens",     "Milan",     "Naples",     "Lyon",
    "Marseille",  "Hamburg",    "Munich",    "Barcelona",  "Valencia",  "Porto",      "Krakow",
    "Zurich",     "Geneva",     "Rotterdam", "Antwerp",    "Gothenburg", "Tampere",   "Cork",
    "Thessaloniki", "Turin",    "Florence",  "Nice",       "Toulouse",  "Cologne",    "Frankfurt",
    "Seville",    "Bilbao",     "Braga",     "Gdansk",     "Brno",      "Debrecen",   "Graz",
    "Salzburg",
};
const char* const kWords[] = {
    "order",  "paid",   "late",    "call",   "back",    "moved",  "new",     "address", "account", "closed",
    "review", "annual", "bonus",   "travel", "remote",  "part",   "time",    "manager", "intern",  "contract",
    "renewed", "notice", "pending", "ok",    "checked", "phone",  "email",   "visit",   "branch",  "transfer",
};

template <typename T, size_t N>
constexpr size_t count_of(T (&)[N]) {
    return N;
}

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

void put_left(std::string& record, size_t offset, size_t width, const std::string& text) {
    size_t n = text.size() < width ? text.size() : width;
    std::memcpy(&record[offset], text.data(), n);
}

void put_right(std::string& record, size_t offset, size_t width, const std::string& text) {
    size_t n = text.size() < width ? text.size() : width;
    std::memcpy(&record[offset + width - n], text.data(), n);
}

void put_le16(std::string& s, size_t at, uint16_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}

void put_le32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void put_be32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * (3 - i))) & 0xFF);
}

struct Field {
    const char* name;
    char type;
    unsigned length;
    unsigned decimals;
};

// Header and field descriptors of a table with the given fields and record count.
std::string table_header(uint8_t version, const std::vector<Field>& fields, uint32_t records) {
    const size_t header_length = 32 + fields.size() * 32 + 1;
    unsigned record_length = 1;
    for (const Field& f : fields) record_length += f.length;
    std::string header(header_length, '\0');
    header[0] = static_cast<char>(version);
    header[1] = 124;  // 2024-01-15
    header[2] = 1;
    header[3] = 15;
    put_le32(header, 4, records);
    put_le16(header, 8, static_cast<uint16_t>(header_length));
    put_le16(header, 10, static_cast<uint16_t>(record_length));
    unsigned offset = 1;
    for (size_t i = 0; i < fields.size(); ++i) {
        const size_t at = 32 + i * 32;
        std::memcpy(&header[at], fields[i].name, std::strlen(fields[i].name));
        header[at + 11] = fields[i].type;
        put_le32(header, at + 12, offset);
        header[at + 16] = static_cast<char>(fields[i].length);
        header[at + 17] = static_cast<char>(fields[i].decimals);
        offset += fields[i].length;
    }
    header[header_length - 1] = 0x0D;
    return header;
}

// A buffered output file that reports failure once, at the end.
class Output {
public:
    explicit Output(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
        if (!file_) std::perror(path.c_str());
    }
    ~Output() {
        if (file_) std::fclose(file_);
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void write(const std::string& bytes) {
        if (file_ && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) fail();
    }
    // Overwrites bytes already written (the header's counts).
    void write_at(long offset, const std::string& bytes) {
        if (file_ && (std::fseek(file_, offset, SEEK_SET) != 0 || std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()))
            fail();
    }
    bool close() {
        if (!file_) return false;
        bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!ok) std::perror(path_.c_str());
        return ok;
    }

private:
    void fail() {
        std::perror(path_.c_str());
        std::fclose(file_);
        file_ = nullptr;
    }
    std::string path_;
    std::FILE* file_;
};

std::string make_name(Random& random) {
    std::string name = kSurnames[random.below(count_of(kSurnames))];
    name += ", ";
    name += kFirstNames[random.below(count_of(kFirstNames))];
    name += ' ';
    name += static_cast<char>('A' + random.below(26));
    name += '.';
    return name;
}

bool write_people(const std::string& dir, uint32_t records) {
    const std::vector<Field> fields = {{"ID", 'N', 8, 0},     {"NAME", 'C', 30, 0},  {"CITY", 'C', 20, 0},
                                       {"BORN", 'D', 8, 0},   {"SALARY", 'N', 12, 2}, {"ACTIVE", 'L', 1, 0},
                                       {"NOTE", 'C', 60, 0}};
    Output table(dir + "/people.dbf");
    Output names(dir + "/name.keys");
    Output salaries(dir + "/salary.keys");
    Output births(dir + "/born.keys");
    table.write(table_header(0x03, fields, records));
    Random random(20240115);
    std::string block, name_lines, salary_lines, born_lines;
    char number[64];
    for (uint32_t i = 0; i < records; ++i) {
        std::string record(140, ' ');
        if (random.percent(5)) record[0] = '*';
        std::snprintf(number, sizeof number, "%u", i + 1);
        put_right(record, 1, 8, number);
        put_left(record, 9, 30, make_name(random));
        put_left(record, 39, 20, kCities[random.below(count_of(kCities))]);
        if (!random.percent(1)) {
            int year = 1940 + static_cast<int>(random.below(66));
            int month = 1 + static_cast<int>(random.below(12));
            int day = 1 + static_cast<int>(random.below(static_cast<uint32_t>(days_in_month(year, month))));
            std::snprintf(number, sizeof number, "%04d%02d%02d", year, month, day);
            put_left(record, 59, 8, number);
        }
        uint32_t roll = random.below(1000);
        if (roll >= 10) {
            long cents = 1500000 + static_cast<long>(random.below(13500000));
            if (roll < 15) cents = -static_cast<long>(random.below(500000));
            std::snprintf(number, sizeof number, "%.2f", static_cast<double>(cents) / 100.0);
            put_right(record, 67, 12, number);
        }
        record[79] = "TFT?"[random.below(4)];
        std::string note;
        for (uint32_t w = random.below(8); w > 0; --w) {
            if (!note.empty()) note += ' ';
            note += kWords[random.below(count_of(kWords))];
        }
        put_left(record, 80, 60, note);
        block += record;
        name_lines.append(record, 9, 30).push_back('\n');
        salary_lines.append(record, 67, 12).push_back('\n');
        born_lines.append(record, 59, 8).push_back('\n');
        if (block.size() >= (1u << 20)) {
            table.write(block);
            names.write(name_lines);
            salaries.write(salary_lines);
            births.write(born_lines);
            block.clear();
            name_lines.clear();
            salary_lines.clear();
            born_lines.clear();
        }
    }
    block += '\x1A';
    table.write(block);
    names.write(name_lines);
    salaries.write(salary_lines);
    births.write(born_lines);
    return table.close() & names.close() & salaries.close() & births.close();
}

// The two memo tables hold the same records; only the memo file forms differ.
// FoxPro: big-endian header (next free block, block size 64), each memo a block
// header (type 1, length) and its text. dBase III: 512-byte blocks, each memo
// ended by 0x1A 0x1A.
bool write_memo_tables(const std::string& dir, uint32_t records) {
    const std::vector<Field> fields = {{"ID", 'N', 8, 0}, {"NAME", 'C', 30, 0}, {"NOTES", 'M', 10, 0}};
    constexpr uint32_t kFoxBlock = 64;
    constexpr uint32_t kDb3Block = 512;
    Output fox_table(dir + "/memo_fox.dbf");
    Output fox_memo(dir + "/memo_fox.fpt");
    Output db3_table(dir + "/memo_db3.dbf");
    Output db3_memo(dir + "/memo_db3.dbt");
    fox_table.write(table_header(0xF5, fields, records));
    db3_table.write(table_header(0x83, fields, records));
    fox_memo.write(std::string(512, '\0'));
    db3_memo.write(std::string(kDb3Block, '\0'));
    uint32_t fox_next = 512 / kFoxBlock;
    uint32_t db3_next = 1;
    Random random(19840601);
    std::string fox_rows, db3_rows, fox_blocks, db3_blocks;
    char number[32];
    for (uint32_t i = 0; i < records; ++i) {
        std::string record(49, ' ');
        if (random.percent(5)) record[0] = '*';
        std::snprintf(number, sizeof number, "%u", i + 1);
        put_right(record, 1, 8, number);
        put_left(record, 9, 30, make_name(random));
        std::string fox_record = record, db3_record = record;
        if (!random.percent(10)) {
            std::string memo;
            for (uint32_t w = 3 + random.below(60); w > 0; --w) {
                if (!memo.empty()) memo += random.percent(10) ? "\r\n" : " ";
                memo += kWords[random.below(count_of(kWords))];
            }
            std::snprintf(number, sizeof number, "%u", fox_next);
            put_right(fox_record, 39, 10, number);
            std::string block(8, '\0');
            put_be32(block, 0, 1);
            put_be32(block, 4, static_cast<uint32_t>(memo.size()));
            block += memo;
            uint32_t used = static_cast<uint32_t>((block.size() + kFoxBlock - 1) / kFoxBlock);
            block.resize(static_cast<size_t>(used) * kFoxBlock, '\0');
            fox_blocks += block;
            fox_next += used;

            std::snprintf(number, sizeof number, "%u", db3_next);
            put_right(db3_record, 39, 10, number);
            std::string text = memo + "\x1A\x1A";
            used = static_cast<uint32_t>((text.size() + kDb3Block - 1) / kDb3Block);
            text.resize(static_cast<size_t>(used) * kDb3Block, '\0');
            db3_blocks += text;
            db3_next += used;
        }
        fox_rows += fox_record;
        db3_rows += db3_record;
        if (db3_blocks.size() >= (1u << 20)) {
            fox_table.write(fox_rows);
            db3_table.write(db3_rows);
            fox_memo.write(fox_blocks);
            db3_memo.write(db3_blocks);
            fox_rows.clear();
            db3_rows.clear();
            fox_blocks.clear();
            db3_blocks.clear();
        }
    }
    fox_rows += '\x1A';
    db3_rows += '\x1A';
    fox_table.write(fox_rows);
    db3_table.write(db3_rows);
    fox_memo.write(fox_blocks);
    db3_memo.write(db3_blocks);
    std::string fox_header(8, '\0');
    put_be32(fox_header, 0, fox_next);
    fox_header[6] = static_cast<char>(kFoxBlock >> 8);
    fox_header[7] = static_cast<char>(kFoxBlock & 0xFF);
    fox_memo.write_at(0, fox_header);
    std::string db3_header(4, '\0');
    put_le32(db3_header, 0, db3_next);
    db3_memo.write_at(0, db3_header);
    return fox_table.close() & fox_memo.close() & db3_table.close() & db3_memo.close();
}

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Cyrillic letters of code page 866: A-Z to 0x80-0x99, a-p to 0xA0-0xAF, q-z to 0xE0-0xE9.
void to_cp866(char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (c >= 'A' && c <= 'Z') text[i] = static_cast<char>(0x80 + (c - 'A'));
        else if (c >= 'a' && c <= 'p') text[i] = static_cast<char>(0xA0 + (c - 'a'));
        else if (c >= 'q' && c <= 'z') text[i] = static_cast<char>(0xE0 + (c - 'q'));
    }
}

// Two letters in a row become one GBK character (first byte 0xB0-0xD6, second 0xA1-0xFE).
void to_gbk(char* text, size_t length) {
    for (size_t i = 0; i + 1 < length; ++i) {
        if (!is_letter(text[i]) || !is_letter(text[i + 1])) continue;
        text[i] = static_cast<char>(0xB0 + static_cast<unsigned char>(text[i]) % 39);
        text[i + 1] = static_cast<char>(0xA1 + static_cast<unsigned char>(text[i + 1]) % 94);
        ++i;
    }
}

// Copies people.dbf with its text fields recoded and the code-page mark set.
bool write_recoded(const std::string& dir, const char* name, uint8_t mark, void (*recode)(char*, size_t)) {
    std::FILE* in = std::fopen((dir + "/people.dbf").c_str(), "rb");
    if (!in) return false;
    Output out(dir + "/" + name);
    constexpr size_t kHeader = 32 + 7 * 32 + 1, kRecord = 140;
    std::string header(kHeader, '\0');
    bool ok = std::fread(header.data(), 1, kHeader, in) == kHeader;
    header[29] = static_cast<char>(mark);
    out.write(header);
    std::string block(kRecord * 8192, '\0');
    size_t got = 0;
    while (ok && (got = std::fread(block.data(), 1, block.size(), in)) > 0) {
        for (size_t r = 0; r + kRecord <= got; r += kRecord) {
            recode(&block[r + 9], 30);   // NAME
            recode(&block[r + 39], 20);  // CITY
            recode(&block[r + 80], 60);  // NOTE
        }
        out.write(block.substr(0, got));
    }
    std::fclose(in);
    return out.close() && ok;
}

bool parse_count(const char* text, uint32_t& value) {
    char* end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (!*text || *end || v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    uint32_t records = 0, memo_records = 0;
    if (argc != 4 || !parse_count(argv[2], records) || !parse_count(argv[3], memo_records)) {
        std::fprintf(stderr, "usage: make_tables <directory> <records> <memo_records>\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = write_people(dir, records) && write_memo_tables(dir, memo_records) &&
              write_recoded(dir, "people_866.dbf", 0x65, to_cp866) && write_recoded(dir, "people_936.dbf", 0x4D, to_gbk);
    return ok ? 0 : 1;
}
