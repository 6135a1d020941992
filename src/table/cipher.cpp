#include "table/cipher.h"

#include <algorithm>
#include <utility>

namespace rorarodi {

namespace {

constexpr size_t kStateSize = std::tuple_size_v<CipherState>;
constexpr size_t kIndexI = 256;
constexpr size_t kIndexJ = 257;

// The table keeps the initial state in `password_key`, followed by the keystream
// of one record, which is made once for the table's record length: every record
// starts from the same state, so every record gets the same keystream.
std::span<const uint8_t> keystream_of(DbfTable& table) {
    std::vector<uint8_t>& kept = table.password_key;
    if (kept.size() < kStateSize) return {};
    const size_t length = table.record_length();
    if (kept.size() != kStateSize + length) {
        CipherState state;
        std::copy_n(kept.begin(), kStateSize, state.begin());
        kept.assign(kStateSize + length, 0);
        std::copy(state.begin(), state.end(), kept.begin());
        rc4_apply(kept.data() + kStateSize, length, state);
    }
    return {kept.data() + kStateSize, length};
}

// The same hook serves both directions.
void transform_record(DbfTable& table) {
    std::span<const uint8_t> keystream = keystream_of(table);
    if (keystream.empty() || table.record_buffer.size() < keystream.size()) return;
    apply_keystream(table.record_buffer.data(), keystream);
}

// The deletion mark is never enciphered; the mark hooks are there so that every
// byte passing through the table meets the password, and leave it as it is.
void leave_mark(DbfTable&, uint8_t&) {}

void attach_hooks(DbfTable& table) {
    table.after_record_read = transform_record;
    table.before_record_write = transform_record;
    table.after_mark_read = leave_mark;
    table.before_mark_write = leave_mark;
}

} // namespace

std::vector<uint8_t> key_from_password(const std::string& password) {
    const size_t length = std::min(password.size(), kMaxPasswordLength);
    std::vector<uint8_t> key(password.begin(), password.begin() + static_cast<std::ptrdiff_t>(length));
    if (key.size() % 2 != 0) key.push_back(static_cast<uint8_t>(kPasswordPad));
    return key;
}

CipherState rc4_key_schedule(const std::vector<uint8_t>& key) {
    CipherState state{};
    for (size_t k = 0; k < 256; ++k) state[k] = static_cast<uint8_t>(k);
    if (key.empty()) return state;
    uint8_t j = 0;
    for (size_t k = 0; k < 256; ++k) {
        j = static_cast<uint8_t>(j + state[k] + key[k % key.size()]);
        std::swap(state[k], state[j]);
    }
    state[kIndexI] = 0;
    state[kIndexJ] = 0;
    return state;
}

void rc4_apply(uint8_t* buffer, size_t length, CipherState state) {
    uint8_t i = state[kIndexI], j = state[kIndexJ];
    for (size_t t = 0; t < length; ++t) {
        i = static_cast<uint8_t>(i + 1);
        j = static_cast<uint8_t>(j + state[i]);
        std::swap(state[i], state[j]);
        const uint8_t k = state[static_cast<uint8_t>(state[i] + state[j])];
        if (t > 0) buffer[t] ^= k;
    }
}

void set_password(DbfTable& table, const std::string& password) {
    clear_password(table);
    if (password.empty()) return;
    const CipherState state = rc4_key_schedule(key_from_password(password));
    table.password_key.assign(state.begin(), state.end());
    attach_hooks(table);
}

void clear_password(DbfTable& table) {
    table.password_key.clear();
    table.after_record_read = nullptr;
    table.before_record_write = nullptr;
    table.after_mark_read = nullptr;
    table.before_mark_write = nullptr;
}

void copy_password(const DbfTable& from, DbfTable& to) {
    clear_password(to);
    if (!has_password(from)) return;
    to.password_key.assign(from.password_key.begin(), from.password_key.begin() + kStateSize);
    attach_hooks(to);
}

bool has_password(const DbfTable& table) { return table.password_key.size() >= kStateSize; }

std::span<const uint8_t> record_keystream(DbfTable& table) { return keystream_of(table); }

void apply_keystream(uint8_t* data, std::span<const uint8_t> keystream) {
    for (size_t t = 0; t < keystream.size(); ++t) data[t] ^= keystream[t];
}

} // namespace rorarodi
