#include "daemon/bounded_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

size_t copy_text_field(char *text, size_t capacity, const char *field, size_t field_width) {
    if (capacity == 0) {
        return 0;
    }
    size_t length = strnlen(field, field_width);
    if (length > capacity - 1) {
        length = capacity - 1;
    }
    memcpy(text, field, length);
    text[length] = '\0';
    return length;
}

bool format_bounded(char *buffer, size_t capacity, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int wanted = vsnprintf(buffer, capacity, format, arguments);
    va_end(arguments);
    return wanted >= 0 && static_cast<size_t>(wanted) < capacity;
}

namespace {

bool is_control_character(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

} // namespace

bool has_control_character(const char *text) {
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != '\0'; ++p) {
        if (is_control_character(*p)) {
            return true;
        }
    }
    return false;
}

void printable_copy(const char *text, char *out, size_t capacity) {
    if (capacity == 0) {
        return;
    }
    size_t used = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
         *p != '\0' && used + 1 < capacity; ++p) {
        out[used++] = is_control_character(*p) ? '?' : static_cast<char>(*p);
    }
    out[used] = '\0';
}
