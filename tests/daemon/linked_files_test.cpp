// The second half of a provisioning pass: the files that the main file
// lists in its AutoprovFile elements. The fetch is a pretend server that
// stores downloads in a scratch directory (or, where the names themselves
// are under test, the real fetch against a loopback HTTP server); the
// comparison and the XML library are the real ones.
#include "daemon/compare.h"
#include "daemon/fetch.h"
#include "daemon/linked_files.h"
#include "daemon/provisioning_pass.h"
#include "support/http_server.h"
#include "support/log_recorder.h"
#include "support/settings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using events = std::vector<std::string>;

const std::string server = "http://127.0.0.1:9";
const std::string main_name = "001a2b3c4d5e.xml";
const std::string unchanged = "Cfgwatch: no changes found.";
const std::string different =
    "Cfgwatch: The new autoprovisioning file is different. Rebooting device.";
const std::string could_not_parse = "Cfgwatch error: could not parse autoprov file";
const std::string invalid_filename = "Cfgwatch error: Invalid filename\n";

// The pretend server: remote name -> content.
std::map<std::string, std::string> served;
// Remote names whose download the fetch stores under another base name.
std::map<std::string, std::string> stored_as;
// Remote names the fetch reports as stored although no file is there.
std::set<std::string> reported_missing;
// Base names of downloads that disappear right after their comparison.
std::set<std::string> gone_after_compare;
std::unique_ptr<temp_dir> downloads;
std::unique_ptr<temp_dir> applied;
// The real fetch into the scratch directory, for the tests of names.
bool use_real_fetch = false;

std::string base_of(const std::string &name) {
    return name.substr(name.rfind('/') + 1);
}

bool pretend_fetch(const nvcfg *record, const char *name, const char *server_text,
                   char (&local_path)[LOCAL_PATH_CAPACITY]) {
    if (use_real_fetch) {
        return fetch_file_using(record, name, server_text, downloads->path().c_str(), local_path);
    }
    recorded_events().push_back("fetch " + std::string(name));
    auto file = served.find(name);
    if (file == served.end()) {
        return false;
    }
    auto other = stored_as.find(name);
    std::string base = other != stored_as.end() ? other->second : base_of(name);
    std::string path = downloads->file(base);
    if (reported_missing.count(name) == 0) {
        downloads->write(base, file->second);
    }
    std::snprintf(local_path, sizeof local_path, "%s", path.c_str());
    return true;
}

void compare_with_scratch_copies(const char *local_path) {
    std::string path = local_path;
    std::string inside = downloads->path() + "/";
    recorded_events().push_back("compare " +
                                (path.rfind(inside, 0) == 0 ? path.substr(inside.size()) : path));
    compare_with_applied_using(local_path, applied->path().c_str());
    if (gone_after_compare.count(base_of(path)) != 0) {
        std::remove(local_path);
    }
}

const pass_steps steps{pretend_fetch, compare_with_scratch_copies};

std::string looking(const std::string &name, const std::string &at = server) {
    return "Cfgwatch: Looking for \"" + name + "\" at \"" + at + "\".";
}

std::string not_found(const std::string &name) {
    return "\"" + name + "\" File not found.";
}

// What a listed file that is there and unchanged leaves in the log.
events handled_unchanged(const std::string &name) {
    return {looking(name), "fetch " + name, "compare " + base_of(name), unchanged};
}

events missing(const std::string &name) {
    return {looking(name), "fetch " + name, not_found(name)};
}

std::string entries(const std::vector<std::string> &names) {
    std::string out;
    for (const auto &name : names) {
        out += "<AutoprovFile>" + name + "</AutoprovFile>";
    }
    return out;
}

std::string config_with(const std::string &misc_settings) {
    return "<config><MiscSettings>" + misc_settings + "</MiscSettings></config>\n";
}

class LinkedFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        clear_recorded_events();
        served.clear();
        stored_as.clear();
        reported_missing.clear();
        gone_after_compare.clear();
        use_real_fetch = false;
        downloads = std::make_unique<temp_dir>();
        applied = std::make_unique<temp_dir>();
        const uint8_t mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
        std::memcpy(settings->mac_address, mac, sizeof mac);
    }

    void TearDown() override {
        downloads.reset();
        applied.reset();
    }

    // Served and applied alike.
    void serve_unchanged(const std::string &name, const std::string &content) {
        served[name] = content;
        applied->write(base_of(name), content);
    }

    void serve_main(const std::string &content) { serve_unchanged(main_name, content); }

    void pass(const std::string &server_text = server) {
        run_provisioning_pass_using(settings.get(), server_text.c_str(), steps);
    }

    // The main file in default mode, found unchanged.
    events main_unchanged(const std::string &at = server) {
        return {"Cfgwatch looking for " + main_name + " at " + at, "fetch " + main_name,
                "compare " + main_name, unchanged};
    }

    std::unique_ptr<nvcfg> settings = blank_settings();
};

events operator+(events a, const events &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST_F(LinkedFiles, ListedFilesAreFetchedComparedAndParsedInOrder) {
    serve_main(config_with(entries({"a.xml", "b.xml"})));
    serve_unchanged("a.xml", "<a/>");
    serve_unchanged("b.xml", "<b/>");
    pass();
    EXPECT_EQ(recorded_events(),
              main_unchanged() + handled_unchanged("a.xml") + handled_unchanged("b.xml"));
}

TEST_F(LinkedFiles, OnlyTheFirstTwentyOfTwentyFiveEntriesAreHandled) {
    std::vector<std::string> names;
    events expected = main_unchanged();
    for (int i = 1; i <= 25; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%02d.xml", i);
        names.push_back(name);
        serve_unchanged(name, "<f/>");
        if (i <= LINKED_FILES_LIMIT) {
            expected = expected + handled_unchanged(name);
        }
    }
    serve_main(config_with(entries(names)));
    pass();
    EXPECT_EQ(recorded_events(), expected);
}

TEST_F(LinkedFiles, EntriesCountTowardsTheLimitWhetherOrNotTheyAreFound) {
    std::vector<std::string> names;
    events expected = main_unchanged();
    for (int i = 1; i <= 21; ++i) {
        names.push_back("missing" + std::to_string(i) + ".xml");
        if (i <= LINKED_FILES_LIMIT) {
            expected = expected + missing(names.back());
        }
    }
    serve_main(config_with(entries(names)));
    pass();
    EXPECT_EQ(recorded_events(), expected);
}

TEST_F(LinkedFiles, OnlyEntriesOfTheFirstMiscSettingsAreHandled) {
    // Entries separated by other elements all count, in document order;
    // a second MiscSettings and entries elsewhere in the file do not.
    serve_main("<config><AutoprovFile>root.xml</AutoprovFile>"
               "<MiscSettings><Volume>3</Volume><AutoprovFile>a.xml</AutoprovFile>"
               "<Other><AutoprovFile>nested.xml</AutoprovFile></Other>"
               "<AutoprovFile>b.xml</AutoprovFile>text<Tone/>"
               "<AutoprovFile>c.xml</AutoprovFile></MiscSettings>"
               "<MiscSettings><AutoprovFile>second.xml</AutoprovFile></MiscSettings>"
               "</config>");
    for (const char *name : {"root.xml", "a.xml", "nested.xml", "b.xml", "c.xml", "second.xml"}) {
        serve_unchanged(name, "<x/>");
    }
    pass();
    EXPECT_EQ(recorded_events(), main_unchanged() + handled_unchanged("a.xml") +
                                     handled_unchanged("b.xml") + handled_unchanged("c.xml"));
}

TEST_F(LinkedFiles, ListedFilesOwnListsAreNotFollowed) {
    serve_main(config_with(entries({"a.xml"})));
    serve_unchanged("a.xml", config_with(entries({"deeper.xml"})));
    serve_unchanged("deeper.xml", "<x/>");
    pass();
    EXPECT_EQ(recorded_events(), main_unchanged() + handled_unchanged("a.xml"));
}

TEST_F(LinkedFiles, MainFileWithoutAListIsOnlyCompared) {
    for (const std::string &content : std::vector<std::string>{
             "<config><Other><AutoprovFile>a.xml</AutoprovFile></Other></config>",
             "<config><MiscSettings/></config>", "<config/>",
             // Only a MiscSettings right under the root counts.
             "<config><a><MiscSettings>" + entries({"a.xml"}) + "</MiscSettings></a></config>"}) {
        SCOPED_TRACE(content);
        clear_recorded_events();
        serve_main(content);
        serve_unchanged("a.xml", "<a/>");
        pass();
        EXPECT_EQ(recorded_events(), main_unchanged());
    }
}

TEST_F(LinkedFiles, MainFileThatDoesNotParseIsNeitherComparedNorFollowed) {
    // A portal's page or a body cut short differs from the applied copy, and
    // would otherwise ask for a restart on every check.
    for (const std::string &content : std::vector<std::string>{
             "<config></wrong><MiscSettings>" + entries({"a.xml"}) + "</MiscSettings></config>",
             "<config><a x='1></a><MiscSettings>" + entries({"a.xml"}) + "</MiscSettings></config>",
             "<config><MiscSettings>" + entries({"a.xml"}) + "<Bad </MiscSettings></config>",
             "<config><MiscSettings>" + entries({"a.xml"}),
             "<!DOCTYPE html><html><head><meta charset=utf-8><title>Sign in</title></head>"
             "<body><p>Please log in<br></body></html>",
             "no markup at all", ""}) {
        SCOPED_TRACE(content);
        clear_recorded_events();
        served[main_name] = content;
        applied->write(main_name, "<config/>");
        serve_unchanged("a.xml", "<a/>");
        pass();
        EXPECT_EQ(recorded_events(), (events{"Cfgwatch looking for " + main_name + " at " + server,
                                             "fetch " + main_name, could_not_parse}));
    }
}

TEST_F(LinkedFiles, FirstMacTokenIsReplacedInTheRequestAndTheStoredName) {
    serve_main(config_with(
        entries({"[macaddress]-extra.xml", "[macaddress][macaddress].xml",
                 "dir-[macaddress]/[macaddress].xml", "[MACADDRESS].xml", "[macaddress"})));
    serve_unchanged("001a2b3c4d5e-extra.xml", "<a/>");
    serve_unchanged("001a2b3c4d5e[macaddress].xml", "<b/>");
    serve_unchanged("dir-001a2b3c4d5e/[macaddress].xml", "<c/>");
    pass();
    EXPECT_EQ(recorded_events(), main_unchanged() + handled_unchanged("001a2b3c4d5e-extra.xml") +
                                     handled_unchanged("001a2b3c4d5e[macaddress].xml") +
                                     handled_unchanged("dir-001a2b3c4d5e/[macaddress].xml") +
                                     missing("[MACADDRESS].xml") + missing("[macaddress"));
}

TEST_F(LinkedFiles, TokenReplacementKeepsTheRestOfTheTextInPlace) {
    const char *mac = "001a2b3c4d5e";
    for (const auto &[before, after] : std::vector<std::pair<std::string, std::string>>{
             {"[macaddress]", "001a2b3c4d5e"},
             {"x[macaddress]y", "x001a2b3c4d5ey"},
             {"[macaddress][macaddress]", "001a2b3c4d5e[macaddress]"},
             {"[macaddres]", "[macaddres]"},
             {"", ""}}) {
        // Exactly as long as the text: a write past its end shows under the
        // address sanitizer.
        std::vector<char> text(before.begin(), before.end());
        text.push_back('\0');
        replace_mac_token(text.data(), mac);
        EXPECT_EQ(std::string(text.data()), after);
        EXPECT_EQ(text.size(), before.size() + 1);
    }
}

TEST_F(LinkedFiles, PrefixModeJoinsPrefixAndTextWithoutASlash) {
    set_text(settings->autoprov_file, "cfg/");
    served["cfg//" + main_name] = config_with(entries({"x.xml", "/y.xml", "sub/z.xml"}));
    applied->write(main_name, served["cfg//" + main_name]);
    serve_unchanged("cfg/x.xml", "<x/>");
    serve_unchanged("cfg//y.xml", "<y/>");
    serve_unchanged("cfg/sub/z.xml", "<z/>");
    pass();
    EXPECT_EQ(recorded_events(),
              (events{"Cfgwatch looking for cfg//" + main_name + " at " + server,
                      "fetch cfg//" + main_name, "compare " + main_name, unchanged}) +
                  handled_unchanged("cfg/x.xml") + handled_unchanged("cfg//y.xml") +
                  handled_unchanged("cfg/sub/z.xml"));
}

TEST_F(LinkedFiles, NamedFileModeAsksForTheTextAlone) {
    set_text(settings->autoprov_file, "dir/prov.xml");
    served["dir/prov.xml"] = config_with(entries({"x.xml"}));
    applied->write("prov.xml", served["dir/prov.xml"]);
    serve_unchanged("x.xml", "<x/>");
    pass();
    EXPECT_EQ(recorded_events(), (events{"Cfgwatch looking for dir/prov.xml at " + server,
                                         "fetch dir/prov.xml", "compare prov.xml", unchanged}) +
                                     handled_unchanged("x.xml"));
}

TEST_F(LinkedFiles, MissingFileIsReportedAndTheWalkGoesOn) {
    serve_main(config_with(entries({"gone.xml", "b.xml"})));
    serve_unchanged("b.xml", "<b/>");
    pass();
    EXPECT_EQ(recorded_events(),
              main_unchanged() + missing("gone.xml") + handled_unchanged("b.xml"));
}

TEST_F(LinkedFiles, ChangedListedFileRequestsResetBeforeTheNextEntryIsFetched) {
    serve_main(config_with(entries({"a.xml", "b.xml"})));
    served["a.xml"] = "<a>2</a>";
    applied->write("a.xml", "<a>1</a>");
    serve_unchanged("b.xml", "<b/>");
    pass();
    EXPECT_EQ(recorded_events(), main_unchanged() +
                                     (events{looking("a.xml"), "fetch a.xml", "compare a.xml",
                                             different, reset_event}) +
                                     handled_unchanged("b.xml"));
}

TEST_F(LinkedFiles, ListedFileWithoutAppliedCopyCountsAsChanged) {
    serve_main(config_with(entries({"new.xml"})));
    served["new.xml"] = "<n/>";
    pass();
    EXPECT_EQ(
        recorded_events(),
        main_unchanged() +
            (events{looking("new.xml"), "fetch new.xml", "compare new.xml",
                    "Cfgwatch failed to open " + applied->file("new.xml") + "...", reset_event}));
}

TEST_F(LinkedFiles, ChangedMainFileStillHasItsListWalked) {
    served[main_name] = config_with(entries({"a.xml"}));
    applied->write(main_name, config_with(""));
    serve_unchanged("a.xml", "<a/>");
    pass();
    EXPECT_EQ(recorded_events(),
              (events{"Cfgwatch looking for " + main_name + " at " + server, "fetch " + main_name,
                      "compare " + main_name, different, reset_event}) +
                  handled_unchanged("a.xml"));
}

TEST_F(LinkedFiles, ListedFileThatIsNotXmlIsSkippedWithoutComparison) {
    serve_main(config_with(entries({"junk.xml", "empty.xml", "cut.xml", "b.xml"})));
    served["junk.xml"] = "this is \x01 not <<< XML &&&";
    served["empty.xml"] = "";
    served["cut.xml"] = "<phone><line>1</line><li";
    for (const char *name : {"junk.xml", "empty.xml", "cut.xml"}) {
        applied->write(name, "<x/>");
    }
    serve_unchanged("b.xml", "<b/>");
    pass();
    events expected = main_unchanged();
    for (const char *name : {"junk.xml", "empty.xml", "cut.xml"}) {
        expected = expected + events{looking(name), "fetch " + std::string(name), could_not_parse};
    }
    EXPECT_EQ(recorded_events(), expected + handled_unchanged("b.xml"));
}

TEST_F(LinkedFiles, ListedFileThatCannotBeLoadedIsSkippedWithoutComparison) {
    serve_main(config_with(entries({"a.xml", "b.xml"})));
    served["a.xml"] = "<a/>";
    reported_missing.insert("a.xml");
    serve_unchanged("b.xml", "<b/>");
    pass();
    EXPECT_EQ(recorded_events(), main_unchanged() +
                                     (events{looking("a.xml"), "fetch a.xml", could_not_parse}) +
                                     handled_unchanged("b.xml"));
}

TEST_F(LinkedFiles, ListedFileGoneAfterItsComparisonEndsThePass) {
    serve_main(config_with(entries({"a.xml", "b.xml"})));
    serve_unchanged("a.xml", "<a/>");
    serve_unchanged("b.xml", "<b/>");
    gone_after_compare.insert("a.xml");
    pass();
    EXPECT_EQ(recorded_events(),
              main_unchanged() + handled_unchanged("a.xml") + (events{could_not_parse}));
}

TEST_F(LinkedFiles, MainFileIsParsedOnceBeforeItsComparison) {
    // Its list is read from that parse, so a download gone after the
    // comparison still has its entries handled.
    serve_main(config_with(entries({"a.xml"})));
    serve_unchanged("a.xml", "<a/>");
    gone_after_compare.insert(main_name);
    pass();
    EXPECT_EQ(recorded_events(), main_unchanged() + handled_unchanged("a.xml"));
}

TEST_F(LinkedFiles, MainFileThatCannotBeLoadedIsNotCompared) {
    serve_main(config_with(entries({"a.xml"})));
    reported_missing.insert(main_name);
    pass();
    EXPECT_EQ(recorded_events(), (events{"Cfgwatch looking for " + main_name + " at " + server,
                                         "fetch " + main_name, could_not_parse}));
}

TEST_F(LinkedFiles, TheFileTheFetchStoredIsTheOneComparedAndParsed) {
    // The stored name may differ from the text's last component; the pass
    // reads what the fetch wrote, never a path of its own making.
    serve_main(config_with(entries({"a.xml"})));
    served["a.xml"] = "<a/>";
    stored_as["a.xml"] = "stored-elsewhere.xml";
    applied->write("stored-elsewhere.xml", "<a/>");
    stored_as[main_name] = "main-stored.xml";
    applied->write("main-stored.xml", served[main_name]);
    pass();
    EXPECT_EQ(recorded_events(),
              (events{"Cfgwatch looking for " + main_name + " at " + server, "fetch " + main_name,
                      "compare main-stored.xml", unchanged, looking("a.xml"), "fetch a.xml",
                      "compare stored-elsewhere.xml", unchanged}));
}

TEST_F(LinkedFiles, NameTooLongForTheRemoteNameIsRefusedNotCut) {
    // Cut short, the name could ask for some other file; the next entry is
    // still handled.
    std::string long_name = std::string(600, 'n') + ".xml";
    std::string cut = long_name.substr(0, REMOTE_NAME_CAPACITY - 1);
    serve_main(config_with(entries({long_name, "b.xml"})));
    served[cut] = "<cut/>";
    serve_unchanged("b.xml", "<b/>");
    pass();
    EXPECT_EQ(recorded_events(), main_unchanged() +
                                     (events{looking(cut), invalid_filename, not_found(cut)}) +
                                     handled_unchanged("b.xml"));
}

TEST_F(LinkedFiles, PrefixAndTextTogetherTooLongAreRefused) {
    set_text(settings->autoprov_file, std::string(100, 'p') + "/");
    std::string prefix = std::string(100, 'p') + "/";
    std::string text = std::string(420, 't');
    std::string cut = (prefix + text).substr(0, REMOTE_NAME_CAPACITY - 1);
    served[prefix + "/" + main_name] = config_with(entries({text}));
    applied->write(main_name, served[prefix + "/" + main_name]);
    pass();
    events seen = recorded_events();
    ASSERT_EQ(seen.size(), 7u);
    EXPECT_EQ((events{seen.begin() + 4, seen.end()}),
              (events{looking(cut), invalid_filename, not_found(cut)}));
}

// The real fetch, so that the names are judged and stored exactly as they
// are on the device.
class LinkedNames : public LinkedFiles {
  protected:
    void SetUp() override {
        LinkedFiles::SetUp();
        use_real_fetch = true;
        keep_wget_on_loopback(downloads->path() + "/wgetrc");
        http = std::make_unique<http_server>([](const http_request &request) {
            std::string name = request.target.substr(1);
            auto file = served.find(name);
            return file == served.end() ? http_not_found() : http_ok(file->second);
        });
    }

    void TearDown() override {
        http.reset();
        LinkedFiles::TearDown();
    }

    std::vector<std::string> targets() const {
        std::vector<std::string> out;
        for (const auto &request : http->requests()) {
            out.push_back(request.target);
        }
        return out;
    }

    std::unique_ptr<http_server> http;
};

TEST_F(LinkedNames, EmptyTextInPrefixModeIsRefused) {
    // The name would be the prefix itself, a directory: nothing to store.
    set_text(settings->autoprov_file, "cfg/");
    served["cfg//" + main_name] = config_with(entries({"", "b.xml"}));
    applied->write(main_name, served["cfg//" + main_name]);
    serve_unchanged("cfg/b.xml", "<b/>");
    pass(http->url());
    EXPECT_EQ(
        recorded_events(),
        (events{"Cfgwatch looking for cfg//" + main_name + " at " + http->url(),
                "compare " + main_name, unchanged, looking("cfg/", http->url()), invalid_filename,
                not_found("cfg/"), looking("cfg/b.xml", http->url()), "compare b.xml", unchanged}));
    EXPECT_EQ(targets(), (std::vector<std::string>{"/cfg//" + main_name, "/cfg/b.xml"}));
}

TEST_F(LinkedNames, NamesThatLeaveTheDirectoryAreStoredInsideIt) {
    serve_main(config_with(entries({"../up.xml", "a/../../etc/passwd", "..", "sub/", "-O.xml"})));
    // wget takes the dot segments out of the URL, as a browser would.
    serve_unchanged("up.xml", "<u/>");
    serve_unchanged("etc/passwd", "<p/>");
    serve_unchanged("-O.xml", "<o/>");
    pass(http->url());
    const std::string at = http->url();
    EXPECT_EQ(
        recorded_events(),
        (events{"Cfgwatch looking for " + main_name + " at " + at, "compare " + main_name,
                unchanged, looking("../up.xml", at), "compare up.xml", unchanged,
                looking("a/../../etc/passwd", at), "compare passwd", unchanged, looking("..", at),
                invalid_filename, not_found(".."), looking("sub/", at), invalid_filename,
                not_found("sub/"), looking("-O.xml", at), "compare -O.xml", unchanged}));
    EXPECT_TRUE(file_exists(downloads->file("up.xml")));
    EXPECT_TRUE(file_exists(downloads->file("passwd")));
    EXPECT_TRUE(file_exists(downloads->file("-O.xml")));
    EXPECT_FALSE(file_exists(downloads->path() + "/../up.xml"));
    EXPECT_EQ(targets(),
              (std::vector<std::string>{"/" + main_name, "/up.xml", "/etc/passwd", "/-O.xml"}));
}

TEST_F(LinkedNames, NameWhoseStoredPathWouldNotFitIsRefused) {
    // Short enough for the remote name, too long for the download's path.
    std::string long_base = std::string(300, 'l') + ".xml";
    serve_main(config_with(entries({long_base, "b.xml"})));
    served[long_base] = "<l/>";
    serve_unchanged("b.xml", "<b/>");
    const std::string at = http->url();
    pass(at);
    EXPECT_EQ(recorded_events(),
              (events{"Cfgwatch looking for " + main_name + " at " + at, "compare " + main_name,
                      unchanged, looking(long_base, at), invalid_filename, not_found(long_base),
                      looking("b.xml", at), "compare b.xml", unchanged}));
}

TEST_F(LinkedFiles, DocumentsPastTheParseBudgetAreNeitherComparedNorFollowed) {
    // Millions of tiny elements would take far more memory than their bytes:
    // the parse stops at its budget, and the file counts as not parsing.
    std::string dense = "<r>";
    while (dense.size() < (8u << 20) - 8) {
        dense += "<a/>";
    }
    dense += "</r>";
    served[main_name] = config_with(entries({"dense.xml", "b.xml"})) + "<!--" + dense + "-->";
    applied->write(main_name, served[main_name]);
    served["dense.xml"] = dense;
    applied->write("dense.xml", "<r/>");
    serve_unchanged("b.xml", "<b/>");
    pass();
    EXPECT_EQ(recorded_events(),
              main_unchanged() +
                  (events{looking("dense.xml"), "fetch dense.xml", could_not_parse}) +
                  handled_unchanged("b.xml"));

    clear_recorded_events();
    served[main_name] = dense;
    pass();
    EXPECT_EQ(recorded_events(), (events{"Cfgwatch looking for " + main_name + " at " + server,
                                         "fetch " + main_name, could_not_parse}));
}
