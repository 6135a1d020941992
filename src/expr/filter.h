// Filter conditions: a condition text tested against every record of the view, the
// passing records becoming the new view.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "expr/prepared_condition.h"
#include "expr/substitute.h"
#include "table/table.h"

namespace rorarodi {

// A condition is a text, or the reset marker (std::nullopt): every record passes
// the condition itself and only the deleted-record rule applies.
using FilterCondition = std::optional<std::string>;
inline constexpr std::nullopt_t kResetMarker = std::nullopt;

// Joins a text condition to the table's filter text ("old&new"), then rebuilds the
// view from the current view with the records that pass the whole filter text (or
// the reset marker); drops the order.
void apply_filter(DbfTable& table, const FilterCondition& condition);

// Whether the record in the record buffer passes: a deleted record fails while
// deleted records are hidden; then the condition decides.
bool record_passes(DbfTable& table, const FilterCondition& condition);

// Offsets of the joiners ('&' and '|', also inside quotes and parentheses) of a
// condition; nothing when its parentheses do not balance.
[[nodiscard]] std::optional<std::vector<size_t>> split_condition(std::string_view condition);

// A piece between joiners as the logic text sees it: opening parentheses that group
// across joiners, the simple condition, and closing parentheses with what follows.
struct PieceLayout {
    std::string_view opening;
    std::string_view condition;
    std::string_view closing;
};
PieceLayout lay_out_piece(std::string_view piece);

// Reusable texts of one filter run, so that testing a record allocates nothing.
struct FilterWork {
    std::string substituted;
    std::string left;
    std::string right;
    std::string logic;
    std::string scratch;
    PreparedWork prepared;
};

// '1' when the simple condition `piece` holds for the record in the record buffer,
// else '0'.
char evaluate_simple_condition(DbfTable& table, const std::string& piece);

// Appends the result of a piece between joiners to the logic text, followed by the
// joiner ('&' as '*', '|' as '+'; nothing for the end of the condition).
void evaluate_piece(DbfTable& table, std::string_view piece, char joiner, std::string& logic);

// Where a simple condition lies in a condition text: offset and length.
struct ConditionSpan {
    size_t offset;
    size_t length;
};
// The simple conditions of a condition text that name no field of the table, so
// that their result is the same for every record (a misspelt field name, say).
// `to_table_text` gives a condition as the table's field names are spelt (the
// identity unless the text is typed in another page). Nothing when the
// parentheses do not balance.
std::vector<ConditionSpan> conditions_naming_no_field(const DbfTable& table, std::string_view condition,
                                                      std::string (*to_table_text)(const DbfTable&, std::string_view));

// A condition split once, for testing many records: each piece's simple condition
// is planned for substitution and prepared for direct evaluation.
struct CompiledCondition {
    struct Piece {
        std::string opening;
        SubstitutionPlan condition;
        PreparedComparison prepared;
        std::string closing;  // including the joiner written as '*' or '+'
    };
    bool reset = false;  // every record passes
    int balance = 0;     // of the parentheses of the whole text: unless 0, no record passes
    // No piece stands in parentheses of its own or reads a memo: a record passes when
    // the pieces of some run joined by '&' (between '|' joiners) all hold.
    bool plain = true;
    std::vector<Piece> pieces;
    std::shared_ptr<const TextByteMaps> maps;  // shared by the pieces' text comparisons
    // Verdicts of the logic text by the pieces' results (bit k set: piece k true),
    // -1 until computed; kept for conditions of up to 16 pieces.
    std::vector<int8_t> verdicts;
};

// A table's filter text as last compiled, with the options it was compiled for, so
// that a condition joined to the text compiles only its own pieces.
struct CompiledFilter {
    std::string text;
    TableOptions options;
    CompiledCondition condition;
    // For a plain condition, the view it left with each record's bytes and the
    // state of its runs after the first `known_pieces` pieces, so that a joined
    // condition tests only its own pieces on a record that has not changed.
    std::vector<uint32_t> view;
    std::string records;
    std::vector<uint8_t> runs;
    size_t known_pieces = 0;
};

// Splits and prepares a condition for the table's current options.
CompiledCondition compile_condition(DbfTable& table, const FilterCondition& condition);

// record_passes for a compiled condition (which remembers logic verdicts).
bool record_passes(DbfTable& table, CompiledCondition& condition, FilterWork& work);

} // namespace rorarodi
