// Downloader argument vectors: the words of the command lines for plain
// texts, any text kept as one argument, and the 511-character limit; the
// credentials, which go to wget through a start-up file instead.
#include "daemon/download_commands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using words = std::vector<std::string>;

words words_of(const command_words &command) {
    words out;
    for (size_t i = 0; i < command.count; ++i) {
        out.push_back(command.argv[i]);
    }
    EXPECT_EQ(command.argv[command.count], nullptr);
    return out;
}

// What the shell would make of a command line without metacharacters.
words split(const std::string &line) {
    std::istringstream in(line);
    words out;
    for (std::string word; in >> word;) {
        out.push_back(word);
    }
    return out;
}

std::string format_line(const char *format, const std::vector<std::string> &texts) {
    char line[4096];
    switch (texts.size()) {
    case 2:
        std::snprintf(line, sizeof line, format, texts[0].c_str(), texts[1].c_str());
        break;
    case 3:
        std::snprintf(line, sizeof line, format, texts[0].c_str(), texts[1].c_str(),
                      texts[2].c_str());
        break;
    default:
        std::snprintf(line, sizeof line, format, texts[0].c_str(), texts[1].c_str(),
                      texts[2].c_str(), texts[3].c_str(), texts[4].c_str());
        break;
    }
    return line;
}

const char *tftp_format = "minimumTFTP.py -g %s /tmp/new %s";
const char *wget_format = "wget -q -T 10 --no-check-certificate --tries=1 %s/%s -O %s";
const char *wget_credentials_format = "wget -q -T 10 --no-check-certificate --tries=1 "
                                      "--config=/proc/self/fd/%s --max-redirect=0 %s/%s -O %s";

std::string read_descriptor(int fd) {
    std::string out;
    char buffer[256];
    ssize_t got = 0;
    off_t offset = 0;
    while ((got = pread(fd, buffer, sizeof buffer, offset)) > 0) {
        out.append(buffer, static_cast<size_t>(got));
        offset += got;
    }
    return out;
}

} // namespace

TEST(TftpCommand, WordsOfTheCommandLine) {
    command_words command;
    ASSERT_TRUE(build_tftp_command(command, "10.0.0.1", "/tmp/new", "001a2b3c4d5e.xml"));
    EXPECT_EQ(words_of(command),
              (words{"minimumTFTP.py", "-g", "10.0.0.1", "/tmp/new", "001a2b3c4d5e.xml"}));
    EXPECT_EQ(words_of(command), split(format_line(tftp_format, {"10.0.0.1", "001a2b3c4d5e.xml"})));
}

TEST(WgetCommand, WordsWithoutCredentials) {
    command_words command;
    ASSERT_TRUE(
        build_wget_command(command, -1, "http://10.0.0.1:8080", "cfg/a.xml", "/tmp/new/a.xml"));
    EXPECT_EQ(words_of(command),
              (words{"wget", "-q", "-T", "10", "--no-check-certificate", "--tries=1",
                     "http://10.0.0.1:8080/cfg/a.xml", "-O", "/tmp/new/a.xml"}));
    EXPECT_EQ(words_of(command), split(format_line(wget_format, {"http://10.0.0.1:8080",
                                                                 "cfg/a.xml", "/tmp/new/a.xml"})));
}

TEST(WgetCommand, CredentialsComeFromADescriptorAndRedirectionsAreNotFollowed) {
    command_words command;
    ASSERT_TRUE(build_wget_command(command, 7, "https://10.0.0.1/prov", "a.xml", "/tmp/new/a.xml"));
    EXPECT_EQ(words_of(command), (words{"wget", "-q", "-T", "10", "--no-check-certificate",
                                        "--tries=1", "--config=/proc/self/fd/7", "--max-redirect=0",
                                        "https://10.0.0.1/prov/a.xml", "-O", "/tmp/new/a.xml"}));
}

TEST(WgetCredentials, StartUpFileHoldsTheTextsUnchanged) {
    // Blanks inside, '#', '=', quotes, backslashes and bytes past ASCII are
    // all taken literally by wget.
    const std::string password = "a b#c=d'e\"f\\g\xc3\xa9\xff~$HOME";
    int fd = open_wget_credentials("ph one", password.c_str());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(read_descriptor(fd), "user = ph one\npassword = " + password + "\n");
    // Nothing else may inherit it.
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    struct stat status;
    ASSERT_EQ(fstat(fd, &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode)); // wget reads no other kind of file
    close(fd);

    fd = open_wget_credentials("phone", "");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(read_descriptor(fd), "user = phone\npassword = \n");
    close(fd);
}

TEST(WgetCredentials, TextsThatWgetWouldChangeAreRefused) {
    for (int byte = 1; byte < 0x20; ++byte) {
        const std::string text = std::string("a") + static_cast<char>(byte) + "b";
        EXPECT_FALSE(wget_credentials_usable("phone", text.c_str())) << byte;
        EXPECT_FALSE(wget_credentials_usable(text.c_str(), "pw")) << byte;
        EXPECT_EQ(open_wget_credentials("phone", text.c_str()), -1) << byte;
    }
    EXPECT_FALSE(wget_credentials_usable("phone", "a\x7f"));
    for (const char *blanks : {" pw", "pw ", " ", "  pw  "}) {
        EXPECT_FALSE(wget_credentials_usable("phone", blanks)) << blanks;
        EXPECT_FALSE(wget_credentials_usable(blanks, "pw")) << blanks;
    }
    EXPECT_TRUE(wget_credentials_usable("phone", ""));
    EXPECT_TRUE(wget_credentials_usable("ph one", "p w"));
    std::string every_other_byte;
    for (int byte = 0x21; byte < 0x100; ++byte) {
        if (byte != 0x7f) {
            every_other_byte += static_cast<char>(byte);
        }
    }
    EXPECT_TRUE(wget_credentials_usable("phone", every_other_byte.c_str()));
}

TEST(DownloadCommands, ShellMetacharactersStayInsideOneArgument) {
    command_words command;
    const std::string hostile = "10.0.0.1;touch /tmp/pwned $(id) `id` a b|c>d";
    ASSERT_TRUE(build_tftp_command(command, hostile.c_str(), "/tmp/new", "x'y\"z&.xml"));
    EXPECT_EQ(words_of(command),
              (words{"minimumTFTP.py", "-g", hostile, "/tmp/new", "x'y\"z&.xml"}));

    ASSERT_TRUE(build_wget_command(command, 3, hostile.c_str(), "a b.xml", "/tmp/new/a b.xml"));
    EXPECT_EQ(words_of(command), (words{"wget", "-q", "-T", "10", "--no-check-certificate",
                                        "--tries=1", "--config=/proc/self/fd/3", "--max-redirect=0",
                                        hostile + "/a b.xml", "-O", "/tmp/new/a b.xml"}));
}

TEST(DownloadCommands, CommandLineOf511CharactersIsBuiltAnd512IsRefused) {
    // "minimumTFTP.py -g " + server + " /tmp/new " + name
    const std::string server = "10.0.0.1";
    const size_t fixed = std::string(tftp_format).size() - 4 + server.size();
    command_words command;

    std::string name(511 - fixed, 'n');
    ASSERT_EQ(format_line(tftp_format, {server, name}).size(), 511u);
    ASSERT_TRUE(build_tftp_command(command, server.c_str(), "/tmp/new", name.c_str()));
    EXPECT_EQ(command_line_length(command), 511u);
    EXPECT_EQ(words_of(command).back(), name);

    name += 'n';
    EXPECT_FALSE(build_tftp_command(command, server.c_str(), "/tmp/new", name.c_str()));
}

TEST(DownloadCommands, WgetLineLengthMatchesTheFormattedLine) {
    for (int credentials : {-1, 3}) {
        for (size_t name_length : {1u, 100u, 300u, 400u, 460u}) {
            std::string name(name_length, 'a');
            std::string line =
                credentials < 0
                    ? format_line(wget_format, {"http://10.0.0.1", name, "/tmp/new/x.xml"})
                    : format_line(wget_credentials_format,
                                  {"3", "http://10.0.0.1", name, "/tmp/new/x.xml", ""});
            command_words command;
            bool built = build_wget_command(command, credentials, "http://10.0.0.1", name.c_str(),
                                            "/tmp/new/x.xml");
            EXPECT_EQ(built, line.size() <= 511) << credentials << " " << name_length;
            if (built) {
                EXPECT_EQ(command_line_length(command), line.size());
                EXPECT_EQ(words_of(command), split(line));
            }
        }
    }
}

TEST(DownloadCommands, WgetAtTheLimit) {
    const std::string fixed_line =
        format_line(wget_credentials_format, {"3", "s", "", "/tmp/new/x", ""});
    command_words command;
    std::string name(511 - fixed_line.size(), 'q');
    ASSERT_TRUE(build_wget_command(command, 3, "s", name.c_str(), "/tmp/new/x"));
    EXPECT_EQ(command_line_length(command), 511u);
    name += 'q';
    EXPECT_FALSE(build_wget_command(command, 3, "s", name.c_str(), "/tmp/new/x"));
}
