// The writers of the output formats: each format's file defines its factory, which
// makes the writer for the selected fields of the current table.
#pragma once
#include <memory>
#include <vector>

namespace rorarodi {

struct Session;
class RecordWriter;

std::unique_ptr<RecordWriter> make_text_writer(Session& session, std::vector<int> fields);
std::unique_ptr<RecordWriter> make_csv_writer(Session& session, std::vector<int> fields);
std::unique_ptr<RecordWriter> make_html_writer(Session& session, std::vector<int> fields);
std::unique_ptr<RecordWriter> make_program_writer(Session& session, std::vector<int> fields);
std::unique_ptr<RecordWriter> make_xml_writer(Session& session, std::vector<int> fields);
std::unique_ptr<RecordWriter> make_table_writer(Session& session, std::vector<int> fields);
// ".sql": the plain SQL text, or the COPY or INSERT writer of the database /SQL names.
std::unique_ptr<RecordWriter> make_sql_text_writer(Session& session, std::vector<int> fields);
std::unique_ptr<RecordWriter> make_sql_writer(Session& session, std::vector<int> fields);
std::unique_ptr<RecordWriter> make_copy_writer(Session& session, std::vector<int> fields);
std::unique_ptr<RecordWriter> make_insert_writer(Session& session, std::vector<int> fields);
std::unique_ptr<RecordWriter> make_sqlite_writer(Session& session, std::vector<int> fields);
std::unique_ptr<RecordWriter> make_json_lines_writer(Session& session, std::vector<int> fields);
std::unique_ptr<RecordWriter> make_json_array_writer(Session& session, std::vector<int> fields);

} // namespace rorarodi
