#include "daemon/file_names.h"

#include "daemon/bounded_text.h"

#include <cstring>

namespace {

/* A base name that stands for a file of its own, not for the directory it
 * lies in, that directory's parent, or the root. */
bool is_own_file_name(const char *base) {
    return strcmp(base, ".") != 0 && strcmp(base, "..") != 0 && strcmp(base, "/") != 0;
}

} // namespace

void format_mac_text(const uint8_t *mac, char (&text)[MAC_TEXT_CAPACITY]) {
    static constexpr char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < 6; ++i) {
        text[2 * i] = digits[mac[i] >> 4];
        text[2 * i + 1] = digits[mac[i] & 0x0F];
    }
    text[12] = '\0';
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

bool names_a_file(const char *name) {
    size_t length = strlen(name);
    if (length == 0 || name[length - 1] == '/' || has_control_character(name)) {
        return false;
    }
    const char *last_slash = strrchr(name, '/');
    return is_own_file_name(last_slash == nullptr ? name : last_slash + 1);
}

naming_mode naming_mode_of(const char *file_setting) {
    size_t length = strlen(file_setting);
    if (length == 0) {
        return naming_mode::default_name;
    }
    return file_setting[length - 1] == '/' ? naming_mode::directory_prefix
                                           : naming_mode::named_file;
}

const char *directory_prefix(naming_mode mode, const char *file_setting) {
    return mode == naming_mode::directory_prefix ? file_setting : "";
}

namespace {

const char *separator_after(const char *prefix) {
    return prefix[0] != '\0' ? "/" : "";
}

} // namespace

void mac_based_remote_name(char (&remote_name)[REMOTE_NAME_CAPACITY], const char *prefix,
                           const char *mac_text) {
    format_bounded(remote_name, sizeof remote_name, "%s%s%s.xml", prefix, separator_after(prefix),
                   mac_text);
}

void default_remote_name(char (&remote_name)[REMOTE_NAME_CAPACITY], const char *prefix) {
    format_bounded(remote_name, sizeof remote_name, "%s%s%s", prefix, separator_after(prefix),
                   DEFAULT_FILE_NAME);
}

bool listed_remote_name(char (&remote_name)[REMOTE_NAME_CAPACITY], const char *prefix,
                        const char *text) {
    return format_bounded(remote_name, sizeof remote_name, "%s%s", prefix, text);
}

void replace_mac_token(char *text, const char *mac_text) {
    char *token = strstr(text, MAC_TOKEN);
    if (token != nullptr) {
        memcpy(token, mac_text, sizeof MAC_TOKEN - 1);
    }
}

bool tftp_local_path(char (&local_path)[LOCAL_PATH_CAPACITY], const char *name,
                     const char *directory) {
    return strchr(name, '/') == nullptr && name[0] != '-' && names_a_file(name) &&
           format_bounded(local_path, sizeof local_path, "%s/%s", directory, name);
}

bool http_local_path(char (&local_path)[LOCAL_PATH_CAPACITY], const char *name,
                     const char *directory) {
    char base[LOCAL_PATH_CAPACITY];
    return names_a_file(name) && base_name(name, base, sizeof base) &&
           format_bounded(local_path, sizeof local_path, "%s/%s", directory, base);
}

bool applied_path(char (&path)[APPLIED_PATH_CAPACITY], const char *local_path,
                  const char *applied_directory) {
    char base[APPLIED_PATH_CAPACITY];
    return base_name(local_path, base, sizeof base) && is_own_file_name(base) &&
           format_bounded(path, sizeof path, "%s/%s", applied_directory, base);
}
