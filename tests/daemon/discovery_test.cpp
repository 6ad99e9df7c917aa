// Server discovery: the configured server, or one pass per lease option in
// the order of the keys, each found by the lease scan and logged.
#include "daemon/discovery.h"

#include "support/log_recorder.h"
#include "support/settings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

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

// Records each pass among the log lines, so their order shows.
void record_pass(const nvcfg *, const char *server) {
    recorded_events().push_back("pass " + std::string(server));
}

class LeaseScan : public ::testing::Test {
  protected:
    void SetUp() override { clear_recorded_events(); }

    std::vector<std::string> scan(const std::string &lease) {
        std::string path = directory.write("lease", lease);
        discover_server_using(settings.get(), path.c_str(), record_pass);
        return recorded_events();
    }

    temp_dir directory;
    std::unique_ptr<nvcfg> settings = blank_settings();
};

using events = std::vector<std::string>;

} // namespace

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
    discover_server_using(settings.get(), directory.file("absent").c_str(), record_pass);
    discover_server_using(settings.get(), directory.path().c_str(), record_pass);
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
