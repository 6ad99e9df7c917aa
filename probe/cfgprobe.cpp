#include "platform/nvcfg.h"

#include <cstdio>

int main() {
    nvcfg record;
    if (get_config(&record) != 0) {
        std::printf("!!Unable to access non-volatile configuration!! exiting.\n");
        return -1;
    }
    std::printf("enable_sip_mcast = %d\n", record.enable_sip_mcast);
    // The complement lives only in this copy: nothing here writes settings
    // back, so flipping it shows the field is writable without touching the store.
    record.enable_sip_mcast = static_cast<uint8_t>(~record.enable_sip_mcast);
    std::printf("enable_sip_mcast = %d\n", record.enable_sip_mcast);
    record.enable_sip_mcast = static_cast<uint8_t>(~record.enable_sip_mcast);
    std::printf("sizeof nvcfg = %d\n", static_cast<int>(sizeof record));
    return 0;
}
