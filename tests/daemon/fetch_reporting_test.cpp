// The fetch tells its caller where it stored a download, so that the caller
// reads that very file.
#include "daemon/fetch.h"

#include "support/http_server.h"
#include "support/log_recorder.h"
#include "support/settings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

class FetchReportingPath : public ::testing::Test {
  protected:
    void SetUp() override {
        clear_recorded_events();
        keep_wget_on_loopback(root.path() + "/wgetrc");
    }

    bool fetch(const std::string &name, const std::string &server) {
        return fetch_file_using(settings.get(), name.c_str(), server.c_str(), downloads.c_str(),
                                local_path);
    }

    temp_dir root;
    std::string downloads = root.file("new");
    std::unique_ptr<nvcfg> settings = blank_settings();
    char local_path[LOCAL_PATH_CAPACITY] = "left over";
};

} // namespace

TEST_F(FetchReportingPath, ReportsTheBaseNameUnderTheDirectory) {
    http_server server([](const http_request &request) {
        return request.target == "/cfg/sub/a.xml" ? http_ok("<a/>") : http_not_found();
    });
    EXPECT_TRUE(fetch("cfg/sub/a.xml", server.url()));
    EXPECT_EQ(std::string(local_path), downloads + "/a.xml");
    EXPECT_EQ(read_file(local_path), "<a/>");
}

TEST_F(FetchReportingPath, RefusedNamesReportNoPath) {
    for (const std::string &name :
         {std::string("cfg/"), std::string(""), std::string(".."), std::string(300, 'x')}) {
        SCOPED_TRACE(name);
        std::snprintf(local_path, sizeof local_path, "left over");
        EXPECT_FALSE(fetch(name, "http://127.0.0.1:9"));
        EXPECT_EQ(std::string(local_path), "");
    }
    settings->autoprov_use_tftp = 1;
    std::snprintf(local_path, sizeof local_path, "left over");
    EXPECT_FALSE(fetch("dir/a.xml", "127.0.0.1:9"));
    EXPECT_EQ(std::string(local_path), "");
}

TEST_F(FetchReportingPath, NamesWithTheSameBaseNameAreStoredAlike) {
    http_server server([](const http_request &request) {
        return http_ok(request.target == "/x/b.xml" ? "<x/>" : "<y/>");
    });
    EXPECT_TRUE(fetch("x/b.xml", server.url()));
    EXPECT_EQ(std::string(local_path), downloads + "/b.xml");
    EXPECT_EQ(read_file(downloads + "/b.xml"), "<x/>");
    EXPECT_TRUE(fetch("y/b.xml", server.url()));
    EXPECT_EQ(std::string(local_path), downloads + "/b.xml");
    EXPECT_EQ(read_file(downloads + "/b.xml"), "<y/>");
}
