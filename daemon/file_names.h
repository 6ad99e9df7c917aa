/* The names of provisioning files, each in the one place it is made: the
 * remote names that the server is asked for, the local paths that downloads
 * are stored under, and the paths of the applied copies they are held
 * against. Every name is made in a fixed buffer; where a cut name could
 * stand for another file, the name is refused instead. */
#ifndef DAEMON_FILE_NAMES_H
#define DAEMON_FILE_NAMES_H

#include <stddef.h>
#include <stdint.h>

/* Twelve lowercase hexadecimal digits and the terminator. */
constexpr size_t MAC_TEXT_CAPACITY = 13;

/* A remote name: 512 bytes, at most 511 characters. */
constexpr size_t REMOTE_NAME_CAPACITY = 512;

/* The local path of a download: 256 bytes, at most 255 characters. */
constexpr size_t LOCAL_PATH_CAPACITY = 256;

/* The path of an applied copy: 260 bytes, at most 259 characters. */
constexpr size_t APPLIED_PATH_CAPACITY = 260;

/* The main file asked for when the MAC-based one is missing. */
constexpr const char *DEFAULT_FILE_NAME = "000000ef.xml";

/* Replaced, first occurrence only, by the MAC text in a listed file's name. */
constexpr char MAC_TOKEN[] = "[macaddress]";
static_assert(sizeof MAC_TOKEN == MAC_TEXT_CAPACITY,
              "the MAC text overwrites the token in place, so both are twelve characters");

/* Writes the six bytes of mac, byte 0 first, as "%02x" each. */
void format_mac_text(const uint8_t *mac, char (&text)[MAC_TEXT_CAPACITY]);

/* The POSIX base name of path, computed on a copy: trailing slashes are
 * ignored, "" gives "." and a path of slashes only gives "/". False when the
 * result does not fit into base (capacity bytes). */
bool base_name(const char *path, char *base, size_t capacity);

/* True when name can be stored as a file of its own in the download
 * directory: it does not end in '/', and its base name is neither ".", ".."
 * nor "/". Other names would make the local path the download directory
 * itself or its parent. A name holding a control character (below 0x20, or
 * 0x7f) is refused as well: names come from downloaded files, and such a
 * name could not be logged without a line break of the server's choosing. */
bool names_a_file(const char *name);

enum class naming_mode {
    named_file,       /* the file setting names the main file itself */
    directory_prefix, /* the file setting ends in '/': files live under it */
    default_name,     /* no setting: the MAC-based name, then the default name */
};

/* The mode that the file setting (already copied and terminated) selects. */
naming_mode naming_mode_of(const char *file_setting);

/* The directory prefix that remote names stand under: the file setting in
 * directory-prefix mode, "" otherwise. */
const char *directory_prefix(naming_mode mode, const char *file_setting);

/* The remote names of the main file outside named-file mode: "MAC.xml" and
 * then DEFAULT_FILE_NAME, each under the directory prefix followed by one
 * more '/'. The prefix ends in '/' already, so the name holds two in a row,
 * which is how servers have always been asked for these files. A name too
 * long for the buffer is cut. */
void mac_based_remote_name(char (&remote_name)[REMOTE_NAME_CAPACITY], const char *prefix,
                           const char *mac_text);
void default_remote_name(char (&remote_name)[REMOTE_NAME_CAPACITY], const char *prefix);

/* The remote name of a listed file: its text under the directory prefix as
 * the prefix stands, with nothing added between them. False when it does not
 * fit; the buffer then holds the cut name, to be shown, which must not be
 * asked for, since it could name some other file. */
bool listed_remote_name(char (&remote_name)[REMOTE_NAME_CAPACITY], const char *prefix,
                        const char *text);

/* Overwrites the first "[macaddress]" in text with the MAC text. The token
 * and the digits are equally long, so nothing else in text moves and
 * nothing is written beyond its end. */
void replace_mac_token(char *text, const char *mac_text);

/* Where the TFTP client stores name in directory. The client stores the file
 * under the very name it asks for, so the name must be one plain file name
 * that does not read as an option. False, and nothing to download, for any
 * other name or when the path does not fit. */
bool tftp_local_path(char (&local_path)[LOCAL_PATH_CAPACITY], const char *name,
                     const char *directory);

/* Where wget stores name in directory: under the name's base name. A cut
 * local path could name another file, so a name too long for the buffer is
 * refused rather than shortened. */
bool http_local_path(char (&local_path)[LOCAL_PATH_CAPACITY], const char *name,
                     const char *directory);

/* The applied copy of the download at local_path: the file of its base name
 * in applied_directory. False when the download has no file name of its own
 * (its base name is ".", ".." or "/") or the path does not fit: there is
 * then no copy to hold it against, and a shortened path would name some
 * other copy. */
bool applied_path(char (&path)[APPLIED_PATH_CAPACITY], const char *local_path,
                  const char *applied_directory);

#endif
