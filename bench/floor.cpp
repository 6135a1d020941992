// The least work a job can do on a table: read the file in 1 MiB blocks and touch
// only the bytes the job needs. Each job's time is shown beside its floor.
//
//   floor count   <table>                      the record count from the header
//   floor number  <table> <field> <gt-value> [<field2> <text>...]
//                                              records whose field, parsed with
//                                              strtod, exceeds the value (every
//                                              record's number is parsed) and,
//                                              when field2 is given, whose field2
//                                              begins with one of the texts
//   floor prefix  <table> <field> <text>       records whose raw field bytes begin
//                                              with the text
//   floor copy    <table> <field>...           the raw bytes of the fields copied
//                                              out as lines (for exports)
//
// Each prints the number of records it counted (copy prints to standard output).
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kBlock = 1 << 20;

struct Field {
    size_t offset = 0;
    size_t width = 0;
};

class Table {
public:
    explicit Table(const char* path) : fd_(::open(path, O_RDONLY)) {}
    ~Table() {
        if (fd_ >= 0) ::close(fd_);
    }
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    bool read_header() {
        unsigned char head[32];
        if (fd_ < 0 || ::pread(fd_, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return false;
        records_ = head[4] | head[5] << 8 | head[6] << 16 | static_cast<uint32_t>(head[7]) << 24;
        header_length_ = head[8] | head[9] << 8;
        record_length_ = head[10] | head[11] << 8;
        descriptors_.resize(header_length_ > 32 ? header_length_ - 32 : 0);
        return record_length_ > 0 &&
               ::pread(fd_, descriptors_.data(), descriptors_.size(), 32) == static_cast<ssize_t>(descriptors_.size());
    }

    uint32_t records() const { return records_; }
    size_t record_length() const { return record_length_; }

    bool field(const char* name, Field& out) const {
        size_t offset = 1;
        for (size_t at = 0; at + 32 <= descriptors_.size() && descriptors_[at] != 0x0D; at += 32) {
            size_t width = descriptors_[at + 16];
            if (descriptors_[at + 11] == 'C') width |= static_cast<size_t>(descriptors_[at + 17]) << 8;
            if (std::strncmp(reinterpret_cast<const char*>(&descriptors_[at]), name, 11) == 0) {
                out = {offset, width};
                return true;
            }
            offset += width;
        }
        return false;
    }

    // Calls `visit` with every record, read in blocks of about 1 MiB.
    template <typename Visit>
    void each_record(Visit visit) {
        const size_t per_block = kBlock / record_length_ ? kBlock / record_length_ : 1;
        std::vector<unsigned char> block(per_block * record_length_);
        uint64_t offset = header_length_;
        uint32_t left = records_;
        while (left > 0) {
            size_t want = (left < per_block ? left : per_block) * record_length_;
            ssize_t got = ::pread(fd_, block.data(), want, static_cast<off_t>(offset));
            if (got <= 0) return;
            size_t whole = static_cast<size_t>(got) / record_length_;
            for (size_t r = 0; r < whole; ++r) visit(block.data() + r * record_length_);
            if (whole == 0) return;
            offset += whole * record_length_;
            left -= static_cast<uint32_t>(whole);
        }
    }

private:
    int fd_;
    uint32_t records_ = 0;
    size_t header_length_ = 0;
    size_t record_length_ = 0;
    std::vector<unsigned char> descriptors_;
};

int usage() {
    std::fprintf(stderr,
                 "usage: floor count <table> | number <table> <field> <value> [<field> <text>...] | prefix <table> <field> <text> | "
                 "copy <table> <field>...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string job = argv[1];
    Table table(argv[2]);
    if (!table.read_header()) {
        std::fprintf(stderr, "floor: cannot read %s\n", argv[2]);
        return 1;
    }
    if (job == "count") {
        std::printf("%u\n", table.records());
        return 0;
    }
    std::vector<Field> fields;
    const int field_args = job == "copy" ? argc - 3 : 1;
    for (int i = 0; i < field_args && 3 + i < argc; ++i) {
        Field f;
        if (!table.field(argv[3 + i], f) || f.offset + f.width > table.record_length()) {
            std::fprintf(stderr, "floor: no field %s\n", argv[3 + i]);
            return 1;
        }
        fields.push_back(f);
    }
    if (fields.empty()) return usage();
    const Field f = fields[0];
    unsigned long count = 0;
    if (job == "number" && (argc == 5 || argc >= 7)) {
        const double limit = std::strtod(argv[4], nullptr);
        char text[256];
        const size_t width = f.width < sizeof text ? f.width : sizeof text - 1;
        Field also{};
        std::vector<std::string> texts;
        if (argc >= 7) {
            if (!table.field(argv[5], also) || also.offset + also.width > table.record_length()) return usage();
            for (int i = 6; i < argc; ++i) texts.emplace_back(argv[i]);
        }
        table.each_record([&](const unsigned char* record) {
            std::memcpy(text, record + f.offset, width);
            text[width] = 0;
            if (!(std::strtod(text, nullptr) > limit)) return;
            if (texts.empty()) {
                ++count;
                return;
            }
            for (const std::string& t : texts) {
                if (t.size() <= also.width && std::memcmp(record + also.offset, t.data(), t.size()) == 0) {
                    ++count;
                    return;
                }
            }
        });
    } else if (job == "prefix" && argc == 5) {
        const char* prefix = argv[4];
        const size_t length = std::strlen(prefix);
        if (length > f.width) return usage();
        table.each_record([&](const unsigned char* record) {
            if (std::memcmp(record + f.offset, prefix, length) == 0) ++count;
        });
    } else if (job == "copy") {
        std::string out;
        table.each_record([&](const unsigned char* record) {
            for (size_t k = 0; k < fields.size(); ++k) {
                if (k) out += ',';
                out.append(reinterpret_cast<const char*>(record) + fields[k].offset, fields[k].width);
            }
            out += '\n';
            if (out.size() >= kBlock) {
                std::fwrite(out.data(), 1, out.size(), stdout);
                out.clear();
            }
            ++count;
        });
        std::fwrite(out.data(), 1, out.size(), stdout);
        return 0;
    } else {
        return usage();
    }
    std::printf("%lu\n", count);
    return 0;
}
