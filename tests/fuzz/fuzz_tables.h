// The fixed tables that the filter and list-file targets work on, written with the
// test table builder.
#pragma once
#include <string>

namespace fuzzing {

// A dBase III table of character, numeric, date, logical and memo fields, one record
// deleted, some fields blank; and its memo file (people.dbt beside people.dbf).
std::string people_table();
std::string people_memo();

} // namespace fuzzing
