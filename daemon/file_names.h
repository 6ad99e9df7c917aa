/* Naming of provisioning files: the MAC text, base names, the naming mode
 * that the file setting selects, and bounded copies and formatting into the
 * fixed buffers that every step works in. */
#ifndef DAEMON_FILE_NAMES_H
#define DAEMON_FILE_NAMES_H

#include <stddef.h>
#include <stdint.h>

/* Twelve lowercase hexadecimal digits and the terminator. */
constexpr size_t MAC_TEXT_CAPACITY = 13;

/* Writes the six bytes of mac, byte 0 first, as "%02x" each. */
void format_mac_text(const uint8_t *mac, char (&text)[MAC_TEXT_CAPACITY]);

/* Copies at most field_width bytes of a settings text field, stopping at its
 * terminator, into text (capacity bytes, always terminated). A field that
 * lacks a terminator is read no further than its width; what does not fit is
 * cut. Returns the length copied. */
size_t copy_text_field(char *text, size_t capacity, const char *field, size_t field_width);

/* snprintf into a buffer of capacity bytes. False when the text was cut or
 * could not be formatted; the buffer then holds the cut text. */
bool format_bounded(char *buffer, size_t capacity, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

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

/* True when text holds a byte below 0x20 or the byte 0x7f. */
bool has_control_character(const char *text);

/* Copies text into out (capacity bytes, always terminated) with every
 * control character replaced by '?', so that a text from outside can be
 * shown in a log line without starting a line of its own. What does not
 * fit is cut. */
void printable_copy(const char *text, char *out, size_t capacity);

enum class naming_mode {
    named_file,       /* the file setting names the main file itself */
    directory_prefix, /* the file setting ends in '/': files live under it */
    default_name,     /* no setting: the MAC-based name, then the default name */
};

/* The mode that the file setting (already copied and terminated) selects. */
naming_mode naming_mode_of(const char *file_setting);

#endif
