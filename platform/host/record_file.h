/* Reading and replacing the whole settings record file, for the settings tool.
 * Each call that fails leaves a short explanation in why. */
#ifndef PLATFORM_HOST_RECORD_FILE_H
#define PLATFORM_HOST_RECORD_FILE_H

#include "platform/host/settings_fields.h"

#include <climits>

constexpr size_t record_error_capacity = PATH_MAX + 256; /* a path and a reason */
using record_error = char[record_error_capacity];

/* Only a regular file of exactly one record is accepted; anything else is
 * refused rather than repaired, since its owner may not be this tool. */
bool read_record_file(const char *path, record_bytes record, record_error &why);

/* Writes a temporary file beside path and renames it over path, so readers
 * see either the old record or the new one, never a mixture. */
bool replace_record_file(const char *path, const_record_bytes record, record_error &why);

/* Creates the directories leading to path, like mkdir -p of its parent. */
bool make_parent_directories(const char *path, record_error &why);

#endif
