// Fetching over TFTP with the real client script from tftpd-hpa on
// 127.0.0.1.
#include "daemon/fetch.h"

#include "support/log_recorder.h"
#include "support/settings.h"
#include "support/temp_dir.h"
#include "support/tftp_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using events = std::vector<std::string>;

class TftpFetch : public ::testing::Test {
  protected:
    void SetUp() override {
        clear_recorded_events();
        if (access(TFTP_CLIENT_DIRECTORY "/minimumTFTP.py", X_OK) != 0) {
            GTEST_SKIP() << "no TFTP client script in " TFTP_CLIENT_DIRECTORY;
        }
        // The server drops its privileges, so it must be able to read here.
        ASSERT_EQ(chmod(root.path().c_str(), 0755), 0);
        ASSERT_EQ(mkdir(served.c_str(), 0755), 0);
        saved_path = getenv("PATH");
        setenv("PATH", (std::string(TFTP_CLIENT_DIRECTORY) + ":" + saved_path).c_str(), 1);
        settings->autoprov_use_tftp = 1;
    }

    void TearDown() override {
        if (!saved_path.empty()) {
            setenv("PATH", saved_path.c_str(), 1);
        }
    }

    void serve(const std::string &name, const std::string &content) {
        std::string path = root.write("srv/" + name, content);
        ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    }

    bool fetch(const std::string &name, const std::string &server) {
        char local_path[LOCAL_PATH_CAPACITY];
        return fetch_file_using(settings.get(), name.c_str(), server.c_str(), downloads.c_str(),
                                local_path);
    }

    temp_dir root;
    std::string served = root.file("srv");
    std::string downloads = root.file("new");
    std::string saved_path;
    std::unique_ptr<nvcfg> settings = blank_settings();
};

} // namespace

TEST_F(TftpFetch, DownloadsTheNamedFileIntoTheDirectory) {
    std::string content;
    for (int i = 0; i < 3000; ++i) {
        content += static_cast<char>('a' + i % 26);
    }
    serve("001a2b3c4d5e.xml", content);
    tftp_server server(served);
    ASSERT_TRUE(server.started());
    EXPECT_TRUE(fetch("001a2b3c4d5e.xml", server.address()));
    EXPECT_EQ(read_file(downloads + "/001a2b3c4d5e.xml"), content);
    EXPECT_EQ(recorded_events(), events{});
}

TEST_F(TftpFetch, MissingFileIsAFailedCall) {
    tftp_server server(served);
    ASSERT_TRUE(server.started());
    EXPECT_FALSE(fetch("000000ef.xml", server.address()));
    EXPECT_EQ(recorded_events(), events{"Cfgwatch error: TFTP call failed\n"});
    EXPECT_FALSE(file_exists(downloads + "/000000ef.xml"));
}
