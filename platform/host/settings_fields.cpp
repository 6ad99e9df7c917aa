#include "platform/host/settings_fields.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

#define NVCFG_FIELD(member, kind)                                                                  \
    settings_field {                                                                               \
        #member, offsetof(nvcfg, member), sizeof(nvcfg::member), kind                              \
    }

constexpr std::array fields{
    NVCFG_FIELD(autoprov_period, field_kind::number32),
    NVCFG_FIELD(mac_address, field_kind::mac),
    NVCFG_FIELD(autoprov_server, field_kind::text),
    NVCFG_FIELD(autoprov_http_user, field_kind::text),
    NVCFG_FIELD(autoprov_http_password, field_kind::text),
    NVCFG_FIELD(autoprov_disabled, field_kind::number8),
    NVCFG_FIELD(autoprov_file, field_kind::text),
    NVCFG_FIELD(autoprov_use_tftp, field_kind::number8),
    NVCFG_FIELD(autoprov_idle_minutes, field_kind::number32),
    NVCFG_FIELD(autoprov_time_of_day, field_kind::text),
    NVCFG_FIELD(enable_sip_mcast, field_kind::number8),
};

#undef NVCFG_FIELD

constexpr bool widths_match_kinds() {
    for (const settings_field &field : fields) {
        if (field.kind == field_kind::number32 && field.width != 4) {
            return false;
        }
        if (field.kind == field_kind::number8 && field.width != 1) {
            return false;
        }
        if (field.kind == field_kind::mac && field.width != 6) {
            return false;
        }
        if (field.kind == field_kind::text && field.width > field_value_capacity) {
            return false;
        }
    }
    return true;
}
static_assert(widths_match_kinds(), "a field's width does not fit its kind");

/* Strict decimal: digits only, no sign, no blanks, nothing after. */
bool parse_decimal(std::string_view text, uint64_t limit, uint64_t &value) {
    if (text.empty()) {
        return false;
    }
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + static_cast<uint64_t>(c - '0');
        if (result > limit) {
            return false;
        }
    }
    value = result;
    return true;
}

bool all_digits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

/* Exactly "xx:xx:xx:xx:xx:xx", either case. */
bool parse_mac(std::string_view text, unsigned char (&mac)[6]) {
    if (text.size() != 17) {
        return false;
    }
    for (size_t i = 0; i < 6; ++i) {
        int high = hex_value(text[i * 3]);
        int low = hex_value(text[i * 3 + 1]);
        if (high < 0 || low < 0 || (i < 5 && text[i * 3 + 2] != ':')) {
            return false;
        }
        mac[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}

} // namespace

std::span<const settings_field> settings_fields() {
    return fields;
}

const settings_field *find_settings_field(std::string_view name) {
    for (const settings_field &field : fields) {
        if (field.name == name) {
            return &field;
        }
    }
    return nullptr;
}

void format_field(const settings_field &field, const_record_bytes record,
                  char (&out)[field_value_capacity]) {
    const unsigned char *at = record.data() + field.offset;
    switch (field.kind) {
    case field_kind::number32: {
        uint32_t value;
        std::memcpy(&value, at, sizeof value);
        std::snprintf(out, sizeof out, "%lu", static_cast<unsigned long>(value));
        break;
    }
    case field_kind::number8:
        std::snprintf(out, sizeof out, "%u", static_cast<unsigned>(at[0]));
        break;
    case field_kind::mac:
        std::snprintf(out, sizeof out, "%02x:%02x:%02x:%02x:%02x:%02x", at[0], at[1], at[2], at[3],
                      at[4], at[5]);
        break;
    case field_kind::text: {
        // A record written elsewhere may fill a text to its last byte; show
        // no more than the field holds.
        size_t length = strnlen(reinterpret_cast<const char *>(at), field.width);
        if (length >= sizeof out) {
            length = sizeof out - 1;
        }
        std::memcpy(out, at, length);
        out[length] = '\0';
        break;
    }
    }
}

bool store_field(const settings_field &field, std::string_view value, record_bytes record,
                 char (&why)[field_error_capacity]) {
    unsigned char *at = record.data() + field.offset;
    const int shown = value.size() > 40 ? 40 : static_cast<int>(value.size());
    switch (field.kind) {
    case field_kind::number32:
    case field_kind::number8: {
        const uint64_t limit = field.kind == field_kind::number32 ? UINT32_MAX : UINT8_MAX;
        uint64_t number = 0;
        if (!parse_decimal(value, limit, number)) {
            if (all_digits(value)) {
                std::snprintf(why, sizeof why, "out of range (0..%llu): '%.*s'",
                              static_cast<unsigned long long>(limit), shown, value.data());
            } else {
                std::snprintf(why, sizeof why, "not a number: '%.*s'", shown, value.data());
            }
            return false;
        }
        if (field.kind == field_kind::number32) {
            const uint32_t stored = static_cast<uint32_t>(number);
            std::memcpy(at, &stored, sizeof stored);
        } else {
            at[0] = static_cast<unsigned char>(number);
        }
        return true;
    }
    case field_kind::mac: {
        unsigned char mac[6];
        if (!parse_mac(value, mac)) {
            std::snprintf(why, sizeof why,
                          "not a MAC address (six hexadecimal pairs separated by ':'): '%.*s'",
                          shown, value.data());
            return false;
        }
        std::memcpy(at, mac, sizeof mac);
        return true;
    }
    case field_kind::text:
        // The readers take these as C strings, so one byte stays for the NUL.
        if (value.size() > field.width - 1) {
            std::snprintf(why, sizeof why, "value too long (%zu characters, at most %zu)",
                          value.size(), field.width - 1);
            return false;
        }
        if (value.find('\0') != std::string_view::npos) {
            std::snprintf(why, sizeof why, "a text cannot hold a NUL byte");
            return false;
        }
        std::memset(at, 0, field.width);
        std::memcpy(at, value.data(), value.size());
        return true;
    }
    return false;
}
