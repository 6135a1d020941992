#include "table/dbf_format.h"

#include <cstring>

#include "platform/paths.h"
#include "platform/text.h"

namespace rorarodi {

bool is_accepted_version(uint8_t version) {
    static constexpr uint8_t kAccepted[] = {0x02, 0x03, 0x04, 0x30, 0x31, 0x43, 0x63, 0x83, 0x8B, 0x8C, 0xCB,
                                            0xF5, 0xFB, 0xE5, 0x32, 0x42, 0x62, 0x82, 0x8A, 0xCA, 0xF4, 0xFA};
    for (uint8_t accepted : kAccepted)
        if (accepted == version) return true;
    return false;
}

TableKind kind_for_version(uint8_t version) {
    switch (version) {
    case kVersionFoxProMemo: return TableKind::foxpro;
    case kVersionDbase4:
    case kVersionDbase4Memo: return TableKind::dbase4;
    case kVersionVisualFoxPro:
    case kVersionVisualFoxProAutoincrement:
    case kVersionVisualFoxProVarchar: return TableKind::visual_foxpro;
    case kVersionSmt: return TableKind::smt;
    case kVersionLevel7Memo: return TableKind::level7;
    default: return TableKind::dbase3;
    }
}

const char* kind_name(TableKind kind) {
    static const char* const kNames[] = {"dBase III", "FoxPro", "dBase IV", "Visual FoxPro", "Unknown"};
    const int number = static_cast<int>(kind);
    if (number >= 0 && number <= 4) return kNames[number];
    return "Unknown";
}

bool is_known_field_type(char type) {
    return type == 0 || std::strchr("CNFDLMTGYBI0@+OVQW", type) != nullptr;
}

const char* type_name_for(char type, unsigned length_byte) {
    switch (type) {
    case 'C': return "Character";
    case 'N': return "Numeric";
    case 'F': return "Float";
    case 'D': return "Date";
    case 'L': return "Logical";
    case 'M': return "Memo";
    case 'T': return "DateTime";
    case 'G': return "General";
    case 'Y': return "Currency";
    case 'B':
    case 'O': return length_byte == 8 ? "Double" : "Binary";
    case 'I': return "Integer";
    case '0': return "System";
    case '@': return "DateTime";
    case '+': return "Integer";
    case 'V': return "Variant";
    case 'Q': return "Varbinary";
    case 'W': return "Blob";
    case 'P': return "Picture";
    default: return "Unknown";
    }
}

bool is_memo_type(char type, unsigned width) {
    return type == 'M' || type == 'G' || type == 'W' || (type == 'B' && width == 10);
}

std::string make_memo_file_name(const std::string& table_file_name, TableKind kind) {
    const char* extension = ".dbv";  // a number that names no kind
    switch (kind) {
    case TableKind::dbase3:
    case TableKind::dbase4:
    case TableKind::level7: extension = ".dbt"; break;
    case TableKind::foxpro:
    case TableKind::visual_foxpro:
        extension = equals_ignoring_case(split_path(table_file_name).extension.c_str(), ".dbc") ? ".dct" : ".fpt";
        break;
    case TableKind::smt: extension = ".smt"; break;
    }
    return with_extension(table_file_name, extension);
}

} // namespace rorarodi
