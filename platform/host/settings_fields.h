/* The settings fields the tool can read and write by name: one table of
 * names, offsets and kinds that both reading and writing go through. */
#ifndef PLATFORM_HOST_SETTINGS_FIELDS_H
#define PLATFORM_HOST_SETTINGS_FIELDS_H

#include "platform/nvcfg.h"

#include <cstddef>
#include <span>
#include <string_view>

enum class field_kind { number32, number8, mac, text };

struct settings_field {
    std::string_view name;
    size_t offset;
    size_t width; /* bytes in the record; for text, the capacity with its NUL */
    field_kind kind;
};

using record_bytes = std::span<unsigned char, NVCFG_SIZE>;
using const_record_bytes = std::span<const unsigned char, NVCFG_SIZE>;

std::span<const settings_field> settings_fields();

/* nullptr when no field has that name. */
const settings_field *find_settings_field(std::string_view name);

/* Longest formatted value: the largest text capacity. */
constexpr size_t field_value_capacity = NVCFG_HTTP_PASSWORD_CAPACITY;

/* Writes the field's value as text, NUL-terminated, into out. */
void format_field(const settings_field &field, const_record_bytes record,
                  char (&out)[field_value_capacity]);

constexpr size_t field_error_capacity = 160;

/* Stores the value given as text into the record. On bad input the record is
 * left as it was, false is returned and why holds a short explanation. */
bool store_field(const settings_field &field, std::string_view value, record_bytes record,
                 char (&why)[field_error_capacity]);

#endif
