// The calculator over any text. A text it accepts is upper-cased in place, and the
// upper-cased text gives the same value again.
#include <cmath>

#include "expr/calculator.h"
#include "fuzz_support.h"

using namespace rorarodi;

RORARODI_FUZZ_TARGET(calculator) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const std::string original = text;
    bool ok = true;
    const double value = calculate(text, ok);
    if (!ok) {
        FUZZ_CHECK(text == original, "a rejected text was changed");
        return 0;
    }
    std::string again = text;
    bool ok_again = true;
    const double value_again = calculate(again, ok_again);
    FUZZ_CHECK(ok_again, "the upper-cased text was rejected");
    FUZZ_CHECK(again == text, "an upper-cased text changed again");
    FUZZ_CHECK(value_again == value || (std::isnan(value) && std::isnan(value_again)),
               "the upper-cased text gave another value");
    return 0;
}
