#include "report/structure.h"

#include <array>
#include <cstdio>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "platform/change.h"
#include "platform/file.h"
#include "platform/text.h"
#include "session/console.h"
#include "session/messages.h"
#include "session/session.h"
#include "report/escape.h"
#include "report/sql_dialect.h"
#include "table/dbf_format.h"
#include "table/field_text.h"
#include "table/table.h"
#include "table/text_convert.h"

namespace rorarodi {

namespace {

// The structure table: five fields describing one field of the listed table per record.
constexpr size_t kStructureHeaderLength = 193;
constexpr size_t kStructureRecordLength = 50;
constexpr size_t kStructureNameWidth = 10;

struct StructureColumn {
    const char* name;
    char type;
    uint32_t offset;
    uint8_t length;
};
constexpr std::array<StructureColumn, 5> kStructureColumns{{
    {"FIELD_NAME", 'C', 1, 10},
    {"FIELD_TYPE", 'C', 11, 1},
    {"FIELD_LEN", 'N', 12, 3},
    {"FIELD_DEC", 'N', 15, 3},
    {"DESCRIPT", 'C', 18, 32},
}};

// What a listing is written from: the run's settings and, under /UTF8, the page
// field names are shown in (null otherwise).
struct ListingOptions {
    const RunSettings& settings;
    const Utf8Page* utf8;
};

std::string_view up_to_first_nul(const std::string& text) {
    return std::string_view(text.c_str());
}

// A field's name filled to `width` characters, in UTF-8 under /UTF8.
std::string name_column(const Utf8Page* utf8, const FieldDescriptor& f, size_t width = 0) {
    return listed_text(utf8, f.name, width);
}

void write_text_listing(std::FILE* out, DbfTable& table, const ListingOptions& how) {
    const Utf8Page* utf8 = how.utf8;
    const auto& header = table.header_image;
    std::fprintf(out,
                 "\nDatabase name\t\t:\t%s\nType\t\t\t:\t%s\nLast updated (m-d-y)\t:\t%02d-%02d-%04d\n"
                 "File size\t\t:\t%lld\nHeader size\t\t:\t%10d\nRecord count\t\t:\t%10u\n"
                 "Field count\t\t:\t%10d\nRecord length\t\t:\t%10u\n\nName        Type          Length\n",
                 table.table_file_name.c_str(), kind_name(table.table_kind), header[kDateOffset + 1],
                 header[kDateOffset + 2], header[kDateOffset] + 1900, table.table_handle.size(),
                 static_cast<int>(table.header_length()), table.record_count(), static_cast<int>(table.field_count()),
                 table.record_length());
    for (int i = 0; i < static_cast<int>(table.field_count()); ++i) {
        const FieldDescriptor& f = table.field(i);
        bool show_decimals = ((f.type == 'N' || f.type == 'F') && f.length != 0) || (f.type == 'D' && f.decimals == 8);
        if (show_decimals)
            std::fprintf(out, "%s %-11s %5d %2d\n", name_column(utf8, f, 11).c_str(), field_type_name(table, i),
                         f.length, f.decimals);
        else
            std::fprintf(out, "%s %-11s %5d\n", name_column(utf8, f, 11).c_str(), field_type_name(table, i), f.length);
    }
}

void write_sql_statement(std::FILE* out, DbfTable& table, bool sql2000, const Utf8Page* utf8) {
    std::fprintf(out, "CREATE TABLE \"%s\" (\n", table.table_file_name.c_str());
    int count = static_cast<int>(table.field_count());
    for (int i = 0; i < count; ++i) {
        const FieldDescriptor& f = table.field(i);
        std::string type = sql_type_name(table, i, sql2000);
        const std::string name = name_column(utf8, f, 11);
        bool numeric = f.type == 'N' || f.type == 'F';
        if (numeric && f.decimals != 0)
            std::fprintf(out, "\t%s %s(%d,%d)", name.c_str(), type.c_str(), f.length, f.decimals);
        else if (numeric || f.type == 'C')
            std::fprintf(out, "\t%s %s(%d)", name.c_str(), type.c_str(), f.length);
        else
            std::fprintf(out, "\t%s %s", name.c_str(), type.c_str());
        std::fputs(i + 1 < count ? ",\n" : "\n", out);
    }
    std::fputs("\t);\n\n", out);
}

// The CREATE TABLE of a database (/SQL:postgres, /SQL:sqlite); a new file gets the
// dialect's preamble first.
void write_dialect_statement(std::FILE* out, DbfTable& table, SqlDialect dialect) {
    std::string text;
    if (std::fseek(out, 0, SEEK_END) == 0 && std::ftell(out) == 0) text = sql_file_preamble(dialect);
    text += create_table_statement(dialect, table, data_table_name(table.table_file_name), all_data_columns(table));
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), out);
}

// The SQL listing: a database's CREATE TABLE under /SQL:, else the plain statement.
void write_sql_listing(std::FILE* out, DbfTable& table, const ListingOptions& how) {
    if (how.settings.sql_dialect != SqlDialect::none)
        write_dialect_statement(out, table, how.settings.sql_dialect);
    else
        write_sql_statement(out, table, how.settings.sql2000, how.utf8);
}

void write_dbase_program(std::FILE* out, DbfTable& table, const ListingOptions& how) {
    const Utf8Page* utf8 = how.utf8;
    std::fprintf(out, "DBCREATE(\"%s\", {;\n", table.table_file_name.c_str());
    for (int i = 0; i < static_cast<int>(table.field_count()); ++i) {
        const FieldDescriptor& f = table.field(i);
        std::string spaces(f.name.size() <= 9 ? 12 - f.name.size() : 2, ' ');
        std::fprintf(out, "\t{ \"%s\",%s\"%c\", %3d, %3d },;\n", name_column(utf8, f).c_str(), spaces.c_str(), f.type,
                     f.length, f.decimals);
    }
    std::fputs("\t})\n\n", out);
}

void write_foxpro_program(std::FILE* out, DbfTable& table, const ListingOptions& how) {
    const Utf8Page* utf8 = how.utf8;
    std::fprintf(out, "CREATE TABLE \"%s\" ( ;\n", table.table_file_name.c_str());
    int count = static_cast<int>(table.field_count());
    for (int i = 0; i < count; ++i) {
        const FieldDescriptor& f = table.field(i);
        const std::string name = name_column(utf8, f, 11);
        bool numeric = f.type == 'N' || f.type == 'F';
        if (numeric && f.decimals != 0)
            std::fprintf(out, "\t%s %c(%d,%d)", name.c_str(), f.type, f.length, f.decimals);
        else if (numeric || f.type == 'C')
            std::fprintf(out, "\t%s %c(%d)", name.c_str(), f.type, f.length);
        else
            std::fprintf(out, "\t%s %c", name.c_str(), f.type);
        std::fputs(i + 1 < count ? ", ;\n" : " ;\n", out);
    }
    std::fputs("\t)\n\n", out);
}

void write_xml_document(std::FILE* out, DbfTable& table, const ListingOptions& how) {
    std::fprintf(out, "<?xml version=\"1.0\"?>\n<!-- Location: %s -->\n", table.table_file_name.c_str());
    std::fputs("   <Structure>\n", out);
    std::string entries = xml_field_entries(table, how.utf8);
    std::fwrite(entries.data(), 1, entries.size(), out);
    std::fputs("   </Structure>\n", out);
    std::fputs("\n", out);
}

std::vector<uint8_t> structure_table_header(uint32_t record_count) {
    std::vector<uint8_t> header(kStructureHeaderLength, 0);
    header[kVersionOffset] = kVersionDbase3;
    // A fixed date of last update: 13 September 2000.
    header[kDateOffset] = 100;
    header[kDateOffset + 1] = 9;
    header[kDateOffset + 2] = 13;
    write_le32(&header[kRecordCountOffset], record_count);
    write_le16(&header[kHeaderLengthOffset], kStructureHeaderLength);
    write_le16(&header[kRecordLengthOffset], kStructureRecordLength);
    size_t at = kStandardHeaderSize;
    for (const StructureColumn& column : kStructureColumns) {
        for (size_t i = 0; column.name[i] != '\0'; ++i) header[at + i] = static_cast<uint8_t>(column.name[i]);
        header[at + kStandardDescriptor.type] = static_cast<uint8_t>(column.type);
        write_le32(&header[at + kStandardFieldOffset], column.offset);
        header[at + kStandardDescriptor.length] = column.length;
        at += kStandardDescriptorSize;
    }
    header[at] = kHeaderTerminator;
    return header;
}

// One 50-byte record: live mark, name (cut to 10 characters), type letter, length
// and decimal bytes, and the description left blank.
std::string structure_table_record(const FieldDescriptor& f) {
    std::string name = f.name.substr(0, kStructureNameWidth);
    std::string record(1, ' ');
    record += name;
    record.append(kStructureNameWidth - name.size(), ' ');
    record += f.type;
    char numbers[16];
    std::snprintf(numbers, sizeof numbers, "%3d%3d", f.length, f.decimals);
    record += numbers;
    record.resize(kStructureRecordLength, ' ');
    return record;
}

// The structure table keeps the name bytes as stored, under /UTF8 too. Stops at
// the first failed write, which leaves the stream's error flag set.
void write_structure_table(std::FILE* out, DbfTable& table, const ListingOptions&) {
    std::vector<uint8_t> header = structure_table_header(static_cast<uint32_t>(table.field_count()));
    if (std::fwrite(header.data(), 1, header.size(), out) != header.size()) return;
    for (const FieldDescriptor& f : table.field_table) {
        std::string record = structure_table_record(f);
        if (std::fwrite(record.data(), 1, record.size(), out) != record.size()) return;
    }
}

// One /STRUCT output format: the file name extension that picks it (none for the
// console listing), whether the file is replaced as a whole (written under a
// temporary name and renamed over it) rather than appended to, and its writer.
struct StructureFormat {
    const char* extension;
    bool replaces_file;
    void (*write)(std::FILE* out, DbfTable& table, const ListingOptions& how);
};

constexpr StructureFormat kConsoleListing = {.extension = nullptr, .replaces_file = false, .write = write_text_listing};

// The file formats, checked in this order against the end of the name, ignoring case.
constexpr StructureFormat kFileFormats[] = {
    {.extension = ".xml", .replaces_file = false, .write = write_xml_document},
    {.extension = ".fox", .replaces_file = false, .write = write_foxpro_program},
    {.extension = ".prg", .replaces_file = false, .write = write_dbase_program},
    {.extension = ".dbf", .replaces_file = true, .write = write_structure_table},
    {.extension = ".sql", .replaces_file = false, .write = write_sql_listing},
    {.extension = ".txt", .replaces_file = false, .write = write_text_listing},
};

const StructureFormat* format_for_file_name(const std::string& name) {
    for (const StructureFormat& format : kFileFormats)
        if (ends_with_ignoring_case(name, format.extension)) return &format;
    return nullptr;
}

} // namespace

std::string xml_field_entries(const DbfTable& table, const Utf8Page* utf8) {
    std::string out;
    for (int i = 0; i < static_cast<int>(table.field_count()); ++i) {
        const FieldDescriptor& f = table.field(i);
        out += "      <Field>\n         ";
        if (utf8)
            append_xml_element(out, "Field_Name", name_column(utf8, f), false, true);
        else
            append_xml_element(out, "Field_Name", up_to_first_nul(f.name), false);
        out += "\n         ";
        append_xml_element(out, "Field_Type", field_type_name(table, i), false);
        out += "\n         ";
        append_xml_number_element(out, "Field_Len", field_width(table, i));
        out += "\n         ";
        append_xml_number_element(out, "Field_Dec", f.decimals);
        out += "\n      </Field>\n";
    }
    return out;
}

std::string sql_type_name(const DbfTable& table, int field, bool sql2000) {
    const FieldDescriptor& f = table.field(field);
    switch (f.type) {
    case 'B':
        if (f.length == 8)
            return f.decimals > 0 ? "Numeric(20," + std::to_string(f.decimals) + ")" : std::string("Numeric(20)");
        return sql2000 ? "Text" : "Blob(0,2)";
    case 'D':
    case 'T': return "DateTime";
    case 'L': return sql2000 ? "Bit" : "Boolean";
    case 'M': return sql2000 ? "Text" : "Blob(0,1)";
    case 'Y': return "Money";
    default: return field_type_name(table, field);
    }
}

void list_structure(Session& session, const std::string& argument) {
    trace_enter(session, "Struct");
    DbfTable& table = session.table();
    const StructureFormat* format = &kConsoleListing;
    std::string file_name;
    if (!argument.empty() && argument[0] == ':') {
        file_name = argument.substr(1);
        format = format_for_file_name(file_name);
        if (!format) {
            report_failure(session, kInvalidOutputFormat);
            return;
        }
    }

    StdioFile file;
    std::string table_work_name;
    std::FILE* out = stdout;
    if (format != &kConsoleListing) {
        // Text formats collect the listings of several tables; the table format replaces the
        // file. The open table itself is never a listing's file: that would destroy it.
        if (names_open_file(file_name, table.table_handle)) fail_with_name(kFatalCantCreateFile, file_name);
        if (format->replaces_file) {
            // The table is written under a temporary name and renamed over the old
            // one when complete.
            table_work_name = temporary_name_for(file_name);
            FileHandle created = create_new_file(table_work_name);
            const int fd = created ? ::dup(created.fd()) : -1;
            if (fd >= 0) file.reset(::fdopen(fd, "wb"));
            if (fd >= 0 && !file) ::close(fd);
        } else {
            file.reset(std::fopen(file_name.c_str(), "a"));
        }
        if (!file) {
            if (!table_work_name.empty()) (void)remove_new_file(table_work_name);  // nothing written into it
            fail_with_name(kFatalCantCreateFile, file_name);
        }
        out = file.get();
    }

    // Listings show field names in UTF-8 under /UTF8; the structure table keeps the bytes.
    const ListingOptions how{.settings = session.settings,
                             .utf8 = session.settings.utf8 ? &text_utf8_page(table) : nullptr};
    format->write(out, table, how);
    if (format->replaces_file) {
        // A replacing file cut short is no file: it goes, as a file never created.
        const bool written = std::fflush(out) == 0 && !std::ferror(out);
        file.reset();
        if (!written || !replace_file(table_work_name, file_name)) {
            (void)remove_new_file(table_work_name);  // the failure is reported below
            fail_with_name(kFatalCantCreateFile, file_name);
        }
    }
    // A listing cut short by a full disk is reported as an export's would be.
    if (file && (std::fflush(out) != 0 || std::ferror(out))) {
        report_failure(session, kCantWriteOutput, file_name);
    }
    file.reset();
    trace_leave(session, "Struct");
}

} // namespace rorarodi
