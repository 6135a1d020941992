// On-disk layout of table files: byte decoding, version bytes, kinds and field types.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace rorarodi {

constexpr uint8_t kHeaderTerminator = 0x0D;
constexpr uint8_t kEndOfFile = 0x1A;
constexpr uint8_t kDeletedMark = '*';
constexpr uint8_t kLiveMark = ' ';

constexpr size_t kStandardHeaderSize = 32;
constexpr size_t kLevel7HeaderSize = 68;
constexpr size_t kMaxFieldsRead = 2047;
constexpr size_t kMaxRecordLength = 65535;

// Header offsets shared by both layouts.
constexpr size_t kVersionOffset = 0;
constexpr size_t kDateOffset = 1;
constexpr size_t kRecordCountOffset = 4;
constexpr size_t kHeaderLengthOffset = 8;
constexpr size_t kRecordLengthOffset = 10;
constexpr size_t kTableFlagsOffset = 28;
constexpr size_t kCodePageMarkOffset = 29;

// Version bytes the engine writes or tells apart. A table without memo fields is
// 0x03 (0x04 in level 7); tables with memo fields carry their kind's memo version.
constexpr uint8_t kVersionDbase3 = 0x03;
constexpr uint8_t kVersionDbase4 = 0x04;
constexpr uint8_t kVersionVisualFoxPro = 0x30;
constexpr uint8_t kVersionVisualFoxProAutoincrement = 0x31;
constexpr uint8_t kVersionVisualFoxProVarchar = 0x32;
constexpr uint8_t kVersionDbase3Memo = 0x83;
constexpr uint8_t kVersionDbase4Memo = 0x8B;
constexpr uint8_t kVersionLevel7Memo = 0x8C;
constexpr uint8_t kVersionSmt = 0xE5;
constexpr uint8_t kVersionFoxProMemo = 0xF5;

// A field descriptor: its size, the longest name it holds (zero-padded after it)
// and where it keeps type letter, length and decimal count.
struct DescriptorLayout {
    size_t size;
    size_t name_length;
    size_t type;
    size_t length;
    size_t decimals;
};
// Standard descriptor; besides, bytes 12-13 hold the field's offset within the
// record (written on creation, ignored on reading), byte 18 the Visual FoxPro field
// flags and byte 20 a byte carried through unread.
constexpr DescriptorLayout kStandardDescriptor{32, 10, 11, 16, 17};
constexpr size_t kStandardFieldOffset = 12;
constexpr size_t kStandardFlagsOffset = 18;
constexpr size_t kStandardCarriedOffset = 20;
// Level 7 descriptor; bytes 35-36 are reserved (zero on creation) and bytes 37-47
// are kept as read.
constexpr DescriptorLayout kLevel7Descriptor{48, 31, 32, 33, 34};
constexpr size_t kLevel7TailOffset = 37;

constexpr size_t kStandardDescriptorSize = kStandardDescriptor.size;
constexpr size_t kLevel7DescriptorSize = kLevel7Descriptor.size;
constexpr size_t kStandardNameLength = kStandardDescriptor.name_length;
constexpr size_t kLevel7NameLength = kLevel7Descriptor.name_length;

// Table kinds, as derived from the version byte and as chosen for new tables, with
// the numbers the kinds have always had.
enum class TableKind : int { dbase3 = 0, foxpro = 1, dbase4 = 2, visual_foxpro = 3, smt = 4, level7 = 7 };

inline uint16_t read_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t read_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t read_be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint16_t read_be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline void write_le16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void write_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void write_be32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
inline void write_be16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

// Visual FoxPro field flag (descriptor byte 18): the field's bytes are not text and
// take no code-page conversion.
constexpr uint8_t kBinaryFieldFlag = 0x04;

// True for the 22 version bytes a table may carry.
bool is_accepted_version(uint8_t version);

// Table kind for a version byte (every unlisted byte is dBase III).
TableKind kind_for_version(uint8_t version);

// Display name of a table kind: "dBase III", "FoxPro", "dBase IV", "Visual FoxPro",
// and "Unknown" for every other kind.
const char* kind_name(TableKind kind);

// True for the eighteen known type letters and for a type byte of 0.
bool is_known_field_type(char type);

// Type name for a letter; `length_byte` picks "Double" or "Binary" for B and O.
const char* type_name_for(char type, unsigned length_byte);

// True for M, G, W, and B of width 10: fields whose value lives in a memo file.
bool is_memo_type(char type, unsigned width);

// Memo file name for a table file name and kind (".dbt", ".fpt"/".dct", ".smt", ".dbv").
std::string make_memo_file_name(const std::string& table_file_name, TableKind kind);

} // namespace rorarodi
