#include "daemon/file_names.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void format_mac_text(const uint8_t *mac, char (&text)[MAC_TEXT_CAPACITY]) {
    static constexpr char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < 6; ++i) {
        text[2 * i] = digits[mac[i] >> 4];
        text[2 * i + 1] = digits[mac[i] & 0x0F];
    }
    text[12] = '\0';
}

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

bool base_name(const char *path, char *base, size_t capacity) {
    size_t end = strlen(path);
    const char *result = path;
    size_t length = 0;
    if (end == 0) {
        result = ".";
        length = 1;
    } else {
        while (end > 1 && path[end - 1] == '/') {
            --end;
        }
        if (end == 1 && path[0] == '/') {
            length = 1;
        } else {
            size_t start = end;
            while (start > 0 && path[start - 1] != '/') {
                --start;
            }
            result = path + start;
            length = end - start;
        }
    }
    if (length + 1 > capacity) {
        if (capacity > 0) {
            base[0] = '\0';
        }
        return false;
    }
    memcpy(base, result, length);
    base[length] = '\0';
    return true;
}

bool has_control_character(const char *text) {
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != '\0'; ++p) {
        if (*p < 0x20 || *p == 0x7f) {
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
        out[used++] = *p < 0x20 || *p == 0x7f ? '?' : static_cast<char>(*p);
    }
    out[used] = '\0';
}

bool names_a_file(const char *name) {
    size_t length = strlen(name);
    if (length == 0 || name[length - 1] == '/' || has_control_character(name)) {
        return false;
    }
    const char *last_slash = strrchr(name, '/');
    const char *base = last_slash == nullptr ? name : last_slash + 1;
    return strcmp(base, ".") != 0 && strcmp(base, "..") != 0;
}

naming_mode naming_mode_of(const char *file_setting) {
    size_t length = strlen(file_setting);
    if (length == 0) {
        return naming_mode::default_name;
    }
    return file_setting[length - 1] == '/' ? naming_mode::directory_prefix
                                           : naming_mode::named_file;
}
