// Loading documents from a path, a descriptor and a stream.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/chain_check.h"
#include "xml/ezxml.h"

namespace {

class LoadTest : public ::testing::Test {
  protected:
    std::string dir;

    void SetUp() override {
        char pattern[] = "/tmp/ezxml-load-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::string command = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }

    std::string write_file(const std::string &name, const std::string &content) {
        std::string path = dir + "/" + name;
        FILE *f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        EXPECT_EQ(fwrite(content.data(), 1, content.size(), f), content.size());
        fclose(f);
        return path;
    }
};

ezxml_document *as_document(ezxml *root) {
    return reinterpret_cast<ezxml_document *>(root);
}

// A document of exactly `size` bytes whose root text is all the padding.
std::string document_of_size(size_t size) {
    const std::string head = "<doc>", tail = "</doc>";
    std::string padding;
    for (size_t i = 0; padding.size() < size - head.size() - tail.size(); ++i) {
        padding += static_cast<char>('a' + i % 26);
    }
    return head + padding + tail;
}

void expect_whole(ezxml *root, const std::string &content) {
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(ezxml_error(root), "");
    EXPECT_STREQ(root->name, "doc");
    EXPECT_EQ(std::string(root->text), content.substr(5, content.size() - 11));
    EXPECT_EQ(as_document(root)->source_length, static_cast<size_t>(-1));
    EXPECT_NE(as_document(root)->source, nullptr);
    EXPECT_EQ(check_tree(root), "");
}

TEST_F(LoadTest, FileByPath) {
    std::string path = write_file("a.xml", "<r>\n  <a x='1'>t</a>\n</r>\n");
    ezxml *root = ezxml_parse_file(path.c_str());
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(ezxml_error(root), "");
    EXPECT_STREQ(ezxml_attr(ezxml_child(root, "a"), "x"), "1");
    EXPECT_EQ(as_document(root)->source_length, static_cast<size_t>(-1));
    ezxml_free(root);
}

TEST_F(LoadTest, MissingPathAndNegativeDescriptorGiveNull) {
    EXPECT_EQ(ezxml_parse_file((dir + "/missing.xml").c_str()), nullptr);
    EXPECT_EQ(ezxml_parse_file(nullptr), nullptr);
    EXPECT_EQ(ezxml_parse_fd(-1), nullptr);
    EXPECT_EQ(ezxml_parse_fp(nullptr), nullptr);
}

TEST_F(LoadTest, EmptyFileIsRootTagMissing) {
    std::string path = write_file("empty.xml", "");
    ezxml *root = ezxml_parse_file(path.c_str());
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(ezxml_error(root), "[error near line 1]: root tag missing");
    ezxml_free(root);
    FILE *f = fopen(path.c_str(), "rb");
    root = ezxml_parse_fp(f);
    fclose(f);
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(ezxml_error(root), "[error near line 1]: root tag missing");
    ezxml_free(root);
}

TEST_F(LoadTest, SizesAroundTheReadChunk) {
    for (size_t size : {12u, 8191u, 8192u, 8193u, 16383u, 16384u, 16385u, 100000u}) {
        std::string content = document_of_size(size);
        ASSERT_EQ(content.size(), size);
        std::string path = write_file("s.xml", content);

        ezxml *by_path = ezxml_parse_file(path.c_str());
        expect_whole(by_path, content);
        ezxml_free(by_path);

        int fd = open(path.c_str(), O_RDONLY);
        ezxml *by_fd = ezxml_parse_fd(fd);
        expect_whole(by_fd, content);
        ezxml_free(by_fd);
        EXPECT_EQ(fcntl(fd, F_GETFD), 0) << "descriptor closed by the loader";
        close(fd);

        FILE *f = fopen(path.c_str(), "rb");
        ezxml *by_stream = ezxml_parse_fp(f);
        expect_whole(by_stream, content);
        ezxml_free(by_stream);
        EXPECT_EQ(fgetc(f), EOF) << "stream not read to its end";
        EXPECT_EQ(fclose(f), 0) << "stream closed by the loader";
    }
}

TEST_F(LoadTest, DescriptorIsReadFromItsPosition) {
    std::string path = write_file("p.xml", "skip<r>x</r>");
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(lseek(fd, 4, SEEK_SET), 4);
    ezxml *root = ezxml_parse_fd(fd);
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(ezxml_error(root), "");
    EXPECT_STREQ(root->text, "x");
    ezxml_free(root);
    close(fd);
}

// Feeds content into a pipe from another thread (the pipe holds less than
// the larger documents).
struct pipe_feed {
    int fds[2];
    std::thread writer;
    explicit pipe_feed(const std::string &content) {
        EXPECT_EQ(pipe(fds), 0);
        writer = std::thread([this, content] {
            size_t done = 0;
            while (done < content.size()) {
                ssize_t n = write(fds[1], content.data() + done, content.size() - done);
                if (n <= 0) {
                    break;
                }
                done += static_cast<size_t>(n);
            }
            close(fds[1]);
        });
    }
    ~pipe_feed() {
        writer.join();
        close(fds[0]);
    }
};

TEST_F(LoadTest, PipeAsDescriptor) {
    for (size_t size : {100u, 8192u, 200000u}) {
        std::string content = document_of_size(size);
        pipe_feed feed(content);
        ezxml *root = ezxml_parse_fd(feed.fds[0]);
        // A pipe cannot be measured first: the whole of it is read anyway.
        ASSERT_NE(root, nullptr) << size << " bytes";
        EXPECT_EQ(std::string(root->text).size(), content.size() - 11) << size << " bytes";
        expect_whole(root, content);
        ezxml_free(root);
    }
}

TEST_F(LoadTest, PipeAsStream) {
    for (size_t size : {100u, 8192u, 200000u}) {
        std::string content = document_of_size(size);
        pipe_feed feed(content);
        FILE *f = fdopen(dup(feed.fds[0]), "rb");
        ASSERT_NE(f, nullptr);
        ezxml *root = ezxml_parse_fp(f);
        expect_whole(root, content);
        ezxml_free(root);
        fclose(f);
    }
}

TEST_F(LoadTest, FailedReadGivesNoDocument) {
    // A directory opens, has a size, and fails every read.
    int fd = open(dir.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ezxml_parse_fd(fd), nullptr);
    close(fd);
    EXPECT_EQ(ezxml_parse_file(dir.c_str()), nullptr);
    FILE *f = fopen(dir.c_str(), "r");
    if (f) {
        EXPECT_EQ(ezxml_parse_fp(f), nullptr);
        fclose(f);
    }
}

TEST_F(LoadTest, FileThatReportsNoSizeIsReadToItsEnd) {
    // Kernel files report a size of 0 and still have content.
    int fd = open("/proc/self/status", O_RDONLY);
    ASSERT_GE(fd, 0);
    struct stat status;
    ASSERT_EQ(fstat(fd, &status), 0);
    ASSERT_EQ(status.st_size, 0);
    ezxml *root = ezxml_parse_fd(fd);
    close(fd);
    ASSERT_NE(root, nullptr);
    // Not XML, but read whole: the parser saw lines of text and no markup,
    // and reports that at their end.
    std::string error = ezxml_error(root);
    EXPECT_NE(error.find("]: root tag missing"), std::string::npos) << error;
    EXPECT_NE(error, "[error near line 1]: root tag missing");
    auto *doc = reinterpret_cast<ezxml_document *>(root);
    EXPECT_GT(doc->work_end - doc->work_start, 20);
    ezxml_free(root);
}

TEST_F(LoadTest, WriteOnlyDescriptorGivesNoDocument) {
    std::string path = write_file("w.xml", "<r/>");
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ezxml_parse_fd(fd), nullptr);
    close(fd);
}

TEST_F(LoadTest, Utf16FileLoadsLikeUtf8) {
    std::string utf16 = std::string("\xFF\xFE", 2);
    for (char c : std::string("<r><a>\xE9</a></r>")) {
        utf16 += c;
        utf16 += '\0';
    }
    std::string path = write_file("u.xml", utf16);
    ezxml *root = ezxml_parse_file(path.c_str());
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(ezxml_error(root), "");
    EXPECT_STREQ(ezxml_child(root, "a")->text, "\xC3\xA9");
    ezxml_document *doc = as_document(root);
    ASSERT_NE(doc->utf8_copy, nullptr);
    // The loaded bytes stay untouched beside the converted copy.
    EXPECT_EQ(std::string(doc->source, utf16.size()), utf16);
    ezxml_free(root);
}

TEST_F(LoadTest, ParseErrorsStillReturnTheDocument) {
    std::string path = write_file("bad.xml", "<r>\n<a></b>\n</r>");
    ezxml *root = ezxml_parse_file(path.c_str());
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(ezxml_error(root), "[error near line 2]: unexpected closing tag </b>");
    ezxml_free(root);
}

} // namespace
