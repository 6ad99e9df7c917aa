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

/* "wget -q -T 10 --no-check-certificate --tries=1 SERVER/NAME -O
 * LOCAL_PATH". With credentials_fd (not -1, see open_wget_credentials),
 * "--config=/proc/self/fd/N --max-redirect=0" follow "--tries=1": wget reads
 * the credentials from that descriptor, and follows no redirection, since it
 * would send them to whatever server a redirection names. False when the
 * command line would exceed 511 characters. */
bool build_wget_command(command_words &words, int credentials_fd, const char *server,
                        const char *name, const char *local_path);

/* Credentials never stand in an argument list, which every local user can
 * read in /proc/PID/cmdline. wget reads them from a start-up file instead: an
 * anonymous file in memory, without a name, that only the daemon and the
 * wget it starts can open (through /proc/PID/fd, which is open to root
 * only). wget reads such a file line by line, as "NAME = VALUE", and takes
 * the value literally ('#', '=', quotes and backslashes included) once the
 * blanks around it are gone. So a user or password that holds a control
 * character (a line feed would start another command) or begins or ends
 * with a blank cannot be passed exactly, and is refused. */
bool wget_credentials_usable(const char *user, const char *password);

/* "user = USER\npassword = PASSWORD\n" in a new close-on-exec anonymous
 * file, for wget's --config. The descriptor, or -1 when the credentials are
 * not usable or the file could not be made. The caller closes it. */
int open_wget_credentials(const char *user, const char *password);

/* The length of the command line that words stands for: the words joined by
 * single blanks. */
size_t command_line_length(const command_words &words);

#endif
