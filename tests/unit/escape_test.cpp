#include <gtest/gtest.h>

#include <string>

#include "report/escape.h"
#include "report/record_writer.h"

using rorarodi::append_xml_element;
using rorarodi::HtmlTextWriter;
using rorarodi::XmlContentWriter;
using rorarodi::all_spaces;
using rorarodi::holds_any;

namespace {

std::string xml_element(const std::string& name, const std::string& text, bool allow_cdata) {
    std::string out;
    append_xml_element(out, name, text, allow_cdata);
    return out;
}

std::string xml_number_element(const std::string& name, double value) {
    std::string out;
    rorarodi::append_xml_number_element(out, name, value);
    return out;
}

std::string html_text(const std::string& text) {
    std::string out;
    HtmlTextWriter writer(out);
    writer.feed(text);
    writer.finish();
    return out;
}

TEST(EscapeXmlElement, EntitiesCdataAndCharacterReferences) {
    struct Case {
        std::string text;
        bool allow_cdata;
        std::string expected;
    };
    const Case cases[] = {
        {"", true, "<NOTE/>"},
        {"", false, "<NOTE/>"},
        {"plain", true, "<NOTE>plain</NOTE>"},
        {"a<b", true, "<NOTE><![CDATA[a<b]]></NOTE>"},
        {"a<b", false, "<NOTE>a&lt;b</NOTE>"},
        {"x>y&z", false, "<NOTE>x&gt;y&amp;z</NOTE>"},
        {"x>y&z", true, "<NOTE><![CDATA[x>y&z]]></NOTE>"},
        // Quotes and apostrophes stay; without '<', '>' or '&' no CDATA even when allowed.
        {"say \"it's\"", true, "<NOTE>say \"it's\"</NOTE>"},
        // Control bytes: upper-case hexadecimal without leading zeros, in or out of CDATA.
        {"one\ntwo", true, "<NOTE>one&#xA;two</NOTE>"},
        {"one\ntwo", false, "<NOTE>one&#xA;two</NOTE>"},
        {"a<\nb", true, "<NOTE><![CDATA[a<&#xA;b]]></NOTE>"},
        {std::string("\x1b\x01\x1f", 3), false, "<NOTE>&#x1B;&#x1;&#x1F;</NOTE>"},
        // Bytes above 127: four decimal digits.
        {"caf\xe9", false, "<NOTE>caf&#0233;</NOTE>"},
        {"\x80\xff", true, "<NOTE>&#0128;&#0255;</NOTE>"},
        {"<\xe9>", true, "<NOTE><![CDATA[<&#0233;>]]></NOTE>"},
        {"\x7f", false, "<NOTE>\x7f</NOTE>"},
        // "]]>" never closes a CDATA section early.
        {"a]]>b<", true, "<NOTE><![CDATA[a]]]]><![CDATA[>b<]]></NOTE>"},
        {"]]>", false, "<NOTE>]]&gt;</NOTE>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(xml_element("NOTE", c.text, c.allow_cdata), c.expected) << c.text;
    }
}

TEST(EscapeXmlElement, LongTextIsBuiltWhole) {
    std::string text(5000, '\xe9');
    std::string expected = "<N><![CDATA[";
    text += "&";
    for (int i = 0; i < 5000; ++i) expected += "&#0233;";
    expected += "&]]></N>";
    EXPECT_EQ(xml_element("N", text, true), expected);
}

TEST(EscapeXmlNumberElement, IntegerDecimalAndEmptyForms) {
    struct Case {
        double value;
        std::string expected;
    };
    const Case cases[] = {
        {0.0, "<V/>"},
        {-0.0, "<V/>"},
        {12.0, "<V>12</V>"},
        {-7.0, "<V>-7</V>"},
        {12.5, "<V>12.500000</V>"},
        {2147483647.0, "<V>2147483647</V>"},
        {-2147483648.0, "<V>-2147483648</V>"},
        {2147483648.0, "<V>2147483648.000000</V>"},
        {3e9, "<V>3000000000.000000</V>"},
        {-3e9, "<V>-3000000000.000000</V>"},
        {0.25, "<V>0.250000</V>"},
    };
    for (const Case& c : cases) EXPECT_EQ(xml_number_element("V", c.value), c.expected) << c.value;
    // A value of 301 digits is written whole.
    EXPECT_EQ(xml_number_element("V", 1e300).size(), std::string("<V>.000000</V>").size() + 301);
}

TEST(EscapeHtmlText, EntitiesLineBreaksAndTokens) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"", ""},
        {"  \t ", ""},
        {"one", "one "},
        {"  one \t two  ", "one two "},
        {"first line\nsecond", "first line <br>\n second "},
        {"a\r\nb", "a <br>\n b "},
        {"x<y", "x &lt;y "},
        {"x>y", "x&gt; y "},
        {"R&D \"q\"", "R&amp;D &quot;q&quot; "},
        // Tokens of four characters or fewer are never links.
        {"www.", "www. "},
        {"www.example", "www.example "},
        {"www.example.com",
         "<a href=\"http://www.example.com\">www.example.com</a> "},
        {"ftp.example.org/pub",
         "<a href=\"ftp://ftp.example.org/pub\">ftp.example.org/pub</a> "},
        {"see http://host/x now",
         "see <a href=\"http://host/x\">http://host/x</a> now "},
        {"ftp://files", "<a href=\"ftp://files\">ftp://files</a> "},
        {"HTTP://host", "HTTP://host "},
        {"mail me@host.org", "mail <a href=\"mailto:me@host.org\">me@host.org</a> "},
        // '@' without a later '.' is plain text.
        {"a.b@host", "a.b@host "},
        // An address in angle brackets: the target is the bare address.
        {"Ann <ann@example.com>",
         "Ann <a href=\"mailto:ann@example.com\">&lt;ann@example.com&gt;</a> "},
        // A web address holding '@' and a later '.' is a mail link.
        {"http://user@host.com",
         "<a href=\"mailto:http://user@host.com\">http://user@host.com</a> "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(html_text(c.text), c.expected) << c.text;
    }
}

TEST(EscapeHtmlText, LongTextIsBuiltWhole) {
    std::string text;
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        text += "www.a.b\n";
        expected += "<a href=\"http://www.a.b\">www.a.b</a> <br>\n ";
    }
    EXPECT_EQ(html_text(text), expected);
}

// Texts given in pieces come out as the whole text does, wherever the pieces end.
TEST(EscapeInPieces, SameResultForEverySplit) {
    const std::string text = "Mail <ann@example.com> or see www.example.com/x]]>y\r\n& \"done\"";
    const std::string html = html_text(text);
    const std::string xml = xml_element("N", text, true);
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        for (size_t second = cut; second <= text.size(); second += 7) {
            std::string out;
            HtmlTextWriter writer(out);
            writer.feed(text.substr(0, cut));
            writer.feed(text.substr(cut, second - cut));
            writer.feed(text.substr(second));
            writer.finish();
            EXPECT_EQ(out, html) << cut << " " << second;

            std::string content = "<N>";
            XmlContentWriter element(content, true);
            element.begin();
            element.add(text.substr(0, cut));
            element.add(text.substr(cut, second - cut));
            element.add(text.substr(second));
            element.end();
            EXPECT_EQ(content + "</N>", xml) << cut << " " << second;
        }
    }
    // The text ends at the first NUL, in whichever piece it comes.
    std::string out;
    HtmlTextWriter writer(out);
    writer.feed("one ");
    writer.feed(std::string("two\0three", 9));
    writer.feed("four");
    writer.finish();
    EXPECT_EQ(out, "one two ");
}

TEST(Escape, Utf8TextsKeepTheirCharacters) {
    // Bytes above 127 stay; tab and line breaks keep their references, the other
    // control characters become U+FFFD in and out of CDATA.
    const std::string text = "\xD0\x81\xD0\xB6\t\r\n\x1B\x7F";
    std::string plain, cdata;
    append_xml_element(plain, "\xD0\x81", text, false, true);
    append_xml_element(cdata, "N", text + "<&", true, true);
    EXPECT_EQ(plain, "<\xD0\x81>\xD0\x81\xD0\xB6&#x9;&#xD;&#xA;\xEF\xBF\xBD\x7F</\xD0\x81>");
    EXPECT_EQ(cdata, "<N><![CDATA[\xD0\x81\xD0\xB6&#x9;&#xD;&#xA;\xEF\xBF\xBD\x7F<&]]></N>");
    // Without UTF-8 the same bytes are references to their values.
    std::string bytes;
    append_xml_element(bytes, "N", "\xD0\x1B", false);
    EXPECT_EQ(bytes, "<N>&#0208;&#x1B;</N>");
}

} // namespace

// The scans of the writers find a wanted character at every position of texts
// around the eight-byte steps (the last word overlapping), and nothing else.
TEST(WriterScans, FindCharactersAtEveryPosition) {
    for (size_t length = 0; length <= 25; ++length) {
        const std::string spaces(length, ' ');
        EXPECT_FALSE(holds_any(spaces, ",\"\r\n")) << length;
        EXPECT_TRUE(all_spaces(spaces)) << length;
        for (size_t at = 0; at < length; ++at) {
            for (char c : {'"', '\r', '\xA2', '!'}) {
                std::string text(length, 'a');
                text[at] = c;
                EXPECT_EQ(holds_any(text, "\"\r"), c == '"' || c == '\r') << length << " " << at;
                std::string padded = spaces;
                padded[at] = c;
                EXPECT_FALSE(all_spaces(padded)) << length << " " << at;
            }
        }
    }
}
