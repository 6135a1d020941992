// Filter conditions over a small table of every common field type. The general walk
// of a condition (substitution, then comparison) and its compiled form (prepared
// comparisons where they apply) agree on every record, and applying the condition
// keeps exactly the records that pass.
#include <memory>

#include "expr/filter.h"
#include "fuzz_support.h"
#include "fuzz_tables.h"
#include "table/table.h"

using namespace rorarodi;

namespace {

DbfTable& filter_table() {
    static const std::unique_ptr<DbfTable> table = [] {
        fuzzing::write_file(fuzzing::scratch_path("people.dbf"), fuzzing::people_table());
        fuzzing::write_file(fuzzing::scratch_path("people.dbt"), fuzzing::people_memo());
        auto opened = std::make_unique<DbfTable>();
        if (open_table(*opened, fuzzing::scratch_path("people.dbf"), true) != OpenResult::opened)
            fuzzing::invariant_failed("the filter table does not open", __FILE__, __LINE__);
        return opened;
    }();
    return *table;
}

// The records (physical indexes) of the current view that pass `condition`,
// tested both ways.
std::vector<uint32_t> passing_records(DbfTable& table, const FilterCondition& condition) {
    CompiledCondition compiled = compile_condition(table, condition);
    FilterWork work;
    std::vector<uint32_t> passing;
    const uint32_t count = view_record_count(table);
    for (uint32_t position = 0; position < count; ++position) {
        FUZZ_CHECK(read_view_record(table, position), "a record of the filter table cannot be read");
        const bool direct = record_passes(table, condition);
        FUZZ_CHECK(record_passes(table, compiled, work) == direct, "compiled and direct conditions disagree");
        if (direct) passing.push_back(physical_index(table, position));
    }
    return passing;
}

} // namespace

// Input: condition, options (flags: 1 case-insensitive, 2 ANSI text, 4 hidden
// deleted records, 8 no expression quotes, 16 and 32 the trim mode; date mode;
// code-page pair), second condition.
RORARODI_FUZZ_TARGET(filter) {
    static const bool silenced = (fuzzing::silence_standard_output(), true);
    (void)silenced;
    const std::vector<std::string> parts = fuzzing::split_parts(data, size, 3);
    DbfTable& table = filter_table();
    table.filter = RecordFilter{};
    table.order_list.reset();
    const uint8_t flags = parts.size() > 1 && !parts[1].empty() ? static_cast<uint8_t>(parts[1][0]) : 0;
    table.options.case_insensitive = flags & 1;
    table.options.ansi = flags & 2;
    table.options.hide_deleted = flags & 4;
    table.options.expression_quotes = flags & 8 ? std::array<char, 2>{0, 0} : std::array<char, 2>{'"', '\''};
    table.options.trim_mode = static_cast<TrimMode>((flags >> 4) & 3);
    table.options.date_mode =
        static_cast<DateMode>(parts.size() > 1 && parts[1].size() > 1 ? static_cast<uint8_t>(parts[1][1]) % 5 : 0);
    static constexpr CodePagePair kPairs[] = {{866, 1251}, {437, 1252}, {850, 1252}, {852, 1250}};
    table.options.code_pages = kPairs[parts.size() > 1 && parts[1].size() > 2 ? static_cast<uint8_t>(parts[1][2]) % 4 : 0];

    const std::vector<uint32_t> first = passing_records(table, parts[0]);
    apply_filter(table, parts[0]);
    FUZZ_CHECK(table.filter.view_list && *table.filter.view_list == first, "the view is not the passing records");
    if (parts.size() > 2) {
        // A second filter narrows the view by the joined condition text.
        const std::string joined = parts[0] + "&" + parts[2];
        table.filter.view_list.reset();
        const std::vector<uint32_t> both = passing_records(table, joined);
        table.filter.view_list = first;
        apply_filter(table, parts[2]);
        FUZZ_CHECK(*table.filter.filter_text == joined, "the filter text is not joined");
        std::vector<uint32_t> expected;
        for (uint32_t record : both)
            if (std::find(first.begin(), first.end(), record) != first.end()) expected.push_back(record);
        FUZZ_CHECK(*table.filter.view_list == expected, "the second filter does not narrow by the joined text");
    }
    return 0;
}
