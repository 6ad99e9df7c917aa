// Naming helpers: MAC text, base names, which names can be stored as files,
// the naming mode, and bounded copying and formatting.
#include "daemon/file_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string base_of(const char *path) {
    char base[64];
    EXPECT_TRUE(base_name(path, base, sizeof base)) << path;
    return base;
}

} // namespace

TEST(MacText, TwelveLowercaseDigitsByteZeroFirst) {
    char text[MAC_TEXT_CAPACITY];
    const uint8_t mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    format_mac_text(mac, text);
    EXPECT_STREQ(text, "001a2b3c4d5e");
    const uint8_t high[6] = {0xAB, 0xCD, 0xEF, 0x01, 0x90, 0xFF};
    format_mac_text(high, text);
    EXPECT_STREQ(text, "abcdef0190ff");
}

TEST(BaseName, PosixSemantics) {
    EXPECT_EQ(base_of("a.xml"), "a.xml");
    EXPECT_EQ(base_of("cfg/a.xml"), "a.xml");
    EXPECT_EQ(base_of("/tmp/new/a.xml"), "a.xml");
    EXPECT_EQ(base_of("cfg//a.xml"), "a.xml");
    EXPECT_EQ(base_of("cfg/"), "cfg");
    EXPECT_EQ(base_of("//cfg//"), "cfg");
    EXPECT_EQ(base_of("x/.."), "..");
    EXPECT_EQ(base_of("."), ".");
    EXPECT_EQ(base_of(""), ".");
    EXPECT_EQ(base_of("/"), "/");
    EXPECT_EQ(base_of("///"), "/");
}

TEST(BaseName, LeavesTheCallersTextAlone) {
    char path[] = "cfg/sub/";
    char base[16];
    ASSERT_TRUE(base_name(path, base, sizeof base));
    EXPECT_STREQ(base, "sub");
    EXPECT_STREQ(path, "cfg/sub/");
}

TEST(BaseName, RefusesWhatDoesNotFit) {
    char base[4];
    EXPECT_TRUE(base_name("d/abc", base, sizeof base));
    EXPECT_STREQ(base, "abc");
    EXPECT_FALSE(base_name("d/abcd", base, sizeof base));
    EXPECT_STREQ(base, "");
}

TEST(NamesAFile, PlainAndNestedNames) {
    EXPECT_TRUE(names_a_file("a.xml"));
    EXPECT_TRUE(names_a_file("cfg/a.xml"));
    EXPECT_TRUE(names_a_file("cfg//001a2b3c4d5e.xml"));
    EXPECT_TRUE(names_a_file("..a"));
    EXPECT_TRUE(names_a_file("x/..."));
}

TEST(NamesAFile, NamesThatWouldBeTheDirectoryOrItsParent) {
    for (const char *name : {"", "/", "cfg/", "x//", ".", "..", "x/.", "x/..", "/.."}) {
        EXPECT_FALSE(names_a_file(name)) << '"' << name << '"';
    }
}

TEST(NamingMode, FromTheFileSetting) {
    EXPECT_EQ(naming_mode_of(""), naming_mode::default_name);
    EXPECT_EQ(naming_mode_of("prov.xml"), naming_mode::named_file);
    EXPECT_EQ(naming_mode_of("cfg/prov.xml"), naming_mode::named_file);
    EXPECT_EQ(naming_mode_of("cfg/"), naming_mode::directory_prefix);
    EXPECT_EQ(naming_mode_of("/"), naming_mode::directory_prefix);
}

TEST(CopyTextField, StopsAtTheTerminatorOrTheFieldWidth) {
    char field[8] = {'a', 'b', '\0', 'x', 'x', 'x', 'x', 'x'};
    char text[16];
    EXPECT_EQ(copy_text_field(text, sizeof text, field, sizeof field), 2u);
    EXPECT_STREQ(text, "ab");

    // A field without a terminator is read to its width and no further.
    char full[24];
    std::memset(full, 'f', sizeof full);
    EXPECT_EQ(copy_text_field(text, sizeof text, full, 8), 8u);
    EXPECT_STREQ(text, "ffffffff");

    // What does not fit into the copy is cut, terminator kept.
    EXPECT_EQ(copy_text_field(text, 5, full, sizeof full), 4u);
    EXPECT_STREQ(text, "ffff");
}

TEST(FormatBounded, TellsWhetherTheTextWasCut) {
    char buffer[8];
    EXPECT_TRUE(format_bounded(buffer, sizeof buffer, "%s/%s", "ab", "cdef"));
    EXPECT_STREQ(buffer, "ab/cdef");
    EXPECT_FALSE(format_bounded(buffer, sizeof buffer, "%s/%s", "ab", "cdefg"));
    EXPECT_STREQ(buffer, "ab/cdef");
}

TEST(NamesAFile, NamesWithControlCharactersAreRefused) {
    // Names come from downloaded files; a line feed in one would let the
    // server write log lines of its own.
    for (const char *name :
         {"a\nb.xml", "a\rb.xml", "\x1b[2Ja.xml", "a\x7f.xml", "dir\t/a.xml", "a.xml\x01"}) {
        EXPECT_FALSE(names_a_file(name)) << name;
        EXPECT_TRUE(has_control_character(name)) << name;
    }
    for (const char *name : {"a b.xml", "\xc3\xa9t\xc3\xa9.xml", "~a.xml"}) {
        EXPECT_TRUE(names_a_file(name)) << name;
        EXPECT_FALSE(has_control_character(name)) << name;
    }
}

TEST(PrintableCopy, MasksControlCharactersAndStaysInItsBuffer) {
    char out[16];
    printable_copy("a\nb\r\x7f\x1b"
                   "c \xc3\xa9",
                   out, sizeof out);
    EXPECT_STREQ(out, "a?b???c \xc3\xa9");
    char small[4];
    printable_copy("abcdef", small, sizeof small);
    EXPECT_STREQ(small, "abc");
}
