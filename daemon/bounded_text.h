/* Bounded copies and formatting into the fixed buffers that every step
 * works in, and the masking that lets a text from outside be shown in a log
 * line. */
#ifndef DAEMON_BOUNDED_TEXT_H
#define DAEMON_BOUNDED_TEXT_H

#include <stddef.h>

/* Copies at most field_width bytes of a settings text field, stopping at its
 * terminator, into text (capacity bytes, always terminated). A field that
 * lacks a terminator is read no further than its width; what does not fit is
 * cut. Returns the length copied. */
size_t copy_text_field(char *text, size_t capacity, const char *field, size_t field_width);

/* snprintf into a buffer of capacity bytes. False when the text was cut or
 * could not be formatted; the buffer then holds the cut text. */
bool format_bounded(char *buffer, size_t capacity, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

/* True when text holds a byte below 0x20 or the byte 0x7f. */
bool has_control_character(const char *text);

/* Copies text into out (capacity bytes, always terminated) with every
 * control character replaced by '?', so that a text from outside can be
 * shown in a log line without starting a line of its own. What does not
 * fit is cut. */
void printable_copy(const char *text, char *out, size_t capacity);

#endif
