// Another table: the records appended to an existing table, each selected field
// stored into the field of the same name, or to a new table made from the
// selected fields.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/change.h"
#include "platform/text.h"
#include "report/record_writer.h"
#include "report/writers.h"
#include "session/messages.h"
#include "table/create.h"
#include "table/dbf_format.h"
#include "table/field_copy.h"
#include "table/field_store.h"
#include "table/field_text.h"
#include "table/null_flags.h"
#include "table/record_appender.h"

namespace rorarodi {

namespace {

// Longest text a field of the output table takes from a memo (the widest field).
constexpr size_t kLongestFieldText = 65535;
// Room for "%f" of any double (DBL_MAX has 309 integer digits).
constexpr size_t kPrintedNumberRoom = 400;

// Widths a field converted to 'C' for an older table kind gets, so that its text
// fits whole: "%f" of any 32-bit integer, of any currency value, of doubles below
// 10^24.
constexpr unsigned kIntegerAsText = 18;
constexpr unsigned kCurrencyAsText = 24;
constexpr unsigned kDoubleAsText = 32;

// The type and length a selected field gets in a new output table of `kind`:
// older kinds take the types they lack as character fields wide enough for the
// field's whole text.
FieldDescriptor new_output_field(const DbfTable& table, int field, TableKind kind) {
    FieldDescriptor described = table.field(field);
    described.offset = 0;
    described.carried = 0;
    described.level7_tail = {};
    unsigned width = 0;
    const bool oldest = kind == TableKind::dbase3 || kind == TableKind::dbase4;
    if (oldest || kind == TableKind::foxpro) {
        if (described.type == 'I') width = kIntegerAsText;
        if (described.type == '0') width = field_width(table, field);
    }
    if (oldest && !field_is_memo(table, field)) {
        if (described.type == 'B') width = kDoubleAsText;
        if (described.type == 'Y') width = kCurrencyAsText;
        if (described.type == 'T') width = field_display_width(table, field);
    }
    if (kind == TableKind::visual_foxpro) {
        // Nullable and binary fields stay so (their values keep their null bits);
        // counters and other flags describe the source table.
        described.standard_tail = {};
        if (!(described.type == '0' && equals_ignoring_case(described.name, kNullFlagsFieldName)))
            described.flags = field_flags(table, field) & (kNullableFieldFlag | kBinaryFieldFlag);
    }
    if (width > 0) {
        width = std::max<unsigned>(width, described.length);
        described.type = 'C';
        described.length = static_cast<uint8_t>(width & 0xFF);
        described.decimals = static_cast<uint8_t>(width >> 8);
    }
    return described;
}

// The output field a selected field fills: the first of the same name, ignoring
// case; a long name also finds its first ten characters in a table whose names
// hold no more. -1 for none.
int output_field_for(const DbfTable& output, const std::string& name) {
    const int found = find_field(output, name.c_str());
    if (found >= 0 || output.level7 || name.size() <= kStandardNameLength) return found;
    return find_field(output, name.substr(0, kStandardNameLength).c_str());
}

// Opens the output table, creating it from the selected fields when the file does
// not exist. Nothing when it cannot be opened or created, or when it would be the
// current table or share its files.
std::unique_ptr<DbfTable> open_table_output(const RecordWriter& writer) {
    DbfTable& table = writer.table;
    const std::string& name = writer.output_name;
    if (is_table_own_file(name, table)) return nullptr;
    auto output = std::make_unique<DbfTable>();
    // The source's options, so that dates are read as the source writes them;
    // but not /BAK, which is for the tables the parameters change: the output
    // table gets no ".bak" copy.
    output->options = table.options;
    output->options.backup_option = false;
    share_run_settings(writer.session, *output);
    const bool existed = file_exists(name);
    if (!existed) {
        const TableKind kind = writer.settings.new_table_kind.value_or(table.table_kind);
        if (is_table_own_file(make_memo_file_name(name, kind), table)) return nullptr;
        std::vector<FieldDescriptor> described;
        for (int field : writer.fields) described.push_back(new_output_field(table, field, kind));
        // A Visual FoxPro output keeps the flags given above (and nothing else of
        // the source's header).
        const KeptHeader flags_only;
        if (!create_table_file(name, described, kind, memo_block_size(table), true, 0,
                               kind == TableKind::visual_foxpro ? &flags_only : nullptr))
            return nullptr;
    }
    if (open_table(*output, name, false) != OpenResult::opened || !output->table_handle.is_writable() ||
        is_table_own_file(memo_file_path(*output), table))
        return nullptr;
    if (!record_geometry_agrees(*output)) {
        refuse_record_writes(writer.session, *output);
        return nullptr;
    }
    // An existing output table changes all or nothing too (a new one is removed
    // whole when the parameter fails).
    if (existed) guard_table(name, memo_file_path(*output));
    return output;
}

// Memos always give their contents, and texts keep the source's bytes.
constexpr ValueRules kTableValues{.memo_contents = true, .stored_bytes = true};

class TableWriter : public RecordWriter {
public:
    TableWriter(Session& session, std::vector<int> fields) : RecordWriter(session, std::move(fields), kTableValues) {}

    bool open() override {
        output_ = open_table_output(*this);
        if (!output_) return false;
        for (int field : fields) target_.push_back(output_field_for(*output_, table.field_table[field].name));
        memos_ = std::make_unique<MemoWriter>(*output_);
        appender_ = std::make_unique<RecordAppender>(*output_);
        return true;
    }

    void begin_record(uint8_t flag, uint32_t) override {
        blank_record_buffer(*output_);
        output_->record_buffer[0] = flag;
    }

    void field(size_t index, int field, bool) override {
        const int target = target_[index];
        // The output's null flags are computed for each field copied, never copied.
        if (target < 0 || target == output_->null_flags_field) return;
        DbfTable& output = *output_;
        const bool null = field_is_null(table, field);
        const bool flagged = null || has_null_flag_bits(output, target);
        if (same_field_shape(table, field, output, target)) {
            // The same type and width: the value as stored, whatever its text form.
            (void)transfer_field_directly(FieldTransfer::bytes, table, field, output, target);
            if (flagged) flag_copied_value(output, target, null, field_value_bytes(table, field).size());
            return;
        }
        const char* text = value_text().data();
        double number = 0;
        char printed[kPrintedNumberRoom];
        if (field_is_numeric(table, field)) {
            number = field_number(table, field);
            if (!field_is_numeric(output, target)) {
                std::snprintf(printed, sizeof printed, "%f", number);
                text = printed;
            }
        } else if (!from_memo()) {
            number = std::atof(text);
        }
        if (field_is_memo(output, target)) {
            // A memo takes the whole memo, or a text up to its end; an empty one, or
            // one that cannot be written, leaves the field blank as set_field does.
            if (!memos_->start(target)) return;
            if (from_memo())
                each_piece([&](std::string_view piece) { (void)memos_->add(piece); });
            else
                (void)memos_->add(text);
            (void)memos_->finish();
            if (null) flag_copied_value(output, target, null, 0);
            return;
        }
        if (from_memo()) {
            // The memo's length is the number; its first bytes are all a field can hold.
            scratch_.clear();
            uint64_t length = 0;
            each_piece([&](std::string_view piece) {
                length += piece.size();
                if (scratch_.size() < kLongestFieldText)
                    scratch_.append(piece.substr(0, std::min(piece.size(), kLongestFieldText - scratch_.size())));
            });
            set_field(output, target, scratch_.c_str(), static_cast<double>(length));
            if (flagged) flag_copied_value(output, target, null, stored_text_length(output, target, scratch_));
        } else {
            store_copied_value(output, target, text, number, field_is_numeric(table, field));
            if (flagged) flag_copied_value(output, target, null, stored_text_length(output, target, text));
        }
    }

    void end_record() override { (void)appender_->append(); }  // close() tells a failure
    bool close() override { return appender_->finish(); }

private:
    // Declared first, destroyed last: the memo writer and the appender work on it.
    std::unique_ptr<DbfTable> output_;
    std::vector<int> target_;  // output field of each selected field, -1 for none
    std::unique_ptr<MemoWriter> memos_;
    std::unique_ptr<RecordAppender> appender_;
    std::string scratch_;
};

} // namespace

std::unique_ptr<RecordWriter> make_table_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<TableWriter>(session, std::move(fields));
}

} // namespace rorarodi
