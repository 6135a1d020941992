#include <gtest/gtest.h>

#include <cstring>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

TableLayout people() {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 8}, {"AGE", 'N', 4}};
    const char* names[] = {"Olga", "Anna", "Ivan", "Boris", "Anna"};
    const char* ages[] = {"30", "10", "5", "2", "12"};
    for (int i = 0; i < 5; ++i) layout.records.push_back(make_record(layout, {names[i], ages[i]}));
    return layout;
}

constexpr size_t kHeader = 32 + 2 * 32 + 1;
constexpr size_t kLength = 13;

TEST(Password, EncodeDecodeRestoreTheFileByteForByte) {
    TempDir dir;
    TableLayout layout = people();
    layout.records[3][0] = '*';
    const std::string plain = build_table(layout);
    write_file(dir / "t.dbf", plain);

    RunResult encode = run_rorarodi(dir, {"t.dbf", "/BAK", "/ENCODE:secret"});
    EXPECT_EQ(encode.output, "");
    EXPECT_EQ(read_file(dir / "t.bak"), plain);
    const std::string enciphered = read_file(dir / "t.dbf");
    ASSERT_EQ(enciphered.size(), plain.size());
    EXPECT_EQ(enciphered.substr(0, kHeader), plain.substr(0, kHeader));
    EXPECT_EQ(enciphered.back(), '\x1A');
    // The mark bytes stay plain; every other byte differs by the keystream byte of
    // its position, the same in every record.
    std::string keystream;
    for (size_t t = 1; t < kLength; ++t) keystream += static_cast<char>(enciphered[kHeader + t] ^ plain[kHeader + t]);
    EXPECT_NE(keystream, std::string(kLength - 1, '\0'));
    for (size_t r = 0; r < 5; ++r) {
        const size_t start = kHeader + r * kLength;
        EXPECT_EQ(enciphered[start], plain[start]);
        for (size_t t = 1; t < kLength; ++t)
            EXPECT_EQ(static_cast<char>(enciphered[start + t] ^ plain[start + t]), keystream[t - 1]);
    }

    // A filter does not limit the encoding: the view is dropped first.
    write_file(dir / "f.dbf", plain);
    run_rorarodi(dir, {"f.dbf", "/FILTER:NAME=Anna", "/ENCODE:secret", "/COUNT"});
    EXPECT_EQ(read_file(dir / "f.dbf"), enciphered);

    // /DECODE with the same password restores the file, and so does /ENCODE twice.
    run_rorarodi(dir, {"t.dbf", "/DECODE:secret"});
    EXPECT_EQ(read_file(dir / "t.dbf"), plain);
    run_rorarodi(dir, {"t.dbf", "/ENCODE:secret", "/ENCODE:secret"});
    EXPECT_EQ(read_file(dir / "t.dbf"), plain);

    // A wrong password scrambles further; the same wrong password undoes it.
    run_rorarodi(dir, {"f.dbf", "/DECODE:wrong"});
    EXPECT_NE(read_file(dir / "f.dbf"), plain);
    run_rorarodi(dir, {"f.dbf", "/DECODE:wrong", "/DECODE:secret"});
    EXPECT_EQ(read_file(dir / "f.dbf"), plain);

    // Odd lengths are padded with '*'; passwords are cut to 255 characters.
    run_rorarodi(dir, {"t.dbf", "/ENCODE:abc", "/DECODE:abc*"});
    EXPECT_EQ(read_file(dir / "t.dbf"), plain);
    run_rorarodi(dir, {"t.dbf", "/ENCODE:" + std::string(300, 'k'), "/DECODE:" + std::string(255, 'k') + "zz"});
    EXPECT_EQ(read_file(dir / "t.dbf"), plain);

    // A read-only table is left as it is.
    run_rorarodi(dir, {"#t.dbf", "/ENCODE:secret"}, "rorarodi: /ENCODE: t.dbf is open read-only\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), plain);
}

TEST(Password, TraceLinesAndMissingPassword) {
    TempDir dir;
    const std::string plain = build_table(people());
    write_file(dir / "t.dbf", plain);
    RunResult r = run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/ENCODE:", "/DECODE:", "/ENCODE", "/PSW:x", "/PSW"});
    EXPECT_EQ(r.output,
              "Processing of parameter [/ENCODE:]\nEnter Encode\nPassword required...\nLeave Encode\n"
              "Processing of parameter [/DECODE:]\nEnter Decode\nPassword required...\nLeave Decode\n"
              "Processing of parameter [/ENCODE]\nUnknown function: [ENCODE].\n"
              "Processing of parameter [/PSW:x]\nEnter Password\nLeave Password\n"
              "Processing of parameter [/PSW]\nEnter Password\nLeave Password\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), plain);

    RunResult encode = run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/ENCODE:k"});
    EXPECT_EQ(encode.output,
              "Processing of parameter [/ENCODE:k]\nEnter Encode\nEnter Password\nLeave Password\n"
              "Enter Password\nLeave Password\nLeave Encode\n");
}

TEST(Password, PswLetsParametersSeePlainValues) {
    TempDir dir;
    write_file(dir / "t.dbf", build_table(people()));
    run_rorarodi(dir, {"t.dbf", "/ENCODE:pw"});
    const std::string enciphered = read_file(dir / "t.dbf");

    // Without the password the filter sees enciphered names; with it the plain ones.
    // /PSW: and /PSW alone remove the password again.
    RunResult r = run_rorarodi(dir, {"t.dbf", "/FILTER:NAME=Anna", "/COUNT", "/CLEAR", "/PSW:pw", "/FILTER:NAME=Anna",
                                     "/COUNT", "/PSW:", "/FILTER:AGE}0", "/COUNT", "/PSW:pw", "/CLEAR", "/ORDER:AGE",
                                     "/DELETE:1", "/PSW", "/CLEAR", "/FILTER:AGE}0", "/COUNT"});
    EXPECT_EQ(r.output, "0\n2\n0\n0\n");
    // The deletion mark is written plain (the record with the smallest age, Boris),
    // and nothing else changed.
    std::string expected = enciphered;
    expected[kHeader + 3 * kLength] = '*';
    EXPECT_EQ(read_file(dir / "t.dbf"), expected);
    RunResult deleted = run_rorarodi(dir, {"t.dbf", "/PSW:pw", "/DELETEDONLY", "/FILTER:NAME=Boris", "/COUNT"});
    EXPECT_EQ(deleted.output, "1\n");
}

TEST(Password, UpdatesAndAppendsStoreEncipheredRecords) {
    TempDir dir;
    write_file(dir / "t.dbf", build_table(people()));
    RunResult r = run_rorarodi(dir, {"t.dbf", "/ENCODE:pw", "/PSW:pw", "/FIELD:AGE=AGE+1", "/UPDATE",
                                     "/FIELD:NAME='Zed';AGE=7", "/APPEND:2", "/APPEND:blank", "/FILTER:AGE}10",
                                     "/COUNT"});
    EXPECT_EQ(r.output, "3\n");
    EXPECT_EQ(read_file(dir / "t.dbf").find("Zed"), std::string::npos);

    run_rorarodi(dir, {"t.dbf", "/DECODE:pw"});
    TableLayout expected = people();
    stamp_today(expected);
    const char* ages[] = {"31", "11", "6", "3", "13"};
    for (int i = 0; i < 5; ++i) expected.records[i].replace(9, 4, std::string(4 - std::strlen(ages[i]), ' ') + ages[i]);
    expected.records.push_back(make_record(expected, {"Zed", "7"}));
    expected.records.push_back(make_record(expected, {"Zed", "7"}));
    expected.records.push_back(make_record(expected, {}));
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(expected));
}

} // namespace
