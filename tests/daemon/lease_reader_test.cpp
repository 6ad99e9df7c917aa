// Server discovery: hexadecimal digits, option decoding and the lease scan
// with the order of keys and passes.
#include "daemon/lease_reader.h"

#include "support/log_recorder.h"
#include "support/settings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The rule for a digit's value, written out step by step.
int expected_digit_value(int c) {
    int upper = c > 0x60 ? c - 0x20 : c;
    int high_nibble = upper / 16;
    int low_nibble = upper % 16;
    int value = 10 * high_nibble - 30 + low_nibble;
    return value >= 10 ? value - 1 : value;
}

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

// The lease systemd-networkd wrote on a test network.
const std::string sample_lease = "# This is private data. Do not parse.\n"
                                 "ADDRESS=192.168.10.57\n"
                                 "NETMASK=255.255.255.0\n"
                                 "ROUTER=192.168.10.1\n"
                                 "SERVER_ADDRESS=192.168.10.1\n"
                                 "NEXT_SERVER=192.168.10.5\n"
                                 "T1=43200\n"
                                 "T2=75600\n"
                                 "LIFETIME=86400\n"
                                 "DNS=192.168.10.1\n"
                                 "NTP=192.168.10.1\n"
                                 "DOMAINNAME=lan\n"
                                 "HOSTNAME=phone-1a2b3c\n"
                                 "VENDOR_SPECIFIC=0119687474703a2f2f3139322e3136382e31302e353a383"
                                 "038302f\n"
                                 "WWW_SERVER=192.168.10.5 192.168.10.6\n"
                                 "TFTP_SERVER_ADDRESS=192.168.10.5\n"
                                 "TFTP_SERVER_NAME=tftp.lan\n"
                                 "CLIENTID=ff3f90f17800020000ab11aecd425e31d72980\n";

int pass_result = 0;

// Records each pass among the log lines, so their order shows.
int record_pass(const nvcfg *, const char *server) {
    recorded_events().push_back("pass " + std::string(server));
    return pass_result;
}

class LeaseScan : public ::testing::Test {
  protected:
    void SetUp() override {
        clear_recorded_events();
        pass_result = 0;
    }

    std::vector<std::string> scan(const std::string &lease) {
        std::string path = directory.write("lease", lease);
        discover_server_from(settings.get(), path.c_str(), record_pass);
        return recorded_events();
    }

    temp_dir directory;
    std::unique_ptr<nvcfg> settings = blank_settings();
};

using events = std::vector<std::string>;

} // namespace

TEST(HexDigitValue, FollowsTheRuleForEveryByte) {
    for (int c = 0; c < 256; ++c) {
        EXPECT_EQ(hex_digit_value(static_cast<unsigned char>(c)), expected_digit_value(c))
            << "byte " << c;
    }
}

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

TEST_F(LeaseScan, SampleLeaseRunsOnePassPerOptionInOrder) {
    EXPECT_EQ(scan(sample_lease),
              (events{
                  "Cfgwatch: Found server in option 43: http://192.168.10.5:8080/",
                  "pass http://192.168.10.5:8080/",
                  "Cfgwatch: Found server in option 72: 192.168.10.5",
                  "pass 192.168.10.5",
                  "Cfgwatch: Found server in option 150: 192.168.10.5",
                  "pass 192.168.10.5",
                  "Cfgwatch: Found server in option 66: tftp.lan",
                  "pass tftp.lan",
              }));
}

TEST_F(LeaseScan, OrderIsTheKeysNotTheLines) {
    EXPECT_EQ(scan("TFTP_SERVER_NAME=d\nTFTP_SERVER_ADDRESS=c\nWWW_SERVER=b\n"
                   "VENDOR_SPECIFIC=61\n"),
              (events{"Cfgwatch: Found server in option 43: a", "pass a",
                      "Cfgwatch: Found server in option 72: b", "pass b",
                      "Cfgwatch: Found server in option 150: c", "pass c",
                      "Cfgwatch: Found server in option 66: d", "pass d"}));
}

TEST_F(LeaseScan, FailedPassesDoNotStopLaterKeys) {
    pass_result = -1;
    EXPECT_EQ(scan("WWW_SERVER=b\nTFTP_SERVER_NAME=d\n"),
              (events{"Cfgwatch: Found server in option 72: b", "pass b",
                      "Cfgwatch: Found server in option 66: d", "pass d"}));
}

TEST_F(LeaseScan, OnlyOption66Present) {
    EXPECT_EQ(scan("ADDRESS=10.0.0.7\nTFTP_SERVER_NAME=10.0.0.1\n"),
              (events{"Cfgwatch: Found server in option 66: 10.0.0.1", "pass 10.0.0.1"}));
}

TEST_F(LeaseScan, EmptyValueStillRunsAPass) {
    EXPECT_EQ(scan("WWW_SERVER=\n"), (events{"Cfgwatch: Found server in option 72: ", "pass "}));
}

TEST_F(LeaseScan, KeyInTheMiddleOfALine) {
    EXPECT_EQ(scan("OPTION_X=1 TFTP_SERVER_NAME=10.0.0.9\n"),
              (events{"Cfgwatch: Found server in option 66: 10.0.0.9", "pass 10.0.0.9"}));
}

TEST_F(LeaseScan, FirstOccurrenceInTheFirstLineThatHoldsTheKey) {
    EXPECT_EQ(scan("TFTP_SERVER_NAME=a TFTP_SERVER_NAME=b\nTFTP_SERVER_NAME=c\n"),
              (events{"Cfgwatch: Found server in option 66: a", "pass a"}));
}

TEST_F(LeaseScan, NulByteBeforeTheKeyDoesNotHideIt) {
    EXPECT_EQ(scan(std::string("junk\0 WWW_SERVER=10.0.0.2\n", 26)),
              (events{"Cfgwatch: Found server in option 72: 10.0.0.2", "pass 10.0.0.2"}));
}

TEST_F(LeaseScan, LongAndBinaryLinesBeforeTheKey) {
    std::string binary;
    for (int i = 0; i < 5000; ++i) {
        char c = static_cast<char>((i * 37 + 11) % 256);
        binary += c == '\n' ? 'x' : c;
    }
    std::string lease = std::string(3000, 'L') + "\n" + binary + "\nTFTP_SERVER_ADDRESS=10.0.0.3\n";
    EXPECT_EQ(scan(lease),
              (events{"Cfgwatch: Found server in option 150: 10.0.0.3", "pass 10.0.0.3"}));
}

TEST_F(LeaseScan, LongValuesAreCutAt255Characters) {
    std::string long_hex;
    for (int i = 0; i < 600; ++i) {
        long_hex += "62";
    }
    std::string lease = "VENDOR_SPECIFIC=" + long_hex + "\nWWW_SERVER=" + std::string(4000, 'w') +
                        "\nTFTP_SERVER_NAME=short\n";
    std::string b255(255, 'b');
    std::string w255(255, 'w');
    // The server text is cleared before each scan: the short value of the
    // last key carries nothing over from the long ones.
    EXPECT_EQ(scan(lease), (events{"Cfgwatch: Found server in option 43: " + b255, "pass " + b255,
                                   "Cfgwatch: Found server in option 72: " + w255, "pass " + w255,
                                   "Cfgwatch: Found server in option 66: short", "pass short"}));
}

TEST_F(LeaseScan, LastLineWithoutLineFeed) {
    EXPECT_EQ(scan("X=1\nTFTP_SERVER_NAME=10.0.0.4"),
              (events{"Cfgwatch: Found server in option 66: 10.0.0.4", "pass 10.0.0.4"}));
}

TEST_F(LeaseScan, NoKeysNoPassesNoMessages) {
    EXPECT_EQ(scan("ADDRESS=10.0.0.7\nDNS=10.0.0.1\n"), events{});
    EXPECT_EQ(scan(""), events{});
}

TEST_F(LeaseScan, MissingLeaseOrDirectoryIsSkippedSilently) {
    discover_server_from(settings.get(), directory.file("absent").c_str(), record_pass);
    discover_server_from(settings.get(), directory.path().c_str(), record_pass);
    EXPECT_EQ(recorded_events(), events{});
}

TEST_F(LeaseScan, ConfiguredServerRunsOnePassAndTheLeaseIsNotRead) {
    set_text(settings->autoprov_server, "http://10.9.9.9/prov");
    EXPECT_EQ(scan(sample_lease), (events{"pass http://10.9.9.9/prov"}));
}

TEST_F(LeaseScan, ConfiguredServerWithoutTerminatorIsCutAt255) {
    std::memset(settings->autoprov_server, 's', sizeof settings->autoprov_server);
    EXPECT_EQ(scan(sample_lease), (events{"pass " + std::string(255, 's')}));
}

TEST(LeaseFile, IsTheLeaseOfInterfaceTwo) {
    EXPECT_STREQ(LEASE_FILE_PATH, "/run/systemd/netif/leases/2");
}
