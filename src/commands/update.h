// Field assignments (/FIELD) and their application to records (/UPDATE).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "expr/substitute.h"
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
};

// Splits "f1=value;f2=value" at every ';' (inside quotes too); pieces without '='
// are dropped, the name is the text before the first '=' (matched ignoring case).
AssignmentList parse_assignments(const DbfTable& table, const std::string& text);

// Applies the assignments to the record buffer in order, each seeing the buffer as
// the earlier ones left it; prints "Invalid field: %s" and "Error in: %s" for the
// assignments that fail. True when every assignment succeeded.
bool apply_assignments(DbfTable& table, const AssignmentList& list);
bool apply_assignments(DbfTable& table, const std::string& text);

// Reads the record at a view position, applies the assignments and writes the
// whole record back there (also when an assignment failed); false when the read or
// the write failed.
bool update_record(DbfTable& table, uint32_t position, const AssignmentList& list);

} // namespace rorarodi
