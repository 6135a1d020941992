#include "table/field_store.h"

#include <cmath>

#include "table/field_text.h"
#include "table/memo.h"

namespace rorarodi {

namespace {

// A number above 0 stores that many bytes of the data (never more than it holds);
// otherwise the data is a text that ends at its first zero byte. A memo that cannot
// be written leaves the field as it was.
void store_memo_value(DbfTable& table, int field, std::string_view data, double number) {
    if (number > 0) {
        const double count = std::trunc(number);
        if (count >= 2147483648.0) return;
        (void)write_memo_bytes(table, field, data.substr(0, static_cast<size_t>(count)));
    } else {
        (void)write_memo_text(table, field, data);
    }
}

} // namespace

void set_field(DbfTable& table, int field, std::string_view data, double number) {
    if (field_is_memo(table, field))
        store_memo_value(table, field, data, number);
    else
        set_non_memo_field(table, field, data, number);
}

} // namespace rorarodi
