// The arithmetic calculator: a table-driven shift-reduce parser over numbers,
// + - * / ^, parentheses and a fixed set of functions.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rorarodi {

// Evaluates `text`, read with its letters upper-cased. On success returns the value,
// leaves `ok` as the caller set it and upper-cases `text` in place; on failure
// (syntax error, unknown character or name, more than 30 nested parse entries, a
// quotient of positive infinity) returns 0, clears `ok` and leaves `text` alone.
double calculate(std::string& text, bool& ok);

// A calculation text made of fixed pieces and numbers that change from one
// evaluation to the next (a field value substituted into a text). The pieces are
// scanned and parsed once; each evaluation replays the parser's steps on the new
// numbers, and gives exactly what calculate() gives for the joined text.
struct CalculationPiece {
    std::string text;       // fixed text, when `number` is false
    bool number = false;    // a changing number: its digits, after a '-' when `negative`
    bool negative = false;
};

class CompiledCalculation {
public:
    // False when the calculation fails for these numbers (a quotient of positive
    // infinity), as calculate() fails for the joined text.
    [[nodiscard]] bool evaluate(const double* numbers, double& result) const;

    struct Step {
        uint8_t kind = 0;      // push a fixed number, a changing number, a function; reduce
        uint8_t rule = 0;      // for a reduction
        uint16_t index = 0;    // the changing number, or the function
        double value = 0;      // a fixed number
    };
    std::vector<Step> steps;
};

// The compiled form of the joined pieces; nothing when the joined text would scan
// differently from its pieces scanned apart (a number that would run on into the
// text beside it, two texts side by side), when a piece holds a zero byte, or when
// the text does not parse.
std::optional<CompiledCalculation> compile_calculation(const std::vector<CalculationPiece>& pieces);

} // namespace rorarodi
