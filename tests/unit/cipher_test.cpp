#include <gtest/gtest.h>

#include <string>

#include "table/cipher.h"

using namespace rorarodi;

namespace {

std::string applied(const std::string& password, std::string text) {
    rc4_apply(reinterpret_cast<uint8_t*>(text.data()), text.size(), rc4_key_schedule(key_from_password(password)));
    return text;
}

TEST(Cipher, Rc4KeystreamFromItsSecondByte) {
    // The published RC4 vector for the key "Secret": the first byte keeps its value,
    // every later byte is enciphered with the keystream byte of its position.
    const std::string published = "\x45\xA0\x1F\x64\x5F\xC3\x5B\x38\x35\x52\x54\x4B\x9B\xF5";
    EXPECT_EQ(applied("Secret", "Attack at dawn"), "A" + published.substr(1));
    EXPECT_EQ(applied("Secret", applied("Secret", "Attack at dawn")), "Attack at dawn");
    EXPECT_EQ(applied("Secret", ""), "");

    // Odd lengths take the pad character; longer passwords are cut to 255 characters.
    EXPECT_EQ(key_from_password("abc"), key_from_password("abc*"));
    EXPECT_EQ(key_from_password("abc").size(), 4u);
    const std::string long_password(300, 'x');
    EXPECT_EQ(key_from_password(long_password).size(), 256u);
    EXPECT_EQ(key_from_password(long_password), key_from_password(std::string(255, 'x') + "yz"));
    EXPECT_NE(applied("abcd", std::string(20, ' ')), applied("abce", std::string(20, ' ')));
}

} // namespace
