#include "platform/code_pages.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <iconv.h>
#include <locale.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/byte_words.h"

namespace rorarodi {

namespace {

constexpr int kOemPages[] = {437, 850, 852, 866};
constexpr int kAnsiPages[] = {1250, 1251, 1252};
// Double-byte pages: Japanese (Shift-JIS), Simplified Chinese (GBK), Korean, and
// Traditional Chinese (Big5).
constexpr int kDoubleBytePages[] = {932, 936, 949, 950};

// Code-page marks (header byte 29) of the known text pages, as the DOS and Windows
// database programs write them.
struct MarkPage {
    uint8_t mark;
    int page;
};
constexpr MarkPage kMarkPages[] = {
    {0x01, 437},  {0x02, 850},  {0x03, 1252}, {0x08, 865},  {0x09, 437},  {0x0A, 850},  {0x0B, 437},
    {0x0D, 437},  {0x0E, 850},  {0x0F, 437},  {0x10, 850},  {0x11, 437},  {0x12, 850},  {0x14, 850},
    {0x15, 437},  {0x16, 850},  {0x17, 865},  {0x18, 437},  {0x19, 437},  {0x1A, 850},  {0x1B, 437},
    {0x1C, 863},  {0x1D, 850},  {0x1F, 852},  {0x22, 852},  {0x23, 852},  {0x24, 860},  {0x25, 850},
    {0x26, 866},  {0x37, 850},  {0x40, 852},  {0x57, 1252}, {0x58, 1252}, {0x59, 1252}, {0x64, 852},
    {0x65, 866},  {0x66, 865},  {0x67, 861},  {0x6A, 737},  {0x6B, 857},  {0x6C, 863},  {0x7C, 874},
    {0x7D, 1255}, {0x7E, 1256}, {0x86, 737},  {0x87, 852},  {0x88, 857},  {0xC8, 1250}, {0xC9, 1251},
    {0xCA, 1254}, {0xCB, 1253}, {0xCC, 1257}, {0x13, 932},  {0x7B, 932},  {0x4D, 936},  {0x7A, 936},
    {0x4E, 949},  {0x79, 949},  {0x4F, 950},  {0x78, 950},
};

// The page of every mark, 0 for none: looked up on every conversion of a field.
constexpr std::array<int, 256> kPageOfMark = [] {
    std::array<int, 256> pages{};
    for (const MarkPage& entry : kMarkPages) pages[entry.mark] = entry.page;
    return pages;
}();

constexpr uint32_t kReplacementCharacter = 0xFFFD;

using ByteTable = std::array<uint8_t, 256>;
// Unicode character of every byte of a page; kNoCharacter where the page has none.
using CharacterTable = std::array<uint32_t, 256>;
constexpr uint32_t kNoCharacter = 0xFFFFFFFF;

// A locale with Unicode case mappings and transliterations that does not depend
// on the user's environment; absent when the system has none of these.
class NeutralLocale {
public:
    NeutralLocale() {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            locale_ = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
            if (locale_ != static_cast<locale_t>(nullptr)) break;
        }
    }
    ~NeutralLocale() {
        if (locale_ != static_cast<locale_t>(nullptr)) freelocale(locale_);
    }
    NeutralLocale(const NeutralLocale&) = delete;
    NeutralLocale& operator=(const NeutralLocale&) = delete;
    locale_t get() const { return locale_; }

private:
    locale_t locale_ = static_cast<locale_t>(nullptr);
};

const NeutralLocale& neutral_locale() {
    static NeutralLocale locale;
    return locale;
}

// Makes the neutral locale the thread's locale while it lives, so that iconv's
// transliteration uses its tables.
class NeutralLocaleScope {
public:
    NeutralLocaleScope() {
        locale_t neutral = neutral_locale().get();
        if (neutral != static_cast<locale_t>(nullptr)) previous_ = uselocale(neutral);
    }
    ~NeutralLocaleScope() {
        if (previous_ != static_cast<locale_t>(nullptr)) uselocale(previous_);
    }
    NeutralLocaleScope(const NeutralLocaleScope&) = delete;
    NeutralLocaleScope& operator=(const NeutralLocaleScope&) = delete;

private:
    locale_t previous_ = static_cast<locale_t>(nullptr);
};

class Converter {
public:
    Converter(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (valid()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

    // Converts the whole input; nothing when iconv reports an error.
    std::optional<std::string> convert(const std::string& input) {
        if (!valid()) return std::nullopt;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string in = input;
        std::string out(64, '\0');
        char* in_ptr = in.data();
        size_t in_left = in.size();
        char* out_ptr = out.data();
        size_t out_left = out.size();
        if (iconv(cd_, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1)) return std::nullopt;
        if (iconv(cd_, nullptr, nullptr, &out_ptr, &out_left) == static_cast<size_t>(-1)) return std::nullopt;
        if (in_left != 0) return std::nullopt;
        out.resize(out.size() - out_left);
        return out;
    }

private:
    iconv_t cd_;
};

std::string iconv_name(int page) { return "CP" + std::to_string(page); }

std::string ucs4_bytes(uint32_t character) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>((character >> (8 * i)) & 0xFF);
    return bytes;
}

CharacterTable decode_page(int page) {
    CharacterTable characters;
    characters.fill(kNoCharacter);
    for (uint32_t b = 0; b < 128; ++b) characters[b] = b;
    Converter decoder("UCS-4LE", iconv_name(page));
    for (uint32_t b = 128; b < 256; ++b) {
        std::optional<std::string> out = decoder.convert(std::string(1, static_cast<char>(b)));
        if (!out || out->size() != 4) continue;
        const auto* p = reinterpret_cast<const unsigned char*>(out->data());
        characters[b] = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                        static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
    return characters;
}

std::optional<uint8_t> find_character(const CharacterTable& page, uint32_t character) {
    for (size_t b = 0; b < page.size(); ++b)
        if (page[b] == character) return static_cast<uint8_t>(b);
    return std::nullopt;
}

bool is_ascii_letter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Latin letters beyond ASCII (with accents, hooks or strokes); signs such as the
// bullet or the multiplication sign are not among them.
bool is_latin_letter(uint32_t character) {
    if (character < 0xC0 || character > 0x24F) return false;
    locale_t neutral = neutral_locale().get();
    if (neutral == static_cast<locale_t>(nullptr)) return character != 0xD7 && character != 0xF7;
    return iswalpha_l(static_cast<wint_t>(character), neutral) != 0;
}

// Byte table from one page to another. A character missing from the target takes
// iconv's transliteration when it is a Latin letter whose transliteration is one
// ASCII letter (its unaccented form), else '?'.
ByteTable build_conversion(const CharacterTable& source, const CharacterTable& target, int target_page) {
    ByteTable table{};
    NeutralLocaleScope scope;
    Converter transliterate(iconv_name(target_page) + "//TRANSLIT", "UCS-4LE");
    for (size_t b = 0; b < 256; ++b) {
        if (b < 128) {
            table[b] = static_cast<uint8_t>(b);
            continue;
        }
        uint32_t character = source[b];
        table[b] = '?';
        if (character == kNoCharacter) continue;
        if (std::optional<uint8_t> found = find_character(target, character)) {
            table[b] = *found;
            continue;
        }
        if (!is_latin_letter(character)) continue;
        std::optional<std::string> close = transliterate.convert(ucs4_bytes(character));
        if (close && close->size() == 1 && is_ascii_letter(static_cast<unsigned char>((*close)[0])))
            table[b] = static_cast<uint8_t>((*close)[0]);
    }
    return table;
}

uint32_t upper_case_character(uint32_t character) {
    if (character >= 'a' && character <= 'z') return character - 32;
    locale_t neutral = neutral_locale().get();
    if (neutral == static_cast<locale_t>(nullptr) || character > 0x10FFFF) return character;
    return static_cast<uint32_t>(towupper_l(static_cast<wint_t>(character), neutral));
}

// Upper-case byte of every byte of a page, where the upper-case form is in the page.
ByteTable build_upper_case(const CharacterTable& page) {
    ByteTable table{};
    for (size_t b = 0; b < 256; ++b) {
        table[b] = static_cast<uint8_t>(b);
        if (page[b] == kNoCharacter) continue;
        uint32_t upper = upper_case_character(page[b]);
        if (upper == page[b]) continue;
        if (std::optional<uint8_t> found = find_character(page, upper)) table[b] = *found;
    }
    return table;
}

struct PairTables {
    int oem_page = 0;
    int ansi_page = 0;
    ByteTable ansi_to_oem{};
    ByteTable oem_to_ansi{};
    ByteTable ansi_upper{};
    ByteTable oem_upper{};
};

// Tables of every pair used so far; a handful of pairs exist, so a list will do.
// The tables depend on the pair alone, so keeping them changes nothing visible.
const PairTables& tables_of(const CodePagePair& requested) {
    static std::vector<std::unique_ptr<PairTables>> built;
    CodePagePair pages = is_supported_pair(requested) ? requested : CodePagePair{};
    for (const auto& tables : built)
        if (tables->oem_page == pages.oem && tables->ansi_page == pages.ansi) return *tables;
    auto tables = std::make_unique<PairTables>();
    tables->oem_page = pages.oem;
    tables->ansi_page = pages.ansi;
    if (is_double_byte_page(pages.oem)) {
        // One double-byte page serves as both: nothing to convert, and only ASCII
        // letters have a case that a byte table may change.
        for (size_t b = 0; b < 256; ++b) {
            const auto byte = static_cast<uint8_t>(b);
            tables->ansi_to_oem[b] = tables->oem_to_ansi[b] = byte;
            tables->ansi_upper[b] = tables->oem_upper[b] = byte >= 'a' && byte <= 'z' ? byte - 32 : byte;
        }
        built.push_back(std::move(tables));
        return *built.back();
    }
    CharacterTable oem = decode_page(pages.oem);
    CharacterTable ansi = decode_page(pages.ansi);
    tables->ansi_to_oem = build_conversion(ansi, oem, pages.oem);
    tables->oem_to_ansi = build_conversion(oem, ansi, pages.ansi);
    tables->ansi_upper = build_upper_case(ansi);
    tables->oem_upper = build_upper_case(oem);
    built.push_back(std::move(tables));
    return *built.back();
}

void apply(const ByteTable& table, unsigned char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) text[i] = table[text[i]];
}

void apply_up_to_nul(const ByteTable& table, unsigned char* text) {
    for (; *text != 0; ++text) *text = table[*text];
}

} // namespace

bool is_supported_oem_page(int page) { return std::find(std::begin(kOemPages), std::end(kOemPages), page) != std::end(kOemPages); }

bool is_supported_ansi_page(int page) {
    return std::find(std::begin(kAnsiPages), std::end(kAnsiPages), page) != std::end(kAnsiPages);
}

bool is_double_byte_page(int page) {
    return std::find(std::begin(kDoubleBytePages), std::end(kDoubleBytePages), page) != std::end(kDoubleBytePages);
}

int page_of_code_page_mark(uint8_t mark) { return kPageOfMark[mark]; }

bool is_supported_pair(const CodePagePair& pages) {
    if (is_double_byte_page(pages.oem) || is_double_byte_page(pages.ansi)) return pages.oem == pages.ansi;
    return is_supported_oem_page(pages.oem) && is_supported_ansi_page(pages.ansi);
}

void ansi_to_oem_buffer(const CodePagePair& pages, unsigned char* text, size_t length) {
    apply(tables_of(pages).ansi_to_oem, text, length);
}
void oem_to_ansi_buffer(const CodePagePair& pages, unsigned char* text, size_t length) {
    apply(tables_of(pages).oem_to_ansi, text, length);
}
void upper_case_ansi_page(const CodePagePair& pages, unsigned char* text) {
    apply_up_to_nul(tables_of(pages).ansi_upper, text);
}
void upper_case_oem_page(const CodePagePair& pages, unsigned char* text) {
    apply_up_to_nul(tables_of(pages).oem_upper, text);
}

namespace {

Utf8Page::Encoded encode_utf8(uint32_t c) {
    Utf8Page::Encoded encoded;
    auto put = [&](uint32_t byte) { encoded.bytes[encoded.length++] = static_cast<char>(byte); };
    if (c < 0x80) {
        put(c);
    } else if (c < 0x800) {
        put(0xC0 | c >> 6);
        put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        put(0xE0 | c >> 12);
        put(0x80 | (c >> 6 & 0x3F));
        put(0x80 | (c & 0x3F));
    } else {
        put(0xF0 | c >> 18);
        put(0x80 | (c >> 12 & 0x3F));
        put(0x80 | (c >> 6 & 0x3F));
        put(0x80 | (c & 0x3F));
    }
    return encoded;
}

// The one character that the whole of `bytes` forms in the page of `decoder`
// (to UCS-4LE); nothing when they form none, or more than one.
std::optional<uint32_t> decode_character(iconv_t decoder, const char* bytes, size_t length) {
    char in[2];
    std::memcpy(in, bytes, length);
    unsigned char out[8];
    char* in_ptr = in;
    char* out_ptr = reinterpret_cast<char*>(out);
    size_t in_left = length, out_left = sizeof out;
    iconv(decoder, nullptr, nullptr, nullptr, nullptr);
    if (iconv(decoder, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1) || in_left != 0 ||
        sizeof out - out_left != 4)
        return std::nullopt;
    const uint32_t character = static_cast<uint32_t>(out[0]) | static_cast<uint32_t>(out[1]) << 8 |
                               static_cast<uint32_t>(out[2]) << 16 | static_cast<uint32_t>(out[3]) << 24;
    if (character > 0x10FFFF || (character >= 0xD800 && character <= 0xDFFF)) return std::nullopt;
    return character;
}

} // namespace

Utf8Page::Utf8Page(int page) : page_(page) {
    const CharacterTable characters = decode_page(page);
    for (size_t b = 0; b < 256; ++b) {
        const bool defined = characters[b] != kNoCharacter && characters[b] <= 0x10FFFF;
        utf8_[b] = encode_utf8(defined ? characters[b] : kReplacementCharacter);
        if (b >= 128 && defined) bytes_.emplace_back(characters[b], static_cast<uint16_t>(b));
    }
    if (is_double_byte_page(page)) {
        // Every byte that is no character of its own is tried as the lead byte of
        // a pair with every second byte.
        pairs_.resize(128 * 256);
        Converter decoder("UCS-4LE", iconv_name(page));
        for (size_t lead = 128; lead < 256 && decoder.valid(); ++lead) {
            if (characters[lead] != kNoCharacter) continue;
            for (size_t trail = 1; trail < 256; ++trail) {
                const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                const std::optional<uint32_t> character = decode_character(decoder.get(), pair, 2);
                if (!character) continue;
                lead_[lead] = true;
                pairs_[(lead - 128) << 8 | trail] = encode_utf8(*character);
                bytes_.emplace_back(*character, static_cast<uint16_t>(lead << 8 | trail));
            }
        }
    }
    // Sorted by character and then bytes, so that a character two byte forms share
    // finds the lower one (a single byte before any pair).
    std::sort(bytes_.begin(), bytes_.end());
}

void Utf8Page::append_utf8(std::string& out, std::string_view text) const {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    // A character takes at most four bytes: the room is made once and cut back after,
    // and every character is copied as its four-byte slot, the end moved by its length.
    const size_t start = out.size();
    out.resize(start + size * 4 + 4);
    char* to = out.data() + start;
    const bool pairs = !pairs_.empty();
    size_t i = 0;
    while (i < size) {
        // ASCII runs are copied whole, found eight bytes at a time.
        size_t run = i;
        for (; run + 8 <= size; run += 8)
            if (high_bytes(load_word(bytes + run))) break;
        while (run < size && bytes[run] < 0x80) ++run;
        std::memcpy(to, text.data() + i, run - i);
        to += run - i;
        for (i = run; i < size && bytes[i] >= 0x80;) {
            const Encoded* encoded = &utf8_[bytes[i]];
            if (pairs && lead_[bytes[i]] && i + 1 < size && pairs_[(bytes[i] - 128u) << 8 | bytes[i + 1]].length != 0) {
                encoded = &pairs_[(bytes[i] - 128u) << 8 | bytes[i + 1]];
                ++i;
            }
            std::memcpy(to, encoded->bytes.data(), 4);
            to += encoded->length;
            ++i;
        }
    }
    out.resize(static_cast<size_t>(to - out.data()));
}

size_t Utf8Page::character_length(std::string_view text, size_t i) const {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (!lead_[lead] || i + 1 >= text.size()) return 1;
    return pairs_[(lead - 128u) << 8 | static_cast<unsigned char>(text[i + 1])].length != 0 ? 2 : 1;
}

std::string Utf8Page::to_utf8(std::string_view text) const {
    std::string out;
    out.reserve(text.size());
    append_utf8(out, text);
    return out;
}

std::string Utf8Page::from_utf8(std::string_view text) const {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++i;
            continue;
        }
        // The length of the sequence and the smallest character it may carry.
        size_t length = 0;
        uint32_t character = 0, smallest = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            character = lead & 0x1F;
            smallest = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            character = lead & 0x0F;
            smallest = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            character = lead & 0x07;
            smallest = 0x10000;
        }
        size_t taken = 1;
        while (length != 0 && taken < length && i + taken < text.size() &&
               (static_cast<unsigned char>(text[i + taken]) & 0xC0) == 0x80) {
            character = character << 6 | (static_cast<unsigned char>(text[i + taken]) & 0x3F);
            ++taken;
        }
        const bool whole = length != 0 && taken == length && character >= smallest && character <= 0x10FFFF &&
                           !(character >= 0xD800 && character <= 0xDFFF);
        uint16_t form = '?';
        if (whole) {
            auto found = std::lower_bound(bytes_.begin(), bytes_.end(), std::make_pair(character, uint16_t{0}));
            if (found != bytes_.end() && found->first == character) form = found->second;
        }
        if (form > 0xFF) out += static_cast<char>(form >> 8);
        out += static_cast<char>(form & 0xFF);
        // A broken sequence gives one '?' for its lead byte; what follows is read anew.
        i += whole ? length : 1;
    }
    return out;
}

const Utf8Page& utf8_page(int page) {
    static std::vector<std::unique_ptr<Utf8Page>> built;
    for (const auto& tables : built)
        if (tables->page() == page) return *tables;
    built.push_back(std::make_unique<Utf8Page>(page));
    return *built.back();
}

} // namespace rorarodi
