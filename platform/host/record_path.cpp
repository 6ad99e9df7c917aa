#include "platform/host/record_path.h"

#include <cstdlib>

const char *settings_record_path() {
    const char *chosen = std::getenv("SETTINGSDB_FILE");
    if (chosen == nullptr || chosen[0] == '\0') {
        return "/etc/settingsdb/nvcfg.bin";
    }
    return chosen;
}
