#include "expr/calculator.h"
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace rorarodi {

namespace {

enum Token : uint8_t { kPlus, kMinus, kTimes, kDivide, kPower, kColon, kOpen, kClose, kNumber, kFunction, kEnd, kError, kTokenKinds };

// Non-terminals of the grammar.
enum Symbol : uint8_t { kE, kT, kF, kU, kA, kB, kSymbols };

// Grammar rules 1..14 as left-hand side and length of the right-hand side:
//  1 E→E+T  2 E→E-T  3 E→T  4 T→T*F  5 T→T/F  6 T→F  7 F→U^F  8 F→U
//  9 U→-A  10 U→A  11 A→B  12 B→(E)  13 B→number  14 B→function(E)
struct Rule {
    Symbol left;
    uint8_t length;
};
constexpr Rule kRules[15] = {{kE, 0}, {kE, 3}, {kE, 3}, {kE, 1}, {kT, 3}, {kT, 3}, {kT, 1}, {kF, 3},
                             {kF, 1}, {kU, 2}, {kU, 1}, {kA, 1}, {kB, 3}, {kB, 1}, {kB, 4}};

constexpr int kStates = 31;
constexpr size_t kStackLimit = 30;

enum class Step : uint8_t { error, shift, reduce, accept };
struct Action {
    Step step = Step::error;
    uint8_t target = 0;  // state for a shift, rule for a reduce
};
using ActionTable = std::array<std::array<Action, kTokenKinds>, kStates>;
using GotoTable = std::array<std::array<int8_t, kStates>, kSymbols>;

constexpr ActionTable build_action_table() {
    ActionTable t{};
    auto shift = [](int state) { return Action{Step::shift, static_cast<uint8_t>(state)}; };
    auto reduce_always = [&t](int state, int rule) {
        for (Action& a : t[state]) a = Action{Step::reduce, static_cast<uint8_t>(rule)};
    };
    // States where an operand starts.
    for (int s : {0, 9, 12, 13, 14, 15, 16, 20}) {
        t[s][kNumber] = shift(10);
        t[s][kFunction] = shift(11);
        t[s][kMinus] = shift(5);
        t[s][kOpen] = shift(9);
    }
    t[1][kEnd] = Action{Step::accept, 0};
    t[1][kPlus] = shift(12);
    t[1][kMinus] = shift(13);
    reduce_always(2, 3);
    t[2][kTimes] = shift(14);
    t[2][kDivide] = shift(15);
    reduce_always(3, 6);
    reduce_always(4, 8);
    t[4][kPower] = shift(16);
    // After a unary minus: no second minus.
    t[5][kNumber] = shift(10);
    t[5][kFunction] = shift(11);
    t[5][kOpen] = shift(9);
    reduce_always(6, 10);
    reduce_always(8, 11);
    reduce_always(10, 13);
    t[11][kOpen] = shift(20);
    reduce_always(17, 9);
    t[19][kPlus] = shift(12);
    t[19][kMinus] = shift(13);
    t[19][kClose] = shift(27);
    reduce_always(21, 1);
    t[21][kTimes] = shift(14);
    t[21][kDivide] = shift(15);
    reduce_always(22, 2);
    t[22][kTimes] = shift(14);
    t[22][kDivide] = shift(15);
    reduce_always(23, 4);
    reduce_always(24, 5);
    reduce_always(25, 7);
    reduce_always(27, 12);
    t[28][kPlus] = shift(12);
    t[28][kMinus] = shift(13);
    t[28][kClose] = shift(29);
    reduce_always(29, 14);
    return t;
}

constexpr GotoTable build_goto_table() {
    GotoTable g{};
    for (auto& row : g)
        for (int8_t& s : row) s = -1;
    g[kE][0] = 1;
    g[kE][9] = 19;
    g[kE][20] = 28;
    for (int s : {0, 9, 20}) g[kT][s] = 2;
    g[kT][12] = 21;
    g[kT][13] = 22;
    for (int s : {0, 9, 12, 13, 20}) g[kF][s] = 3;
    g[kF][14] = 23;
    g[kF][15] = 24;
    g[kF][16] = 25;
    for (int s : {0, 9, 12, 13, 14, 15, 16, 20}) g[kU][s] = 4;
    for (int s : {0, 9, 12, 13, 14, 15, 16, 20}) g[kA][s] = 6;
    g[kA][5] = 17;
    for (int s : {0, 5, 9, 12, 13, 14, 15, 16, 20}) g[kB][s] = 8;
    return g;
}

constexpr ActionTable kActions = build_action_table();
constexpr GotoTable kGoto = build_goto_table();

// Truncation toward zero to a signed 32-bit integer; NaN and values outside the
// range give the integer indefinite value -2147483648, as the hardware conversion does.
double to_int32(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

using Function = double (*)(double);

struct FunctionName {
    const char* name;
    Function apply;
};

// Tried as prefixes in this order, so COSH comes before COS and LOG10 before LOG.
constexpr FunctionName kFunctions[] = {
    {"ABS", [](double x) { return std::fabs(x); }},
    {"ACOS", [](double x) { return std::acos(x); }},
    {"ASIN", [](double x) { return std::asin(x); }},
    {"ATAN", [](double x) { return std::atan(x); }},
    {"COSH", [](double x) { return std::cosh(x); }},
    {"COS", [](double x) { return std::cos(x); }},
    {"EXP", [](double x) { return std::exp(x); }},
    {"LOG10", [](double x) { return std::log10(x); }},
    {"LOG", [](double x) { return std::log(x); }},
    {"POW10", [](double x) { return std::pow(x, 10.0); }},
    {"ROUND", [](double x) { return to_int32(x + 0.5); }},
    {"SINH", [](double x) { return std::sinh(x); }},
    {"SIN", [](double x) { return std::sin(x); }},
    {"SQRT", [](double x) { return std::sqrt(x); }},
    {"SQR", [](double x) { return x * x; }},
    {"TANH", [](double x) { return std::tanh(x); }},
    {"TAN", [](double x) { return std::tan(x); }},
    {"TRUNC", [](double x) { return to_int32(x); }},
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

struct Scanned {
    Token kind = kError;
    double number = 0;
    int function = 0;
};

// Reads tokens from the text as if it were upper-cased; a NUL ends the text.
class Scanner {
public:
    explicit Scanner(const std::string& text) : text_(text) {}

    Scanned next() {
        while (at(position_) == ' ') ++position_;
        char c = at(position_);
        if (c == 0) return {kEnd};
        if (is_digit(c) || c == '.') return number();
        if (c >= 'A' && c <= 'Z') return function();
        ++position_;
        switch (c) {
        case '(': return {kOpen};
        case ')': return {kClose};
        case '*': return {kTimes};
        case '+': return {kPlus};
        case '-': return {kMinus};
        case '/': return {kDivide};
        case ':': return {kColon};
        case '^': return {kPower};
        default: return {kError};
        }
    }

private:
    char at(size_t i) const { return i < text_.size() ? ascii_upper(text_[i]) : 0; }

    // Digits with at most one '.', then 'E', an optional sign and up to three digits.
    Scanned number() {
        size_t start = position_;
        bool point = false;
        for (;;) {
            char c = at(position_);
            if (is_digit(c)) {
                ++position_;
            } else if (c == '.' && !point) {
                point = true;
                ++position_;
            } else {
                break;
            }
        }
        if (position_ - start == 1 && point) return {kError};
        if (at(position_) == 'E') {
            ++position_;
            if (at(position_) == '+' || at(position_) == '-') ++position_;
            for (int k = 0; k < 3 && is_digit(at(position_)); ++k) ++position_;
        }
        // The taken characters alone go to the conversion, which stops where they stop.
        size_t length = position_ - start;
        std::array<char, 64> small{};
        if (length < small.size()) {
            for (size_t i = 0; i < length; ++i) small[i] = at(start + i);
            // from_chars gives strtod's value (both round correctly) many times faster;
            // a number out of range, or one that ends early, goes to strtod itself.
            double value = 0;
            const std::from_chars_result r = std::from_chars(small.data(), small.data() + length, value);
            if (r.ec == std::errc() && r.ptr == small.data() + length) return {kNumber, value};
            return {kNumber, std::strtod(small.data(), nullptr)};
        }
        std::string taken;
        for (size_t i = 0; i < length; ++i) taken += at(start + i);
        return {kNumber, std::strtod(taken.c_str(), nullptr)};
    }

    Scanned function() {
        for (size_t f = 0; f < std::size(kFunctions); ++f) {
            const char* name = kFunctions[f].name;
            size_t length = std::strlen(name);
            size_t i = 0;
            while (i < length && at(position_ + i) == name[i]) ++i;
            if (i == length) {
                position_ += length;
                return {kFunction, 0, static_cast<int>(f)};
            }
        }
        ++position_;
        return {kError};
    }

    const std::string& text_;
    size_t position_ = 0;
};

// Left uninitialised in the stack until pushed.
struct Entry {
    uint8_t state;
    double value;
    int function;
};

// Value of the right-hand side `rhs` (its entries in order) reduced by `rule`;
// false when the rule fails (a quotient of positive infinity).
[[nodiscard]] bool rule_value(int rule, const Entry* rhs, double& value) {
    switch (rule) {
    case 1: value = rhs[0].value + rhs[2].value; return true;
    case 2: value = rhs[0].value - rhs[2].value; return true;
    case 4: value = rhs[0].value * rhs[2].value; return true;
    case 5:
        value = rhs[2].value == 0 ? std::numeric_limits<double>::infinity() : rhs[0].value / rhs[2].value;
        return value != std::numeric_limits<double>::infinity();
    case 7: value = std::pow(rhs[0].value, rhs[2].value); return true;
    case 9: value = -rhs[1].value; return true;
    case 12: value = rhs[1].value; return true;
    case 14: value = kFunctions[rhs[0].function].apply(rhs[2].value); return true;
    default: value = rhs[0].value; return true;  // 3, 6, 8, 10, 11, 13 pass the value on
    }
}

[[nodiscard]] bool evaluate(const std::string& text, double& result) {
    std::array<Entry, kStackLimit> stack;
    stack[0] = Entry{0, 0, 0};
    size_t size = 1;
    Scanner scanner(text);
    Scanned token = scanner.next();
    for (;;) {
        const Action action = kActions[stack[size - 1].state][token.kind];
        switch (action.step) {
        case Step::error:
            return false;
        case Step::accept:
            result = stack[size - 1].value;
            return true;
        case Step::shift:
            if (size == kStackLimit) return false;
            stack[size++] = Entry{action.target, token.number, token.function};
            token = scanner.next();
            break;
        case Step::reduce: {
            const Rule& rule = kRules[action.target];
            if (rule.length >= size) return false;
            size -= rule.length;
            double value = 0;
            if (!rule_value(action.target, &stack[size], value)) return false;
            int8_t next = kGoto[rule.left][stack[size - 1].state];
            if (next < 0) return false;
            stack[size++] = Entry{static_cast<uint8_t>(next), value, 0};
            break;
        }
        }
    }
}

enum StepKind : uint8_t { kFixedNumber, kChangingNumber, kFunctionName, kReduction };

// A token of a compiled text: a fixed number, a changing one (its index), or any
// other token.
struct PlannedToken {
    Scanned scanned;
    int changing = -1;
};

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Rules 3, 6, 8, 10, 11 and 13: rule_value gives the value of their one symbol.
bool passes_value_on(int rule) {
    return rule == 3 || rule == 6 || rule == 8 || rule == 10 || rule == 11 || rule == 13;
}

// The parser of evaluate() run over token kinds only, noting the steps it takes.
[[nodiscard]] bool plan_steps(const std::vector<PlannedToken>& tokens, std::vector<CompiledCalculation::Step>& steps) {
    std::array<uint8_t, kStackLimit> stack;
    stack[0] = 0;
    size_t size = 1;
    size_t next = 0;
    for (;;) {
        const PlannedToken& token = tokens[next];
        const Action action = kActions[stack[size - 1]][token.scanned.kind];
        switch (action.step) {
        case Step::error:
            return false;
        case Step::accept:
            return true;
        case Step::shift: {
            if (size == kStackLimit) return false;
            stack[size++] = action.target;
            CompiledCalculation::Step step;
            if (token.scanned.kind == kNumber) {
                step.kind = token.changing >= 0 ? kChangingNumber : kFixedNumber;
                step.index = static_cast<uint16_t>(std::max(token.changing, 0));
                step.value = token.scanned.number;
            } else {
                // Operators and parentheses carry no value; a function carries its index.
                step.kind = kFunctionName;
                step.index = static_cast<uint16_t>(token.scanned.function);
            }
            steps.push_back(step);
            ++next;
            break;
        }
        case Step::reduce: {
            const Rule& rule = kRules[action.target];
            if (rule.length >= size) return false;
            size -= rule.length;
            const int8_t state = kGoto[rule.left][stack[size - 1]];
            if (state < 0) return false;
            stack[size++] = static_cast<uint8_t>(state);
            // A rule of one symbol that passes its value on leaves the values as they are.
            if (rule.length == 1 && passes_value_on(action.target)) break;
            CompiledCalculation::Step step;
            step.kind = kReduction;
            step.rule = action.target;
            steps.push_back(step);
            break;
        }
        }
    }
}

} // namespace

std::optional<CompiledCalculation> compile_calculation(const std::vector<CalculationPiece>& pieces) {
    std::vector<PlannedToken> tokens;
    int changing = 0;
    for (size_t k = 0; k < pieces.size(); ++k) {
        const CalculationPiece& piece = pieces[k];
        if (piece.number) {
            // A number next to a number, or after text that a number would continue
            // (digits, a point, a letter of a name or an exponent), is not a token
            // of its own in the joined text.
            if (k > 0) {
                const CalculationPiece& before = pieces[k - 1];
                if (before.number || before.text.empty()) return std::nullopt;
                const char last = before.text.back();
                if (is_digit(last) || last == '.' || is_letter(last)) return std::nullopt;
            }
            if (k + 1 < pieces.size()) {
                const CalculationPiece& after = pieces[k + 1];
                if (after.number || after.text.empty()) return std::nullopt;
                const char first = after.text.front();
                if (is_digit(first) || first == '.' || first == 'E' || first == 'e') return std::nullopt;
            }
            if (piece.negative) tokens.push_back({Scanned{kMinus}, -1});
            tokens.push_back({Scanned{kNumber}, changing++});
            continue;
        }
        // Two texts side by side scan as one: "2E" and "+3" are the number 2E+3.
        if (k > 0 && !pieces[k - 1].number) return std::nullopt;
        if (piece.text.find('\0') != std::string::npos) return std::nullopt;
        Scanner scanner(piece.text);
        for (Scanned token = scanner.next(); token.kind != kEnd; token = scanner.next()) {
            tokens.push_back({token, -1});
            if (token.kind == kError) break;
        }
    }
    tokens.push_back({Scanned{kEnd}, -1});
    CompiledCalculation compiled;
    if (!plan_steps(tokens, compiled.steps)) return std::nullopt;
    return compiled;
}

bool CompiledCalculation::evaluate(const double* numbers, double& result) const {
    std::array<Entry, kStackLimit> stack;
    size_t size = 0;
    for (const Step& step : steps) {
        switch (step.kind) {
        case kFixedNumber: stack[size++] = Entry{0, step.value, 0}; break;
        case kChangingNumber: stack[size++] = Entry{0, numbers[step.index], 0}; break;
        case kFunctionName: stack[size++] = Entry{0, 0, step.index}; break;
        default: {
            const Rule& rule = kRules[step.rule];
            size -= rule.length;
            double value = 0;
            if (!rule_value(step.rule, &stack[size], value)) return false;
            stack[size++] = Entry{0, value, 0};
        }
        }
    }
    // The parse accepted with the value of E on top.
    result = stack[size - 1].value;
    return true;
}

double calculate(std::string& text, bool& ok) {
    double value = 0;
    if (!evaluate(text, value)) {
        ok = false;
        return 0;
    }
    for (char& c : text) c = ascii_upper(c);
    return value;
}

} // namespace rorarodi
