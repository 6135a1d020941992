// What a parameter does to its table, and what is said around it: the refusal of a
// table opened read-only, a missing memo file, the dry run (/DRYRUN) and the warnings
// about companion files (a structural index, a shapefile) that a change leaves behind.
#pragma once
#include <functional>
#include <string>

#include "session/session.h"

namespace rorarodi {

// What a changing parameter does to its table: a column of its keyword row.
struct ChangeColumns {
    bool header = false;         // it changes the header alone (/CPZERO, /CHECK, /CDX)
    bool writes_records = false; // it changes records
    bool moves_records = false;  // it changes the number or the order of records
    bool writes_memos = false;   // it may write the memo file
    bool restructures = false;   // /MODIFY
    bool reorders = false;       // /SORT
    bool says_read_only = false; // its handler already says that it refuses a read-only table
    constexpr bool changes() const { return header || writes_records; }
};

// Appending another table ("+other.dbf"), which has no keyword row.
constexpr ChangeColumns kAppendFromColumns{.writes_records = true, .moves_records = true, .writes_memos = true};

// A parameter's change columns, with how it is named.
struct ParameterEffects : ChangeColumns {
    std::string keyword; // of its keyword row; "+" for appending another table
    std::string display; // as the user names it: "/PACK", "+other.dbf"
};

// The effects of the parameter `text` that reaches the keyword row `keyword` with
// the change columns `columns` ("+" for appending another table).
ParameterEffects effects_of(const std::string& keyword, const ChangeColumns& columns, const std::string& text);

// True when the run holds the parameter that turns the dry run on.
bool is_dry_run_keyword(const std::string& keyword);

// Runs one parameter as one change (`step` calls its handler): refuses a memo write
// without the memo file, says a refusal of a table opened read-only, rolls the
// change back and describes it under /DRYRUN, warns about companion files, and
// reports a memo file that could not be read.
void run_parameter(Session& session, const ParameterEffects& effects, const std::function<void()>& step);

} // namespace rorarodi
