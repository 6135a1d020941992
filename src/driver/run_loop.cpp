#include "driver/run_loop.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <vector>

#include "commands/code_pages.h"
#include "commands/restructure.h"
#include "driver/all_or_nothing.h"
#include "platform/text.h"
#include "report/output_settings.h"
#include "session/console.h"
#include "session/messages.h"
#include "driver/dispatch.h"
#include "driver/precheck.h"
#include "session/session.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "table/table.h"

namespace rorarodi {

namespace {

constexpr size_t kListLinePiece = 1023;  // a longer line is read in pieces of this size
constexpr int kMaxListNesting = 16;      // list files nested deeper are not read
constexpr const char* kIniFileName = "rorarodi.ini";

// An argument that starts the parameters: '/', '-', '@' or '+' first, except an
// absolute table path.
bool starts_parameters(const std::string& argument) {
    if (argument.empty()) return false;
    char first = argument[0];
    if (first == '/') return !is_absolute_table_path(argument);
    return first == '-' || first == '@' || first == '+';
}

// A list file is known by its device and inode, so that any name for it is caught.
struct ListFileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const ListFileIdentity&) const = default;
};

// Where the parameters of a list file go: dispatched, or (for the checks made
// before a table's run) collected without running and without messages.
using Collector = std::vector<std::string>;

[[nodiscard]] bool read_list_file(Session& session, const std::string& path, std::vector<ListFileIdentity>& reading,
                                  Collector* collected = nullptr);

// Why a table name found no file: the system's reason, or "is a directory" for a
// name the search does not take (such as "dir/").
int missing_reason(const std::string& name) {
    struct stat status {};
    if (::stat(name.c_str(), &status) != 0) return errno;
    return S_ISDIR(status.st_mode) ? EISDIR : ENOENT;
}

// One line (or one piece of a long parameter line) of a list file.
void handle_list_line(Session& session, std::string line, std::vector<ListFileIdentity>& reading, Collector* collected) {
    if (line.empty()) return;
    char first = line[0];
    if (first == '@') {
        std::string nested = line.substr(1);
        if (!nested.empty() && nested.back() == '\n') nested.pop_back();
        if (!read_list_file(session, nested, reading, collected) && !collected)
            report_failure(session, kCantOpenListFile, nested);
        return;
    }
    if (first == ';' || first == '\n' || first == ' ') return;
    if (line.back() == '\n') line.pop_back();
    if (!line.empty() && (line[0] == '-' || line[0] == '/')) line.erase(0, 1);
    if (collected) collected->push_back(line);
    else dispatch_parameter(session, line);
}

// Reads a list file unless it is too deeply nested or already being read (a file
// that includes itself, under any name, would otherwise be read again and again).
[[nodiscard]] bool read_list_file(Session& session, const std::string& path, std::vector<ListFileIdentity>& reading,
                                  Collector* collected) {
    if (reading.size() > static_cast<size_t>(kMaxListNesting)) return false;
    const StdioFile file(std::fopen(path.c_str(), "r"));
    struct stat status {};
    if (!file || ::fstat(::fileno(file.get()), &status) != 0) return false;
    const ListFileIdentity identity{status.st_dev, status.st_ino};
    if (std::find(reading.begin(), reading.end(), identity) != reading.end()) return false;
    reading.push_back(identity);
    std::string line;
    int c;
    auto flush = [&](bool at_line_end) {
        // Lines may end with "\r\n": the carriage return is dropped.
        if (at_line_end && line.size() >= 2 && line[line.size() - 2] == '\r') line.erase(line.size() - 2, 1);
        else if (!at_line_end && !line.empty() && line.back() == '\r') line.pop_back();
        // A parameter line longer than one piece is dispatched piece by piece; the
        // rest of a skipped line or of a nested file's name is no parameter.
        const bool whole_line_only = !line.empty() && std::strchr(";@ \n", line[0]) != nullptr;
        for (size_t from = 0; from < line.size(); from += kListLinePiece) {
            handle_list_line(session, line.substr(from, kListLinePiece), reading, collected);
            if (whole_line_only) break;
        }
        line.clear();
    };
    while ((c = std::fgetc(file.get())) != EOF) {
        line.push_back(static_cast<char>(c));
        if (c == '\n') flush(true);
    }
    if (!line.empty()) flush(false);
    reading.pop_back();
    return true;
}

// A list file named on the command line: one that cannot be read is a failure.
void read_named_list(Session& session, const std::string& name) {
    errno = 0;
    if (!read_parameter_list(session, name)) report_missing_file(session, name, errno != 0 ? errno : ENOENT);
}

// The exit status of a run that was not ended by a fatal message.
int exit_status(const Session& session) { return session.parameter_failed ? 2 : 0; }

int run_single_purpose_form(Session& session, int argc, char** argv, bool& handled) {
    handled = true;
    // The long options every Linux program answers.
    if (std::strcmp(argv[1], "--help") == 0) {
        print_usage();
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        print_version_line();
        return 0;
    }
    const char* text = argv[1] + 1;
    if (starts_with_ignoring_case(text, "version")) {
        print_version_line();
        return 0;
    }
    if (starts_with_ignoring_case(text, "calc:")) {
        handle_calc(session, text + 5);
        return exit_status(session);
    }
    if (text[0] == '?' || text[0] == 'h') {
        print_usage();
        return 0;
    }
    if (starts_with_ignoring_case(text, "create:")) {
        session.settings.new_table_kind = TableKind::foxpro;
        std::string structure = text + 7;
        size_t comma = structure.rfind(',');
        if (comma != std::string::npos) {
            std::string kind = structure.substr(comma + 1);
            structure.erase(comma);
            static constexpr struct {
                const char* name;
                TableKind kind;
            } kKinds[] = {{"dbase3", TableKind::dbase3}, {"foxpro", TableKind::foxpro},
                          {"dbase4", TableKind::dbase4}, {"vfp", TableKind::visual_foxpro},
                          {"smt", TableKind::smt},       {"level7", TableKind::level7}};
            for (const auto& entry : kKinds)
                if (equals_ignoring_case(kind.c_str(), entry.name)) session.settings.new_table_kind = entry.kind;
        }
        create_table_from_structure(session, structure, argc > 2 ? argv[2] : "");
        return exit_status(session);
    }
    handled = false;
    return 0;
}

// The parameter texts of a table's run, as the dispatcher will get them: the INI
// file's, then the command line's with the list files read.
std::vector<std::string> run_parameter_texts(Session& session, const std::vector<std::string>& parameters) {
    Collector texts;
    std::vector<ListFileIdentity> reading;
    (void)read_list_file(session, resolve_companion_name(session.ini_path), reading, &texts);  // may be absent
    for (const std::string& argument : parameters) {
        if (argument[0] == '@')
            (void)read_list_file(session, argument.substr(1), reading, &texts);  // reported when it runs
        else if (argument[0] == '/' || argument[0] == '-')
            texts.push_back(argument.substr(1));
        else
            texts.push_back(argument);
    }
    return texts;
}

void process_file(Session& session, const std::string& full_name, bool read_only, const std::vector<std::string>& parameters) {
    set_console_title("{" + full_name + "} - RORArodi");
    if (!settle_interrupted_change(session, full_name, read_only)) return;
    session.current_table = std::make_unique<DbfTable>();
    DbfTable& table = *session.current_table;
    switch (open_table(table, full_name, read_only)) {
    case OpenResult::opened: break;
    case OpenResult::cannot_open: fail_with_name(kFatalCantOpen, full_name);
    case OpenResult::invalid_header: fail_with_name(kFatalInvalidHeader, full_name);
    case OpenResult::field_error: fail_with_name(kFatalFieldDefinitionError, full_name);
    }

    share_run_settings(session, table);
    if (!check_run_before_changes(session, run_parameter_texts(session, parameters))) {
        close_table(*session.current_table);
        session.current_table.reset();
        return;
    }
    if (session.settings.verbose) std::printf("Processing INI-file %s\n", session.ini_path.c_str());
    // The INI file is optional: a missing one is no failure.
    (void)read_parameter_list(session, resolve_companion_name(session.ini_path));
    // A parameter of the list may have read the table again.
    if (session.current_table) install_conversion_hooks(session, *session.current_table);

    if (session.settings.verbose) std::printf("Processing of command line\n");
    for (const std::string& argument : parameters) {
        if (session.settings.verbose)
            std::printf("Processing of parameter [/%s]\n", argument.empty() ? "" : argument.c_str() + 1);
        if (argument[0] == '@')
            read_named_list(session, argument.substr(1));
        else if (argument[0] == '/' || argument[0] == '-')
            dispatch_parameter(session, argument.substr(1));
        else
            dispatch_parameter(session, argument);
    }

    if (session.current_table) close_table(*session.current_table);
    session.current_table.reset();
}

} // namespace

bool read_parameter_list(Session& session, const std::string& path) {
    std::vector<ListFileIdentity> reading;
    return read_list_file(session, path, reading);
}

int run_program(int argc, char** argv) {
    // The one session of the process. It is static so that it stays reachable
    // when a fatal message ends the program from inside a handler.
    static Session session;
    session.reset();
    forget_seen_tables();
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    if (argc >= 2) {
        std::string first = argv[1];
        if (!first.empty() && (first[0] == '/' || first[0] == '-') && starts_parameters(first)) {
            bool handled = false;
            int status = run_single_purpose_form(session, argc, argv, handled);
            if (handled) {
                std::fflush(stdout);
                return status;
            }
        }
    }
    if (argc - 1 < 2) {
        print_usage();
        std::fflush(stdout);
        return 0;
    }

    session.ini_path = program_directory(argv[0]) + kIniFileName;

    std::vector<std::string> patterns, parameters;
    int i = 1;
    for (; i < argc && !starts_parameters(argv[i]); ++i) patterns.push_back(argv[i]);
    for (; i < argc; ++i) parameters.push_back(argv[i]);

    for (std::string pattern : patterns) {
        bool read_only = false;
        if (!pattern.empty() && pattern[0] == '#') {
            read_only = true;
            pattern.erase(0, 1);
        }
        std::vector<std::string> matches = find_matches(pattern);
        // A plain name whose table is missing beside its journal is settled first.
        if (matches.empty() && pattern.find_first_of("*?") == std::string::npos && has_change_journal(pattern))
            matches.push_back(pattern);
        // A pattern may match nothing; a plain name must name a file.
        if (matches.empty() && pattern.find_first_of("*?") == std::string::npos)
            report_missing_file(session, pattern, missing_reason(pattern));
        for (const std::string& match : matches) process_file(session, match, read_only, parameters);
    }
    std::fflush(stdout);
    return exit_status(session);
}

} // namespace rorarodi
