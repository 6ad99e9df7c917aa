// The main-file half of a provisioning pass: which names are asked for in
// each naming mode, which local path is compared, and the results.
#include "daemon/provisioning_pass.h"

#include "daemon/fetch.h"
#include "support/log_recorder.h"
#include "support/settings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using events = std::vector<std::string>;

// The names the pretend server has.
std::set<std::string> available;

// Where the pretend fetch stores downloads, under the name's last
// component, as the real one does.
std::unique_ptr<temp_dir> downloads;

bool fetch_if_available(const nvcfg *, const char *name, const char *server,
                        char (&local_path)[LOCAL_PATH_CAPACITY]) {
    recorded_events().push_back("fetch " + std::string(name) + " from " + server);
    if (available.count(name) == 0) {
        return false;
    }
    std::string base = std::string(name).substr(std::string(name).rfind('/') + 1);
    std::string stored = downloads->write(base, "<config><MiscSettings/></config>\n");
    std::snprintf(local_path, sizeof local_path, "%s", stored.c_str());
    return true;
}

std::string compared(const std::string &base) {
    return "compare " + downloads->file(base);
}

void record_compare(const char *local_path) {
    recorded_events().push_back("compare " + std::string(local_path));
}

const pass_steps recorded_steps{fetch_if_available, record_compare};

class MainFile : public ::testing::Test {
  protected:
    void SetUp() override {
        clear_recorded_events();
        available.clear();
        downloads = std::make_unique<temp_dir>();
        const uint8_t mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
        std::memcpy(settings->mac_address, mac, sizeof mac);
    }

    void pass(const char *server = "http://10.0.0.1") {
        run_provisioning_pass_using(settings.get(), server, recorded_steps);
    }

    void TearDown() override { downloads.reset(); }

    std::unique_ptr<nvcfg> settings = blank_settings();
};

} // namespace

TEST_F(MainFile, DefaultModeAsksForTheMacName) {
    available = {"001a2b3c4d5e.xml"};
    pass();
    EXPECT_EQ(recorded_events(), (events{"Cfgwatch looking for 001a2b3c4d5e.xml at http://10.0.0.1",
                                         "fetch 001a2b3c4d5e.xml from http://10.0.0.1",
                                         compared("001a2b3c4d5e.xml")}));
}

TEST_F(MainFile, MacDigitsAreLowercase) {
    const uint8_t mac[6] = {0xAB, 0xCD, 0xEF, 0x0A, 0x0B, 0xFF};
    std::memcpy(settings->mac_address, mac, sizeof mac);
    available = {"abcdef0a0bff.xml"};
    pass("10.0.0.2");
    EXPECT_EQ(recorded_events(),
              (events{"Cfgwatch looking for abcdef0a0bff.xml at 10.0.0.2",
                      "fetch abcdef0a0bff.xml from 10.0.0.2", compared("abcdef0a0bff.xml")}));
}

TEST_F(MainFile, DefaultModeFallsBackToTheDefaultName) {
    available = {"000000ef.xml"};
    pass();
    EXPECT_EQ(recorded_events(),
              (events{"Cfgwatch looking for 001a2b3c4d5e.xml at http://10.0.0.1",
                      "fetch 001a2b3c4d5e.xml from http://10.0.0.1",
                      "Cfgwatch looking for 000000ef.xml at http://10.0.0.1",
                      "fetch 000000ef.xml from http://10.0.0.1", compared("000000ef.xml")}));
}

TEST_F(MainFile, NeitherNameFetchedEndsTheFailedPassSilently) {
    pass();
    EXPECT_EQ(recorded_events(), (events{"Cfgwatch looking for 001a2b3c4d5e.xml at http://10.0.0.1",
                                         "fetch 001a2b3c4d5e.xml from http://10.0.0.1",
                                         "Cfgwatch looking for 000000ef.xml at http://10.0.0.1",
                                         "fetch 000000ef.xml from http://10.0.0.1"}));
}

TEST_F(MainFile, PrefixModeAsksUnderThePrefixWithTwoSlashes) {
    set_text(settings->autoprov_file, "cfg/");
    available = {"cfg//001a2b3c4d5e.xml"};
    pass();
    EXPECT_EQ(
        recorded_events(),
        (events{"Cfgwatch looking for cfg//001a2b3c4d5e.xml at http://10.0.0.1",
                "fetch cfg//001a2b3c4d5e.xml from http://10.0.0.1", compared("001a2b3c4d5e.xml")}));
}

TEST_F(MainFile, PrefixModeFallsBackToTheDefaultNameUnderThePrefix) {
    set_text(settings->autoprov_file, "a/b/");
    available = {"a/b//000000ef.xml"};
    pass();
    EXPECT_EQ(recorded_events(),
              (events{"Cfgwatch looking for a/b//001a2b3c4d5e.xml at http://10.0.0.1",
                      "fetch a/b//001a2b3c4d5e.xml from http://10.0.0.1",
                      "Cfgwatch looking for a/b//000000ef.xml at http://10.0.0.1",
                      "fetch a/b//000000ef.xml from http://10.0.0.1", compared("000000ef.xml")}));
}

TEST_F(MainFile, NamedFileIsAskedForAloneAndKeptUnderItsBaseName) {
    set_text(settings->autoprov_file, "cfg/prov.xml");
    available = {"cfg/prov.xml"};
    pass();
    EXPECT_EQ(recorded_events(),
              (events{"Cfgwatch looking for cfg/prov.xml at http://10.0.0.1",
                      "fetch cfg/prov.xml from http://10.0.0.1", compared("prov.xml")}));
}

TEST_F(MainFile, NamedFileMissingTriesNoOtherName) {
    set_text(settings->autoprov_file, "prov.xml");
    available = {"001a2b3c4d5e.xml", "000000ef.xml"};
    pass();
    EXPECT_EQ(recorded_events(), (events{"Cfgwatch looking for prov.xml at http://10.0.0.1",
                                         "fetch prov.xml from http://10.0.0.1",
                                         "Cfgwatch error: could not download autoprov file"}));
}

TEST_F(MainFile, FileSettingWithoutTerminatorIsReadTo128Characters) {
    std::memset(settings->autoprov_file, 'p', sizeof settings->autoprov_file);
    std::string name(128, 'p');
    available = {name};
    pass();
    EXPECT_EQ(recorded_events(),
              (events{"Cfgwatch looking for " + name + " at http://10.0.0.1",
                      "fetch " + name + " from http://10.0.0.1", compared(name)}));
}

TEST_F(MainFile, EmptyServerTextIsPassedOn) {
    available = {"001a2b3c4d5e.xml"};
    pass("");
    EXPECT_EQ(recorded_events(),
              (events{"Cfgwatch looking for 001a2b3c4d5e.xml at ", "fetch 001a2b3c4d5e.xml from ",
                      compared("001a2b3c4d5e.xml")}));
}

TEST_F(MainFile, PrefixModeOverTftpRefusesBothNamesBeforeRunningAnything) {
    // The real fetch: both names hold a '/', so neither reaches the client.
    set_text(settings->autoprov_file, "cfg/");
    settings->autoprov_use_tftp = 1;
    run_provisioning_pass(settings.get(), "127.0.0.1");
    EXPECT_EQ(recorded_events(), (events{"Cfgwatch looking for cfg//001a2b3c4d5e.xml at 127.0.0.1",
                                         "Cfgwatch error: Invalid filename\n",
                                         "Cfgwatch looking for cfg//000000ef.xml at 127.0.0.1",
                                         "Cfgwatch error: Invalid filename\n"}));
}
