// Downloader argument vectors: the words of the command lines for plain
// texts, any text kept as one argument, and the 511-character limit.
#include "daemon/download_commands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
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
const char *wget_user_format =
    "wget -q -T 10 --no-check-certificate --tries=1 --user=%s --password=%s %s/%s -O %s";

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
    ASSERT_TRUE(build_wget_command(command, "", "secret", "http://10.0.0.1:8080", "cfg/a.xml",
                                   "/tmp/new/a.xml"));
    EXPECT_EQ(words_of(command),
              (words{"wget", "-q", "-T", "10", "--no-check-certificate", "--tries=1",
                     "http://10.0.0.1:8080/cfg/a.xml", "-O", "/tmp/new/a.xml"}));
    EXPECT_EQ(words_of(command), split(format_line(wget_format, {"http://10.0.0.1:8080",
                                                                 "cfg/a.xml", "/tmp/new/a.xml"})));
}

TEST(WgetCommand, WordsWithCredentials) {
    command_words command;
    ASSERT_TRUE(build_wget_command(command, "phone", "pa55", "https://10.0.0.1/prov", "a.xml",
                                   "/tmp/new/a.xml"));
    EXPECT_EQ(words_of(command), (words{"wget", "-q", "-T", "10", "--no-check-certificate",
                                        "--tries=1", "--user=phone", "--password=pa55",
                                        "https://10.0.0.1/prov/a.xml", "-O", "/tmp/new/a.xml"}));
    EXPECT_EQ(words_of(command),
              split(format_line(wget_user_format, {"phone", "pa55", "https://10.0.0.1/prov",
                                                   "a.xml", "/tmp/new/a.xml"})));
}

TEST(WgetCommand, EmptyPasswordStillGoesWithTheUser) {
    command_words command;
    ASSERT_TRUE(build_wget_command(command, "phone", "", "10.0.0.1", "a.xml", "/tmp/new/a.xml"));
    EXPECT_EQ(words_of(command)[6], "--user=phone");
    EXPECT_EQ(words_of(command)[7], "--password=");
}

TEST(DownloadCommands, ShellMetacharactersStayInsideOneArgument) {
    command_words command;
    const std::string hostile = "10.0.0.1;touch /tmp/pwned $(id) `id` a b|c>d";
    ASSERT_TRUE(build_tftp_command(command, hostile.c_str(), "/tmp/new", "x'y\"z&.xml"));
    EXPECT_EQ(words_of(command),
              (words{"minimumTFTP.py", "-g", hostile, "/tmp/new", "x'y\"z&.xml"}));

    ASSERT_TRUE(build_wget_command(command, "u s;er", "p$(w)d", hostile.c_str(), "a b.xml",
                                   "/tmp/new/a b.xml"));
    EXPECT_EQ(words_of(command), (words{"wget", "-q", "-T", "10", "--no-check-certificate",
                                        "--tries=1", "--user=u s;er", "--password=p$(w)d",
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
    for (const char *user : {"", "phone"}) {
        for (size_t name_length : {1u, 100u, 300u, 400u}) {
            std::string name(name_length, 'a');
            std::string line =
                user[0] == '\0'
                    ? format_line(wget_format, {"http://10.0.0.1", name, "/tmp/new/x.xml"})
                    : format_line(wget_user_format,
                                  {user, "pw", "http://10.0.0.1", name, "/tmp/new/x.xml"});
            command_words command;
            bool built = build_wget_command(command, user, "pw", "http://10.0.0.1", name.c_str(),
                                            "/tmp/new/x.xml");
            EXPECT_EQ(built, line.size() <= 511) << user << " " << name_length;
            if (built) {
                EXPECT_EQ(command_line_length(command), line.size());
                EXPECT_EQ(words_of(command), split(line));
            }
        }
    }
}

TEST(DownloadCommands, WgetAtTheLimit) {
    const std::string fixed_line = format_line(wget_user_format, {"u", "p", "s", "", "/tmp/new/x"});
    command_words command;
    std::string name(511 - fixed_line.size(), 'q');
    ASSERT_TRUE(build_wget_command(command, "u", "p", "s", name.c_str(), "/tmp/new/x"));
    EXPECT_EQ(command_line_length(command), 511u);
    name += 'q';
    EXPECT_FALSE(build_wget_command(command, "u", "p", "s", name.c_str(), "/tmp/new/x"));
}
