#include "report/compare.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "expr/filter.h"
#include "platform/paths.h"
#include "platform/progress.h"
#include "session/console.h"
#include "session/messages.h"
#include "session/session.h"
#include "table/dbf_format.h"
#include "table/field_text.h"
#include "table/memo.h"
#include "table/text_convert.h"
#include "table/view_reader.h"

namespace rorarodi {

namespace {

constexpr size_t kShownLength = 20;  // difference lines show texts cut to this length

// A table named by its file name without the directory.
std::string short_name(const DbfTable& table) {
    size_t separator = last_separator(table.table_file_name);
    return separator == std::string::npos ? table.table_file_name : table.table_file_name.substr(separator + 1);
}

std::string cut(const std::string& text) { return text.size() > kShownLength ? text.substr(0, kShownLength) : text; }

std::string without_trailing_spaces(const char* text) {
    std::string result = text;
    size_t end = result.find_last_not_of(' ');
    result.erase(end == std::string::npos ? 0 : end + 1);
    return result;
}

// Record number shown for a view position: the order list entry, else the position.
uint32_t shown_record_number(const DbfTable& table, uint32_t position) {
    if (table.order_list && position < table.order_list->size()) return (*table.order_list)[position];
    return position;
}

unsigned long long file_size(DbfTable& table) {
    const long long size = table.table_handle.size();
    return size > 0 ? static_cast<unsigned long long>(size) : 0;
}

void open_comparison_table(Session& session, const std::string& name) {
    // Comparing never writes, so the comparison table is opened read-only.
    auto table = std::make_unique<DbfTable>();
    if (open_table(*table, name, true) != OpenResult::opened) fail_with_name(kFatalCantOpen, name);
    const DbfTable& current = session.table();
    table->options = current.options;
    share_run_settings(session, *table);
    session.comparison_table = std::move(table);
}

void report_headers(DbfTable& current, DbfTable& other) {
    const auto& a = current.header_image;
    const auto& b = other.header_image;
    std::printf("File: %-30s | File: %-30s\nType: %-30s | Type: %-30s\n"
                "Last updated: %02d.%02d.%04d             | Last updated: %02d.%02d.%04d\n"
                "File size: %13llu             | File size: %13llu\nHeader size: %11d             | Header size: %11d\n"
                "Record count: %10u             | Record count: %10u\n"
                "Field count: %11d             | Field count: %11d\n"
                "Record length: %9d             | Record length: %9d\n\n",
                short_name(current).c_str(), short_name(other).c_str(), kind_name(current.table_kind),
                kind_name(other.table_kind), a[kDateOffset + 1], a[kDateOffset + 2],
                a[kDateOffset] + 1900, b[kDateOffset + 1], b[kDateOffset + 2], b[kDateOffset] + 1900,
                file_size(current), file_size(other),
                static_cast<int>(current.header_length()), static_cast<int>(other.header_length()),
                view_record_count(current), view_record_count(other),
                static_cast<int>(current.field_count()), static_cast<int>(other.field_count()),
                static_cast<int>(current.record_length()), static_cast<int>(other.record_length()));
}

const char* marker_for(int score) {
    switch (score) {
    case 1: return "<>";
    case 2: return "~=";
    case 3: return "= ";
    case 4: return "==";
    default: return "--";
    }
}

// The UTF-8 tables of the two tables' pages under /UTF8; none otherwise.
struct ReportPages {
    const Utf8Page* current = nullptr;
    const Utf8Page* other = nullptr;
};

void report_structures(const DbfTable& current, const DbfTable& other, const ReportPages& pages) {
    bool missing = false;
    for (int i = 0; i < static_cast<int>(current.field_count()); ++i) {
        int found = -1;
        int score = match_field(current, i, other, found);
        if (score == 0) {
            std::printf("%s  |%2s| %-30s", listed_text(pages.current, describe_field(current, i), 30).c_str(), "--",
                        "-");
            missing = true;
        } else {
            std::printf("%s  |%2s| %s", listed_text(pages.current, describe_field(current, i), 32).c_str(),
                        marker_for(score), listed_text(pages.other, describe_field(other, found), 32).c_str());
        }
        std::printf("\n");
    }
    if (current.field_count() < other.field_count() || missing) {
        for (int j = 0; j < static_cast<int>(other.field_count()); ++j) {
            int found = -1;
            if (match_field(other, j, current, found) != 0) continue;
            std::printf("%-32s  |%2s| %s\n", "-", "--", listed_text(pages.other, describe_field(other, j), 32).c_str());
        }
    }
}

void compare_memos(DbfTable& current, int f, DbfTable& other, int g, const ReportPages& pages) {
    std::optional<std::string> left = read_memo_text(current, f);
    std::optional<std::string> right = read_memo_text(other, g);
    if (!left && !right) return;
    const std::string left_name = short_name(current), right_name = short_name(other);
    const std::string left_text = left ? listed_text(pages.current, cut(*left)) : "<empty>";
    const std::string right_text = right ? listed_text(pages.other, cut(*right)) : "<empty>";
    const std::string left_field = listed_text(pages.current, current.field(f).name);
    const std::string right_field = listed_text(pages.other, other.field(g).name);
    if (!left || !right)
        std::printf("%-12s: %s - '%s' <> %-12s: %s - '%s'\n\n", left_name.c_str(), left_field.c_str(),
                    left_text.c_str(), right_name.c_str(), right_field.c_str(), right_text.c_str());
    else if (std::strcmp(left->c_str(), right->c_str()) != 0)
        std::printf("  %-12s: %s - '%s'\n<> %-12s: %s - '%s'\n\n", left_name.c_str(), left_field.c_str(),
                    left_text.c_str(), right_name.c_str(), right_field.c_str(), right_text.c_str());
}

// How one field of the current table is compared with its namesake.
struct FieldPair {
    int field;        // in the current table
    int other_field;  // in the comparison table
    enum class Kind { memos, mixed, numbers, texts } kind;
    // Same type and size in tables that format alike: equal bytes give equal
    // values, so such fields need no text forms when their bytes agree.
    bool same_shape;
};

std::vector<FieldPair> pair_fields(const DbfTable& current, const DbfTable& other) {
    const bool same_formatting =
        current.level7 == other.level7 && current.options.text_form() == other.options.text_form();
    std::vector<FieldPair> pairs;
    for (int f = 0; f < static_cast<int>(current.field_count()); ++f) {
        int g = -1;
        if (match_field(current, f, other, g) == 0) continue;
        const FieldDescriptor& left = current.field(f);
        const FieldDescriptor& right = other.field(g);
        const bool left_memo = field_is_memo(current, f), right_memo = field_is_memo(other, g);
        FieldPair pair{f, g, FieldPair::Kind::texts, false};
        if (left_memo && right_memo)
            pair.kind = FieldPair::Kind::memos;
        else if (left_memo || right_memo)
            pair.kind = FieldPair::Kind::mixed;
        else if (field_is_numeric(current, f) && field_is_numeric(other, g))
            pair.kind = FieldPair::Kind::numbers;
        pair.same_shape = same_formatting && left.type == right.type && left.length == right.length &&
                          left.decimals == right.decimals;
        pairs.push_back(pair);
    }
    return pairs;
}

bool same_bytes(const DbfTable& current, const FieldPair& pair, const DbfTable& other) {
    const FieldDescriptor& left = current.field(pair.field);
    const FieldDescriptor& right = other.field(pair.other_field);
    const size_t width = field_width(current, pair.field);
    if (left.offset + width > current.record_buffer.size() || right.offset + width > other.record_buffer.size())
        return false;
    return std::memcmp(current.record_buffer.data() + left.offset, other.record_buffer.data() + right.offset, width) == 0;
}

void report_records(DbfTable& current, DbfTable& other, const ReportPages& pages) {
    const uint32_t current_count = view_record_count(current);
    const uint32_t other_count = view_record_count(other);
    const std::string current_name = short_name(current), other_name = short_name(other);
    const std::vector<FieldPair> pairs = pair_fields(current, other);
    ViewReader current_reader(current, current_count);
    ViewReader other_reader(other, other_count);
    bool mixed_reported = false;
    uint32_t k = 0;
    ProgressMeter progress(current_count, ProgressOutput::prints_to_stdout);
    for (; k < current_count; ++k) {
        progress.step(k);
        if (k >= other_count) {
            std::printf("EOF found: %s\n", other.table_file_name.c_str());
            return;
        }
        // An unreadable record is compared as the buffer holds it.
        (void)current_reader.read(k);
        (void)other_reader.read(k);
        const uint32_t current_number = shown_record_number(current, k);
        const uint32_t other_number = shown_record_number(other, k);
        for (const FieldPair& pair : pairs) {
            const int f = pair.field, g = pair.other_field;
            const FieldDescriptor& left = current.field(f);
            const FieldDescriptor& right = other.field(g);
            if (pair.kind != FieldPair::Kind::memos && pair.kind != FieldPair::Kind::mixed && pair.same_shape &&
                same_bytes(current, pair, other))
                continue;
            switch (pair.kind) {
            case FieldPair::Kind::memos: compare_memos(current, f, other, g, pages); break;
            case FieldPair::Kind::mixed:
                if (!mixed_reported)
                    std::printf("Can't compare %s: %s (%s) with %s: %s (%s)\n\n", current_name.c_str(),
                                listed_text(pages.current, left.name).c_str(), field_type_name(current, f),
                                other_name.c_str(), listed_text(pages.other, right.name).c_str(),
                                field_type_name(other, g));
                mixed_reported = true;
                break;
            case FieldPair::Kind::numbers: {
                double a = field_number(current, f), b = field_number(other, g);
                if (a != b)
                    std::printf("  %-12s %5u: %s (%c) %f\n<>%-12s %5u: %s (%c) %f\n\n", current_name.c_str(),
                                current_number, listed_text(pages.current, left.name, 10).c_str(), left.type, a,
                                other_name.c_str(), other_number, listed_text(pages.other, right.name, 10).c_str(),
                                right.type, b);
                break;
            }
            case FieldPair::Kind::texts: {
                std::string a = without_trailing_spaces(field_text(current, f));
                std::string b = without_trailing_spaces(field_text(other, g));
                if (std::strcmp(a.c_str(), b.c_str()) != 0)
                    std::printf("  %-12s %5u: %s (%c) '%s'\n<>%-12s %5u: %s (%c) '%s'\n\n", current_name.c_str(),
                                current_number, listed_text(pages.current, left.name, 10).c_str(), left.type,
                                listed_text(pages.current, cut(a)).c_str(), other_name.c_str(), other_number,
                                listed_text(pages.other, right.name, 10).c_str(), right.type,
                                listed_text(pages.other, cut(b)).c_str());
                break;
            }
            }
        }
    }
    if (k < other_count) std::printf("EOF found: %s\n", current.table_file_name.c_str());
}

void run_comparison(Session& session, const std::string& options) {
    if (!session.comparison_table) return;
    DbfTable& other = *session.comparison_table;
    bool headers = true, structures = false, records = false;
    if (!options.empty() && options[0] == ':') {
        headers = options.find('i') != std::string::npos;
        structures = options.find('s') != std::string::npos;
        records = options.find('c') != std::string::npos;
    }
    if (!other.filter.filter_text && other.options.hide_deleted) apply_filter(other, kResetMarker);
    DbfTable& current = session.table();
    ReportPages pages;
    if (session.settings.utf8) pages = {&text_utf8_page(current), &text_utf8_page(other)};
    if (headers) report_headers(current, other);
    if (structures) report_structures(current, other, pages);
    if (records) report_records(current, other, pages);
    close_table(other);
    session.comparison_table.reset();
}

} // namespace

int match_field(const DbfTable& x, int field, const DbfTable& y, int& found) {
    found = -1;
    const FieldDescriptor& mine = x.field(field);
    found = find_field(y, mine.name);
    if (found < 0) return 0;
    const FieldDescriptor& theirs = y.field(found);
    int score = 1;
    if (theirs.type != mine.type) return score;
    ++score;
    if (theirs.length != mine.length || theirs.decimals != mine.decimals) return score;
    ++score;
    if (theirs.offset != mine.offset) return score;
    return score + 1;
}

std::string describe_field(const DbfTable& table, int field) {
    const FieldDescriptor& f = table.field(field);
    const bool show_decimals = ((f.type == 'N' || f.type == 'F') && f.length != 0) || (f.type == 'D' && f.decimals == 8);
    const char* type_name = field_type_name(table, field);
    int needed = show_decimals ? std::snprintf(nullptr, 0, "%-11s %-11s %5d %2d", f.name.c_str(), type_name, f.length, f.decimals)
                               : std::snprintf(nullptr, 0, "%-11s %-11s %5d   ", f.name.c_str(), type_name, f.length);
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    if (show_decimals)
        std::snprintf(text.data(), text.size(), "%-11s %-11s %5d %2d", f.name.c_str(), type_name, f.length, f.decimals);
    else
        std::snprintf(text.data(), text.size(), "%-11s %-11s %5d   ", f.name.c_str(), type_name, f.length);
    text.resize(static_cast<size_t>(needed));
    return text;
}

void handle_cmp(Session& session, const std::string& argument) {
    trace_enter(session, "CMP");
    if (session.comparison_table) {
        run_comparison(session, argument);
    } else if (!argument.empty() && argument[0] == ':' && argument.size() > 1) {
        open_comparison_table(session, argument.substr(1));
    }
    trace_leave(session, "CMP");
}

} // namespace rorarodi
