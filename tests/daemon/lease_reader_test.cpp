// The lease's server texts: hexadecimal digits and the decoding of each
// kind of option value. The scan itself is exercised through discovery.
#include "daemon/lease_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string vendor(const std::string &value) {
    char server[SERVER_TEXT_CAPACITY];
    std::memset(server, 'Z', sizeof server);
    size_t length = decode_vendor_specific(value.data(), value.size(), server);
    EXPECT_EQ(length, std::strlen(server));
    return std::string(server, length);
}

std::string first_address(const std::string &value) {
    char server[SERVER_TEXT_CAPACITY];
    std::memset(server, 'Z', sizeof server);
    size_t length = decode_first_address(value.data(), value.size(), server);
    EXPECT_EQ(length, std::strlen(server));
    return std::string(server, length);
}

std::string hex_of(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

} // namespace

TEST(HexDigitValue, DigitsAndLettersOfBothCases) {
    for (int d = 0; d < 10; ++d) {
        EXPECT_EQ(hex_digit_value(static_cast<unsigned char>('0' + d)), d);
    }
    for (int d = 0; d < 6; ++d) {
        EXPECT_EQ(hex_digit_value(static_cast<unsigned char>('A' + d)), 10 + d);
        EXPECT_EQ(hex_digit_value(static_cast<unsigned char>('a' + d)), 10 + d);
    }
}

TEST(HexDigitValue, OtherCharactersGiveWhatTheArithmeticYields) {
    EXPECT_EQ(hex_digit_value(':'), 9);
    EXPECT_EQ(hex_digit_value('G'), 16);
    EXPECT_EQ(hex_digit_value('g'), 16);
    EXPECT_EQ(hex_digit_value(' '), -10);
    EXPECT_EQ(hex_digit_value(0x00), -30);
    EXPECT_EQ(hex_digit_value(0xFF), 114);
}

TEST(VendorSpecific, SampleLeaseValueSpellsTheUrl) {
    EXPECT_EQ(vendor("0119687474703a2f2f3139322e3136382e31302e353a383038302f\n"),
              "http://192.168.10.5:8080/");
}

TEST(VendorSpecific, NonPrintableBytesVanishAndPrintableOnesJoin) {
    EXPECT_EQ(vendor("4101421f7f4380ff44\n"), "ABCD");
    // 0x20 and 0x7e are the edges of what is kept.
    EXPECT_EQ(vendor("1f207e7f"), " ~");
}

TEST(VendorSpecific, PrintableLengthByteStays) {
    // Sub-option 1 of length 0x21: the length reads as '!'.
    EXPECT_EQ(vendor("0121" + hex_of("tftp://10.0.0.1/") + "\n"), "!tftp://10.0.0.1/");
}

TEST(VendorSpecific, UpperAndLowerCaseDecodeAlike) {
    EXPECT_EQ(vendor("6A6B6C"), "jkl");
    EXPECT_EQ(vendor("6a6b6c"), "jkl");
    EXPECT_EQ(vendor("6A6b6C"), "jkl");
}

TEST(VendorSpecific, BlanksAndOtherCharactersCountAsDigits) {
    // ' ' is -10: -160 keeps its low byte 0x60, a backquote.
    EXPECT_EQ(vendor(" 0"), "`");
    // ':' is 9: "3:" is 0x39, the digit nine.
    EXPECT_EQ(vendor("3:"), "9");
    // 'G' is 16: "G0" is 0x100, whose low byte 0 is dropped.
    EXPECT_EQ(vendor("G041"), "A");
    // A tab inside the value is a digit too, not an end: "\t0" is 0xb0 and
    // dropped, and the value goes on.
    EXPECT_EQ(vendor("41\t042"), "AB");
}

TEST(VendorSpecific, TrailingSingleDigitIsDropped) {
    EXPECT_EQ(vendor("41424"), "AB");
    EXPECT_EQ(vendor("41424\n"), "AB");
    EXPECT_EQ(vendor("41424\r\n"), "AB");
    EXPECT_EQ(vendor("4"), "");
}

TEST(VendorSpecific, ValueEndsAtNulCarriageReturnOrLineFeed) {
    EXPECT_EQ(vendor(std::string("41\0"
                                 "42",
                                 5)),
              "A");
    EXPECT_EQ(vendor("41\r42"), "A");
    EXPECT_EQ(vendor("41\n42"), "A");
    EXPECT_EQ(vendor("\n"), "");
    EXPECT_EQ(vendor(""), "");
}

TEST(VendorSpecific, LongValueIsCutAt255Characters) {
    std::string value;
    for (int i = 0; i < 400; ++i) {
        value += "41";
    }
    EXPECT_EQ(vendor(value + "\n"), std::string(255, 'A'));
}

TEST(FirstAddress, OnlyTheFirstOfABlankSeparatedList) {
    EXPECT_EQ(first_address("192.168.10.5 192.168.10.6\n"), "192.168.10.5");
    EXPECT_EQ(first_address("10.0.0.1\t10.0.0.2"), "10.0.0.1");
    EXPECT_EQ(first_address("tftp.lan\r\n"), "tftp.lan");
    EXPECT_EQ(first_address(std::string("a\0b", 3)), "a");
    EXPECT_EQ(first_address("\x01x"), "");
}

TEST(FirstAddress, BytesFrom0x80UpAreCopied) {
    EXPECT_EQ(first_address("\xc3\xa9t\xff\x80.lan next\n"), "\xc3\xa9t\xff\x80.lan");
}

TEST(FirstAddress, EmptyValueAndValueWithoutLineEnd) {
    EXPECT_EQ(first_address("\n"), "");
    EXPECT_EQ(first_address(""), "");
    EXPECT_EQ(first_address("10.1.2.3"), "10.1.2.3");
}

TEST(FirstAddress, LongValueIsCutAt255Characters) {
    EXPECT_EQ(first_address(std::string(1000, 'h') + "\n"), std::string(255, 'h'));
    EXPECT_EQ(first_address(std::string(255, 'h')), std::string(255, 'h'));
}

TEST(LeaseFile, IsTheLeaseOfInterfaceTwo) {
    EXPECT_STREQ(LEASE_FILE_PATH, "/run/systemd/netif/leases/2");
}
