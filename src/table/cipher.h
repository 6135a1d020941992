// The table password: an RC4 keystream laid over the record bytes after the
// deletion mark. The header, the descriptors, the marks and the memo file stay
// plain, and nothing in the file tells that a table is enciphered.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "table/table.h"

namespace rorarodi {

// The RC4 permutation S (256 bytes) followed by the indexes i and j.
using CipherState = std::array<uint8_t, 258>;

// Longest password used; longer ones are cut, so that every command derives the
// same key from the same text.
constexpr size_t kMaxPasswordLength = 255;
// Appended to a password of odd length, so that the key length is always even.
constexpr char kPasswordPad = '*';

// Key bytes of a password: at most 255 characters of it, and the pad character
// when that leaves an odd count (at most 256 bytes).
std::vector<uint8_t> key_from_password(const std::string& password);

// The RC4 key schedule; i and j are 0 afterwards. The key must not be empty.
CipherState rc4_key_schedule(const std::vector<uint8_t>& key);

// Enciphers (or deciphers: the operation is its own inverse) a buffer in place
// with a fresh copy of `state`. The keystream byte of position 0 is produced but
// not used, so byte 0 never changes.
void rc4_apply(uint8_t* buffer, size_t length, CipherState state);

// Attaches a password to the table: the four record and mark hooks, and the key
// state. An empty password removes it instead.
void set_password(DbfTable& table, const std::string& password);
// Removes the password and detaches the hooks.
void clear_password(DbfTable& table);
// Gives `to` the password of `from` (or none), as a table written from another
// one keeps its protection.
void copy_password(const DbfTable& from, DbfTable& to);
// True when a password is attached.
bool has_password(const DbfTable& table);

// The bytes every record of the table is XORed with: record-length bytes, byte 0
// zero, the same for every record. Empty when no password is attached.
std::span<const uint8_t> record_keystream(DbfTable& table);

// XORs `length` bytes of `data` with the keystream (which must be as long).
void apply_keystream(uint8_t* data, std::span<const uint8_t> keystream);

} // namespace rorarodi
