#include "expr/comparison.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "table/text_convert.h"

namespace rorarodi {

namespace {

// Compares the texts over the length of the shorter one, as unsigned bytes.
int prefix_comparison(std::string_view left, std::string_view right) {
    size_t length = std::min(left.size(), right.size());
    return length == 0 ? 0 : std::memcmp(left.data(), right.data(), length);
}

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

} // namespace

bool forms_operator_pair(char first, char second) {
    return (second == '>' || second == '<' || second == '=') &&
           (first == '=' || first == '~' || first == '>' || first == '<');
}

ComparisonOperator identify_operator(char first, char second, size_t& length) {
    length = 1;
    if (forms_operator_pair(first, second)) {
        length = 2;
        if (first == '=' && second == '=') return ComparisonOperator::exact;
        // Other pairs are known by the 8-bit sum of their codes, so <= and =< agree.
        switch (static_cast<uint8_t>(first + second)) {
        case '<' + '<': return ComparisonOperator::less;
        case '<' + '=': return ComparisonOperator::less_equal;
        case '<' + '>': return ComparisonOperator::not_equal;
        case '>' + '=': return ComparisonOperator::greater_equal;
        case '>' + '>': return ComparisonOperator::greater;
        case '~' + '<': return ComparisonOperator::tilde_less;
        case '~' + '=': return ComparisonOperator::tilde_equal;
        case '~' + '>': return ComparisonOperator::tilde_greater;
        default: return ComparisonOperator::other;
        }
    }
    switch (first) {
    case '=': return ComparisonOperator::equal;
    case '~': return ComparisonOperator::contains;
    case '^': return ComparisonOperator::lacks;
    case '<': return ComparisonOperator::less;
    case '>': return ComparisonOperator::greater;
    default: return ComparisonOperator::other;
    }
}

bool compare_numbers(ComparisonOperator op, double left, double right) {
    switch (op) {
    case ComparisonOperator::equal:
    case ComparisonOperator::exact:
    case ComparisonOperator::contains:
    case ComparisonOperator::lacks: return left == right;
    case ComparisonOperator::less: return left < right;
    case ComparisonOperator::greater: return left > right;
    case ComparisonOperator::less_equal:
    case ComparisonOperator::tilde_less: return left <= right;
    case ComparisonOperator::greater_equal:
    case ComparisonOperator::tilde_greater: return left >= right;
    case ComparisonOperator::not_equal: return left != right;
    default: return false;
    }
}

bool prefix_verdict(ComparisonOperator op, int sign) {
    switch (op) {
    case ComparisonOperator::equal: return sign == 0;
    case ComparisonOperator::less: return sign < 0;
    case ComparisonOperator::greater: return sign > 0;
    case ComparisonOperator::less_equal: return sign <= 0;
    case ComparisonOperator::greater_equal: return sign >= 0;
    case ComparisonOperator::not_equal: return sign != 0;
    default: return false;
    }
}

bool compare_texts(ComparisonOperator op, std::string_view left, std::string_view right) {
    switch (op) {
    case ComparisonOperator::contains: return contains(left, right);
    case ComparisonOperator::lacks: return !contains(left, right);
    case ComparisonOperator::exact: return left == right;
    default: return prefix_verdict(op, prefix_comparison(left, right));
    }
}

void upper_case_operand(const DbfTable& table, std::string& text) {
    if (table.options.upper_case_hook)
        table.options.upper_case_hook(reinterpret_cast<unsigned char*>(text.data()));
    else
        upper_case_ansi(table, text.data());
}

int parenthesis_balance(std::string_view text) {
    int balance = 0;
    for (char c : text) {
        if (c == '(') ++balance;
        else if (c == ')') --balance;
    }
    return balance;
}

void strip_unbalanced_parens(std::string& text) {
    if (text.empty()) return;
    int balance = parenthesis_balance(text);
    size_t begin = 0, end = text.size();
    while (balance != 0) {
        if (balance > 0 && begin < end && text[begin] == '(') {
            ++begin;
            --balance;
        } else if (balance < 0 && begin < end && text[end - 1] == ')') {
            --end;
            ++balance;
        } else {
            break;
        }
    }
    if (begin > 0 || end < text.size()) {
        text.erase(end);
        text.erase(0, begin);
    }
}

} // namespace rorarodi
