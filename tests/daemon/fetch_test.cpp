// Fetching with the real wget from an HTTP server on 127.0.0.1, and the
// refusals that stop a download before anything runs.
#include "daemon/fetch.h"

#include "support/http_server.h"
#include "support/log_recorder.h"
#include "support/settings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using events = std::vector<std::string>;

const std::string wget_failed = "Cfgwatch error: wget call failed\n";
const std::string invalid_filename = "Cfgwatch error: Invalid filename\n";
const std::string invalid_server = "Cfgwatch error: Invalid server\n";

std::string base64(const std::string &bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) {
            value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        }
        if (i + 2 < bytes.size()) {
            value |= static_cast<unsigned char>(bytes[i + 2]);
        }
        out += digits[(value >> 18) & 63];
        out += digits[(value >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(value >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[value & 63] : '=';
    }
    return out;
}

std::string basic(const std::string &user, const std::string &password) {
    return "Basic " + base64(user + ":" + password);
}

std::vector<std::string> targets(const http_server &server) {
    std::vector<std::string> out;
    for (const http_request &request : server.requests()) {
        out.push_back(request.target);
    }
    return out;
}

class Fetch : public ::testing::Test {
  protected:
    void SetUp() override {
        clear_recorded_events();
        keep_wget_on_loopback(root.path() + "/wgetrc");
    }

    bool fetch(const std::string &name, const std::string &server) {
        char local_path[LOCAL_PATH_CAPACITY];
        return fetch_file_using(settings.get(), name.c_str(), server.c_str(), downloads.c_str(),
                                local_path);
    }

    // Serves the files in `files` by request target; 404 for anything else.
    http_server serve_files() {
        return http_server([this](const http_request &request) {
            auto found = files.find(request.target);
            return found == files.end() ? http_not_found() : http_ok(found->second);
        });
    }

    temp_dir root;
    std::string downloads = root.file("new");
    std::unique_ptr<nvcfg> settings = blank_settings();
    std::map<std::string, std::string> files;
};

} // namespace

TEST_F(Fetch, DownloadsIntoACreatedDirectory) {
    files["/prov/001a2b3c4d5e.xml"] = "<cfg>1</cfg>\n";
    http_server server = serve_files();
    ASSERT_FALSE(file_exists(downloads));
    EXPECT_TRUE(fetch("001a2b3c4d5e.xml", server.url() + "/prov"));
    EXPECT_EQ(read_file(downloads + "/001a2b3c4d5e.xml"), "<cfg>1</cfg>\n");
    EXPECT_EQ(targets(server), (std::vector<std::string>{"/prov/001a2b3c4d5e.xml"}));
    EXPECT_EQ(recorded_events(), events{});
}

TEST_F(Fetch, WholeNameInTheUrlBaseNameLocally) {
    files["/cfg/a.xml"] = "<a/>";
    http_server server = serve_files();
    EXPECT_TRUE(fetch("cfg/a.xml", server.url()));
    EXPECT_EQ(read_file(downloads + "/a.xml"), "<a/>");
    EXPECT_EQ(targets(server), (std::vector<std::string>{"/cfg/a.xml"}));
}

TEST_F(Fetch, DoubleSlashOfThePrefixModeReachesTheServer) {
    files["/cfg//001a2b3c4d5e.xml"] = "<b/>";
    http_server server = serve_files();
    EXPECT_TRUE(fetch("cfg//001a2b3c4d5e.xml", server.url()));
    EXPECT_EQ(read_file(downloads + "/001a2b3c4d5e.xml"), "<b/>");
}

TEST_F(Fetch, OverwritesAnEarlierDownload) {
    files["/a.xml"] = "new";
    http_server server = serve_files();
    ASSERT_EQ(mkdir(downloads.c_str(), 0700), 0);
    root.write("new/a.xml", "old old old");
    EXPECT_TRUE(fetch("a.xml", server.url()));
    EXPECT_EQ(read_file(downloads + "/a.xml"), "new");
}

TEST_F(Fetch, MissingFileFailsAndLeavesNoLocalFile) {
    http_server server = serve_files();
    ASSERT_EQ(mkdir(downloads.c_str(), 0700), 0);
    root.write("new/a.xml", "stale");
    EXPECT_FALSE(fetch("a.xml", server.url()));
    EXPECT_EQ(recorded_events(), events{wget_failed});
    EXPECT_FALSE(file_exists(downloads + "/a.xml"));
}

TEST_F(Fetch, PartialDownloadIsDeleted) {
    http_server server(
        [](const http_request &) { return http_cut_short(std::string(100, 'p'), 100000); });
    EXPECT_FALSE(fetch("a.xml", server.url()));
    EXPECT_EQ(recorded_events(), events{wget_failed});
    EXPECT_FALSE(file_exists(downloads + "/a.xml"));
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(Fetch, CredentialsAreSentWhenAUserIsSet) {
    set_text(settings->autoprov_http_user, "phone");
    set_text(settings->autoprov_http_password, "pa55");
    http_server server([](const http_request &request) {
        return request.authorization == "Basic cGhvbmU6cGE1NQ==" ? http_ok("<secret/>")
                                                                 : http_unauthorized();
    });
    EXPECT_TRUE(fetch("a.xml", server.url()));
    EXPECT_EQ(read_file(downloads + "/a.xml"), "<secret/>");
    EXPECT_EQ(server.requests().back().authorization, "Basic cGhvbmU6cGE1NQ==");
    EXPECT_EQ(recorded_events(), events{});
}

TEST_F(Fetch, PasswordWithoutUserIsNeverSent) {
    set_text(settings->autoprov_http_password, "pa55");
    http_server server([](const http_request &request) {
        return request.authorization.empty() ? http_unauthorized() : http_ok("<leak/>");
    });
    EXPECT_FALSE(fetch("a.xml", server.url()));
    EXPECT_EQ(recorded_events(), events{wget_failed});
    for (const http_request &request : server.requests()) {
        EXPECT_EQ(request.authorization, "");
    }
}

TEST_F(Fetch, EveryPasswordWithoutControlCharactersOrOuterBlanksArrivesExactly) {
    // The longest password the record holds, made of every byte that is not
    // a control character, blanks, '#', '=', quotes and backslashes included.
    std::string password;
    while (password.size() < NVCFG_HTTP_PASSWORD_CAPACITY - 1) {
        for (int byte = 0x21; byte < 0x100 && password.size() < NVCFG_HTTP_PASSWORD_CAPACITY - 1;
             ++byte) {
            if (byte != 0x7f) {
                password += static_cast<char>(byte);
                password += ' ';
            }
        }
    }
    password.resize(NVCFG_HTTP_PASSWORD_CAPACITY - 1);
    if (password.back() == ' ') {
        password.back() = '#';
    }
    const std::string user = "ph one#=\"'\\\xc3\xa9";
    set_text(settings->autoprov_http_user, user);
    set_text(settings->autoprov_http_password, password);
    const std::string expected = basic(user, password);
    http_server server([&expected](const http_request &request) {
        return request.authorization == expected ? http_ok("<secret/>") : http_unauthorized();
    });
    EXPECT_TRUE(fetch("a.xml", server.url()));
    EXPECT_EQ(recorded_events(), events{});
    EXPECT_EQ(server.requests().back().authorization, expected);
}

TEST_F(Fetch, CredentialsThatWgetWouldChangeAreRefusedBeforeAnythingRuns) {
    http_server server([](const http_request &) { return http_ok("<x/>"); });
    const std::string refused_log = "Cfgwatch error: Invalid HTTP credentials\n";
    for (const char *password : {"line\nfeed", "tab\there", "cr\r", "\x7f", " lead", "trail "}) {
        set_text(settings->autoprov_http_user, "phone");
        set_text(settings->autoprov_http_password, password);
        clear_recorded_events();
        EXPECT_FALSE(fetch("a.xml", server.url())) << password;
        EXPECT_EQ(recorded_events(), events{refused_log}) << password;
    }
    set_text(settings->autoprov_http_user, "pho\nne");
    set_text(settings->autoprov_http_password, "pw");
    clear_recorded_events();
    EXPECT_FALSE(fetch("a.xml", server.url()));
    EXPECT_EQ(recorded_events(), events{refused_log});
    EXPECT_EQ(server.requests().size(), 0u);
}

TEST_F(Fetch, WithCredentialsARedirectionIsNotFollowed) {
    set_text(settings->autoprov_http_user, "phone");
    set_text(settings->autoprov_http_password, "pa55");
    http_server elsewhere([](const http_request &) { return http_unauthorized(); });
    const std::string location = elsewhere.url() + "/a.xml";
    http_server server([&location](const http_request &request) {
        if (request.authorization != "Basic cGhvbmU6cGE1NQ==") {
            return http_unauthorized();
        }
        return "HTTP/1.1 302 Found\r\nLocation: " + location +
               "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    });
    EXPECT_FALSE(fetch("a.xml", server.url()));
    EXPECT_EQ(recorded_events(), events{wget_failed});
    EXPECT_EQ(elsewhere.requests().size(), 0u);
    EXPECT_FALSE(file_exists(downloads + "/a.xml"));
}

TEST_F(Fetch, ShellMetacharactersInTheServerTextAreNotInterpreted) {
    const std::string marker = root.file("ran");
    http_server server([](const http_request &) { return http_ok("<x/>"); });
    const std::string server_text = server.url() + "/$(touch " + marker + ");touch${IFS}" + marker;
    fetch("a.xml", server_text);
    EXPECT_FALSE(file_exists(marker));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_NE(server.requests()[0].target.find("touch"), std::string::npos);
}

TEST_F(Fetch, ServerTextThatReadsAsAnOptionIsRefused) {
    for (const char *server : {"-e", "--execute=x", "-"}) {
        clear_recorded_events();
        EXPECT_FALSE(fetch("a.xml", server));
        EXPECT_EQ(recorded_events(), events{invalid_server}) << server;
    }
    settings->autoprov_use_tftp = 1;
    clear_recorded_events();
    EXPECT_FALSE(fetch("a.xml", "-x"));
    EXPECT_EQ(recorded_events(), events{invalid_server});
    EXPECT_FALSE(file_exists(downloads));
}

TEST_F(Fetch, NamesWithoutAFileOfTheirOwnAreRefusedBeforeAnythingRuns) {
    http_server server = serve_files();
    for (const char *name : {"", "cfg/", ".", "..", "x/..", "x/.", "/"}) {
        clear_recorded_events();
        EXPECT_FALSE(fetch(name, server.url())) << '"' << name << '"';
        EXPECT_EQ(recorded_events(), events{invalid_filename}) << '"' << name << '"';
    }
    EXPECT_EQ(server.requests().size(), 0u);
    EXPECT_FALSE(file_exists(downloads));
}

TEST_F(Fetch, LocalPathOver255CharactersIsRefusedNotCut) {
    http_server server = serve_files();
    const size_t room = 255 - (downloads.size() + 1);
    const std::string too_long(room + 1, 'f');
    EXPECT_FALSE(fetch("dir/" + too_long, server.url()));
    EXPECT_EQ(recorded_events(), events{invalid_filename});
    EXPECT_EQ(server.requests().size(), 0u);
}

TEST_F(Fetch, LocalPathOfExactly255CharactersFits) {
    // Over HTTP such a name makes the command line too long anyway; the TFTP
    // command line leaves room, so the next step shows: with no client on
    // PATH the call itself fails.
    settings->autoprov_use_tftp = 1;
    const size_t room = 255 - (downloads.size() + 1);
    const std::string saved = getenv("PATH");
    setenv("PATH", root.path().c_str(), 1);
    bool too_long = fetch(std::string(room + 1, 'f'), "127.0.0.1");
    events refused = recorded_events();
    clear_recorded_events();
    bool fits = fetch(std::string(room, 'f'), "127.0.0.1");
    setenv("PATH", saved.c_str(), 1);
    EXPECT_FALSE(too_long);
    EXPECT_EQ(refused, events{invalid_filename});
    EXPECT_FALSE(fits);
    EXPECT_EQ(recorded_events(), events{"Cfgwatch error: TFTP call failed\n"});
}

TEST_F(Fetch, OverLongCommandLineIsNotRun) {
    http_server server = serve_files();
    const std::string name = std::string(600, 'd') + "/a.xml";
    EXPECT_FALSE(fetch(name, server.url()));
    EXPECT_EQ(recorded_events(), events{wget_failed});
    EXPECT_EQ(server.requests().size(), 0u);
    EXPECT_FALSE(file_exists(downloads + "/a.xml"));
}

TEST_F(Fetch, TftpRefusesNamesWithDirectoriesOrOptionsBeforeAnythingRuns) {
    settings->autoprov_use_tftp = 1;
    for (const char *name :
         {"dir/0a1b2c3d4e5f.xml", "cfg//000000ef.xml", "-x.xml", "--help", "", ".", ".."}) {
        clear_recorded_events();
        EXPECT_FALSE(fetch(name, "127.0.0.1")) << '"' << name << '"';
        EXPECT_EQ(recorded_events(), events{invalid_filename}) << '"' << name << '"';
    }
    EXPECT_FALSE(file_exists(downloads));
}

TEST_F(Fetch, TftpOverLongCommandLineIsNotRun) {
    settings->autoprov_use_tftp = 1;
    // The local path fits its 255 characters, the command line does not.
    const std::string server(300, '1');
    EXPECT_FALSE(fetch("a.xml", server));
    EXPECT_EQ(recorded_events(), events{"Cfgwatch error: TFTP call failed\n"});
    EXPECT_FALSE(file_exists(downloads + "/a.xml"));
}

TEST_F(Fetch, TftpClientThatCannotBeStartedFails) {
    settings->autoprov_use_tftp = 1;
    const std::string saved = getenv("PATH");
    setenv("PATH", root.path().c_str(), 1);
    bool result = fetch("a.xml", "127.0.0.1");
    setenv("PATH", saved.c_str(), 1);
    EXPECT_FALSE(result);
    EXPECT_EQ(recorded_events(), events{"Cfgwatch error: TFTP call failed\n"});
}
