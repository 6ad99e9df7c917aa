/* settingsdb: creates the settings record file and reads and writes its
 * fields by name, so nobody edits the record's bytes by hand. */
#include "platform/host/record_file.h"
#include "platform/host/record_path.h"
#include "platform/host/settings_fields.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

void print_usage(FILE *to) {
    std::fputs("usage: settingsdb create\n"
               "       settingsdb get FIELD\n"
               "       settingsdb set FIELD VALUE [FIELD VALUE ...]\n"
               "       settingsdb show\n"
               "       settingsdb --help\n"
               "\n"
               "The record file is $SETTINGSDB_FILE, or /etc/settingsdb/nvcfg.bin when that\n"
               "is unset. 'create' writes a zeroed record (making its directory); 'set'\n"
               "changes all the named fields or, on any bad value, none.\n"
               "\n"
               "Fields:\n",
               to);
    for (const settings_field &field : settings_fields()) {
        const char *format = "";
        switch (field.kind) {
        case field_kind::number32:
            format = "decimal, 0..4294967295";
            break;
        case field_kind::number8:
            format = "decimal, 0..255";
            break;
        case field_kind::mac:
            format = "six hexadecimal pairs separated by ':'";
            break;
        case field_kind::text:
            format = "text";
            break;
        }
        if (field.kind == field_kind::text) {
            std::fprintf(to, "  %-24.*s %s, at most %zu characters\n",
                         static_cast<int>(field.name.size()), field.name.data(), format,
                         field.width - 1);
        } else {
            std::fprintf(to, "  %-24.*s %s\n", static_cast<int>(field.name.size()),
                         field.name.data(), format);
        }
    }
}

int usage_error(const char *what) {
    std::fprintf(stderr, "settingsdb: %s\n", what);
    print_usage(stderr);
    return exit_usage;
}

int failed(const char *why) {
    std::fprintf(stderr, "settingsdb: %s\n", why);
    return exit_failed;
}

const settings_field *field_or_complain(const char *name) {
    const settings_field *field = find_settings_field(name);
    if (field == nullptr) {
        std::fprintf(stderr, "settingsdb: unknown field '%s' (settingsdb --help lists them)\n",
                     name);
    }
    return field;
}

int create_record(const char *path) {
    static unsigned char record[NVCFG_SIZE];
    record_error why;
    if (!make_parent_directories(path, why) || !replace_record_file(path, record, why)) {
        return failed(why);
    }
    return 0;
}

int get_value(const char *path, const char *name) {
    const settings_field *field = field_or_complain(name);
    if (field == nullptr) {
        return exit_failed;
    }
    static unsigned char record[NVCFG_SIZE];
    record_error why;
    if (!read_record_file(path, record, why)) {
        return failed(why);
    }
    char value[field_value_capacity];
    format_field(*field, record, value);
    std::printf("%s\n", value);
    return 0;
}

int show_values(const char *path) {
    static unsigned char record[NVCFG_SIZE];
    record_error why;
    if (!read_record_file(path, record, why)) {
        return failed(why);
    }
    for (const settings_field &field : settings_fields()) {
        char value[field_value_capacity];
        format_field(field, record, value);
        std::printf("%.*s=%s\n", static_cast<int>(field.name.size()), field.name.data(), value);
    }
    return 0;
}

int set_values(const char *path, int count, char **pairs) {
    if (count == 0) {
        return usage_error("set needs at least one FIELD VALUE pair");
    }
    if (count % 2 != 0) {
        std::fprintf(stderr, "settingsdb: missing value for field '%s'\n", pairs[count - 1]);
        return exit_usage;
    }
    static unsigned char record[NVCFG_SIZE];
    record_error why;
    if (!read_record_file(path, record, why)) {
        return failed(why);
    }
    // Every change goes into this copy first; the file is replaced only
    // when all of them were good.
    for (int i = 0; i < count; i += 2) {
        const settings_field *field = field_or_complain(pairs[i]);
        if (field == nullptr) {
            return exit_failed;
        }
        char reason[field_error_capacity];
        if (!store_field(*field, pairs[i + 1], record, reason)) {
            std::fprintf(stderr, "settingsdb: %s: %s\n", pairs[i], reason);
            return exit_failed;
        }
    }
    if (!replace_record_file(path, record, why)) {
        return failed(why);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        return usage_error("a command is needed");
    }
    const std::string_view command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        print_usage(stdout);
        return 0;
    }
    const char *path = settings_record_path();
    if (command == "create" && argc == 2) {
        return create_record(path);
    }
    if (command == "show" && argc == 2) {
        return show_values(path);
    }
    if (command == "get" && argc == 3) {
        return get_value(path, argv[2]);
    }
    if (command == "set") {
        return set_values(path, argc - 2, argv + 2);
    }
    if (command == "create" || command == "show" || command == "get") {
        return usage_error("wrong number of arguments");
    }
    std::fprintf(stderr, "settingsdb: unknown command '%s'\n", argv[1]);
    print_usage(stderr);
    return exit_usage;
}
