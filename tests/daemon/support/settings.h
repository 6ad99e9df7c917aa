/* Building settings records for the tests. */
#ifndef DAEMON_TEST_SETTINGS_H
#define DAEMON_TEST_SETTINGS_H

#include "platform/nvcfg.h"

#include <cstring>
#include <memory>
#include <string>

/* A zeroed record on the heap (it is 23864 bytes). */
inline std::unique_ptr<nvcfg> blank_settings() {
    auto record = std::make_unique<nvcfg>();
    std::memset(record.get(), 0, sizeof(nvcfg));
    return record;
}

/* Copies text into a settings field, terminator included when it fits. */
template <size_t N> void set_text(char (&field)[N], const std::string &text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size() < N ? text.size() : N);
}

#endif
