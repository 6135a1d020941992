// Every message that reports a failure, in one list, and the one way to print them.
//
// Exit status: 0 when every table named was processed and every parameter did what
// it asked; 2 when the run went on but a parameter reported a failure (any message of
// the first two lists below); 1 after a fatal message (the third list), which ends the
// program at once. Messages that report a finding rather than a failure ("Duplicated
// records not found.", the comparison report, counts) are printed where they arise and
// leave the status as it is.
#pragma once
#include <string>

#include "session/session.h"

namespace rorarodi {

// A failure message printed as it stands, with a line end added.
struct FailureLine {
    const char* text;
};

// A failure message with one name in the place of its "%s"; it carries its own line
// end, or none. The check at compile time keeps any other conversion out of it.
struct FailureFormat {
    consteval FailureFormat(const char* format) : text(format) {
        int names = 0;
        for (const char* c = format; *c; ++c) {
            if (*c != '%') continue;
            if (c[1] != 's') throw "a failure format holds no conversion but one %s";
            ++names;
            ++c;
        }
        if (names != 1) throw "a failure format holds exactly one %s";
    }
    const char* text;
};

// Parameters and their arguments.
inline constexpr FailureLine kInvalidFilter{"Invalid filter..."};
inline constexpr FailureLine kInvalidMemoType{"Invalid memo type..."};
inline constexpr FailureLine kInvalidOutputFormat{"Invalid output format..."};
inline constexpr FailureLine kCalculationError{"Error"};
inline constexpr FailureLine kInvalidFields{"Invalid field[s]..."};
inline constexpr FailureLine kFieldsRequiredForSelect{"Field[s] required for select..."};
inline constexpr FailureLine kFieldsRequiredForOrder{"Field[s] required for order..."};
inline constexpr FailureLine kFieldsRequiredForSort{"Field[s] required for sort..."};
inline constexpr FailureLine kParameterRequiredForDelete{"Parameter required for delete..."};
inline constexpr FailureLine kParameterRequiredForRecall{"Parameter required for recall..."};
inline constexpr FailureLine kParameterRequiredForRange{"Parameter required for range..."};
inline constexpr FailureLine kParameterRequiredForTrunc{"Parameter required for trunc..."};
inline constexpr FailureLine kInvalidTruncParameter{"Invalid trunc parameter..."};
inline constexpr FailureLine kInvalidPackParameter{"Invalid pack parameter..."};
inline constexpr FailureLine kFilenameRequiredForMake{"Filename required for make..."};
inline constexpr FailureLine kFilenameRequiredForModify{"Filename required for modify..."};
inline constexpr FailureLine kPasswordRequired{"Password required..."};
inline constexpr FailureLine kInvalidCondition{"Invalid condition..."};
inline constexpr FailureLine kFieldsMustBeSpecified{"Fields must be specified..."};
inline constexpr FailureLine kInvalidCodePage{"Invalid code page..."};
inline constexpr FailureLine kNoFieldsDefined{"No fields defined..."};
inline constexpr FailureLine kNoNameSpecified{"No name was specified."};
inline constexpr FailureLine kCantOpenTemporaryFile{"Can''t open temporary file..."};
inline constexpr FailureFormat kUnknownFunction{"Unknown function: [%s].\n"};
inline constexpr FailureFormat kUnknownDateFormat{"Unknown date format: %s.\n"};
inline constexpr FailureFormat kUnknownSqlDialect{"Unknown SQL dialect: %s.\n"};
inline constexpr FailureFormat kCantOpenListFile{"Can't open file: %s\n"};
inline constexpr FailureFormat kInvalidField{"Invalid field: %s\n"};
inline constexpr FailureFormat kErrorIn{"Error in: %s\n"};
inline constexpr FailureFormat kInvalidFieldDefinition{"Invalid field definition: %s\n"};
inline constexpr FailureFormat kDuplicateFieldName{"Duplicate field name: %s\n"};
inline constexpr FailureFormat kUnableToOpenStructureFile{"Unable to open ini file %s"};

// Files a parameter could not make, write or replace.
inline constexpr FailureFormat kCantOpenOutput{"Can't open %s\n"};
inline constexpr FailureFormat kCantWriteOutput{"Can't write %s\n"};
inline constexpr FailureFormat kCantCreate{"Can't create \"%s\"\n"};
inline constexpr FailureFormat kUnableToCreateTarget{"Unable to create the target file [%s]"};
inline constexpr FailureFormat kUnableToWriteTarget{"Unable to write the target file [%s]\n"};
inline constexpr FailureFormat kUnableToReplaceTable{"Unable to replace %s by the new table\n"};
inline constexpr FailureFormat kCantModifyReadOnly{"Can't modify a table opened read-only: %s\n"};
inline constexpr FailureFormat kCantMakeBackup{"Can't make the backup %s\n"};  // name: reason
inline constexpr FailureFormat kBackupNameIsTable{"Can't keep a backup of %s: the backup name is the table's own\n"};

// Fatal: printed by fail_with_name with the name after one space; exit status 1.
inline constexpr char kFatalCantOpen[] = "Can't open";
inline constexpr char kFatalInvalidHeader[] = "Invalid header...";
inline constexpr char kFatalFieldDefinitionError[] = "Field definition error...";
inline constexpr char kFatalCantCreateFile[] = "Can't create file:";
inline constexpr char kFatalCantCreateOutputFile[] = "Can't create output file:";
inline constexpr char kFatalCantReopenFile[] = "Can't reopen file:";

// A parameter whose change could not be made whole: "REASON; NAME is unchanged\n",
// or "; the change of NAME is made" when only the tidying after it failed, or
// "; NAME could not be put back (REASON) and is put back when it is next opened for
// writing" when the rollback failed too ("Not enough memory" is the reason a memory
// shortage gives). Without a table, the reason alone. Exit status 2.
enum class ChangeEnd { unchanged, made, not_put_back };
void report_change_failure(Session& session, const std::string& reason, const std::string& table_name, ChangeEnd end,
                           const std::string& rollback_reason = {});
// A table opened read-only that has an interrupted change: "NAME has an interrupted
// change: open it for writing to roll it back\n", exit status 2.
void refuse_interrupted_change(Session& session, const std::string& table_name);
// "Can't roll back the interrupted change of NAME: REASON\n", exit status 2.
void report_failed_recovery(Session& session, const std::string& table_name, const std::string& reason);

// Prints the message on standard output and makes the exit status 2.
void report_failure(Session& session, FailureLine message);
void report_failure(Session& session, FailureFormat message, const std::string& name);

// A parameter that would write records into a table whose header record length
// differs from the sum of its field widths: "Record length %u in the header differs
// from %u, the sum of the field widths: %s not changed\n" (the header's length, the
// fields', the table), and exit status 2.
void refuse_record_writes(Session& session, const DbfTable& table);

// One line "rorarodi: TEXT" on standard error (after what standard output holds so
// far). report_on_standard_error makes the exit status 2; warn_on_standard_error
// leaves it as it is.
void report_on_standard_error(Session& session, const std::string& text);
void warn_on_standard_error(const std::string& text);

// A changing parameter refused because of the state of its table:
// "rorarodi: /PACK: t.dbf has a filter or an order; /CLEAR first",
// "rorarodi: /SORT: t.dbf is open read-only"; exit status 2.
void refuse_parameter(Session& session, const std::string& parameter, const std::string& table_name,
                      const char* reason);
inline constexpr char kRefusedForView[] = "has a filter or an order; /CLEAR first";
inline constexpr char kRefusedReadOnly[] = "is open read-only";

// "rorarodi: the condition TEXT names no field of NAME": a filter piece whose result
// is the same for every record (a misspelt field name, say); exit status 2.
void report_condition_without_field(Session& session, const std::string& condition, const std::string& table_name);

// A file named on the command line that is not there: "rorarodi: NAME: reason" on
// standard error (the reason of the system error `error`), and exit status 2.
void report_missing_file(Session& session, const std::string& name, int error);

} // namespace rorarodi
