// Naming helpers: MAC text, base names, which names can be stored as files,
// and the naming mode.
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

TEST(NamesAFile, NamesWithControlCharactersAreRefused) {
    // Names come from downloaded files; a line feed in one would let the
    // server write log lines of its own.
    for (const char *name :
         {"a\nb.xml", "a\rb.xml", "\x1b[2Ja.xml", "a\x7f.xml", "dir\t/a.xml", "a.xml\x01"}) {
        EXPECT_FALSE(names_a_file(name)) << name;
    }
    for (const char *name : {"a b.xml", "\xc3\xa9t\xc3\xa9.xml", "~a.xml"}) {
        EXPECT_TRUE(names_a_file(name)) << name;
    }
}
