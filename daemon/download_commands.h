/* The argument vectors of the two downloaders. Each vector holds exactly
 * the words of the downloader's command line, so that the program sees the
 * same arguments whatever characters the texts contain. The words live in a
 * buffer of the command line's capacity: a command line longer than 511
 * characters is refused instead of being run cut short, since a cut line
 * could fetch another URL or write to another path. */
#ifndef DAEMON_DOWNLOAD_COMMANDS_H
#define DAEMON_DOWNLOAD_COMMANDS_H

#include <array>
#include <stddef.h>

constexpr size_t COMMAND_LINE_CAPACITY = 512;

struct command_words {
    std::array<const char *, 16> argv; /* null-terminated */
    size_t count;
    /* The words one after another, each terminated: exactly one byte more
     * than the command line with its separating blanks. */
    std::array<char, COMMAND_LINE_CAPACITY> text;
    size_t used;
};

/* "minimumTFTP.py -g SERVER DIRECTORY NAME". False when the command line
 * would exceed 511 characters. */
bool build_tftp_command(command_words &words, const char *server, const char *directory,
                        const char *name);

/* "wget -q -T 10 --no-check-certificate --tries=1 [--user=USER
 * --password=PASSWORD] SERVER/NAME -O LOCAL_PATH"; the credentials only when
 * user is not empty. False when the command line would exceed 511
 * characters. */
bool build_wget_command(command_words &words, const char *user, const char *password,
                        const char *server, const char *name, const char *local_path);

/* The length of the command line that words stands for: the words joined by
 * single blanks. */
size_t command_line_length(const command_words &words);

#endif
