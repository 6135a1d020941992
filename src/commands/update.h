// Field assignments (/FIELD) and their application to records (/UPDATE).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "expr/substitute.h"
#include "platform/code_pages.h"
#include "table/table.h"

namespace rorarodi {

struct Session;

void handle_field(Session& session, const std::string& argument);
void handle_update(Session& session, const std::string& argument);

// An assignment text split once for a table: per assignment the target field
// (-1 when no field has the name) and the value expression ready for substitution.
struct AssignmentList {
    struct Assignment {
        std::string name;
        int field = -1;
        SubstitutionPlan value;
    };
    std::vector<Assignment> assignments;
    // Messages show names and values in UTF-8 through this page's tables (/UTF8).
    const Utf8Page* messages_utf8 = nullptr;
};

// Splits "f1=value;f2=value" at every ';' (inside quotes too); pieces without '='
// are dropped, the name is the text before the first '=' (matched ignoring case).
AssignmentList parse_assignments(const DbfTable& table, const std::string& text);

// Applies the assignments to the record buffer in order, each seeing the buffer as
// the earlier ones left it; prints "Invalid field: %s" and "Error in: %s" for the
// assignments that fail, which makes the exit status 2. True when every assignment
// succeeded.
[[nodiscard]] bool apply_assignments(Session& session, DbfTable& table, const AssignmentList& list);

// "Error in:" lines one parameter shows; the others are counted.
inline constexpr uint64_t kShownErrors = 10;
// A parameter that rolls back because values could not be computed: after its
// "Error in:" lines, "N more values could not be computed" when there were more
// than kShownErrors, then "NAME is unchanged"; exit status 2.
void report_unevaluated_values(Session& session, const DbfTable& table, uint64_t errors);

// The /FIELD assignments of the session split for a table. Assignments given under
// /UTF8 are taken from UTF-8 into the table's page ('?' for a character it lacks);
// under /UTF8 the messages show UTF-8.
AssignmentList session_assignments(const Session& session, const DbfTable& table);

} // namespace rorarodi
