#include "daemon/discovery.h"

#include "daemon/bounded_text.h"
#include "daemon/lease_reader.h"
#include "daemon/log_messages.h"
#include "daemon/provisioning_pass.h"
#include "platform/sysbus.h"

#include <cstring>

namespace {

struct announced_server {
    lease_option option;
    const char *message;
};

/* The order in which the options are tried, and so the order of the passes. */
constexpr announced_server lease_servers[] = {
    {lease_option::vendor_specific, FOUND_SERVER_IN_OPTION_43},
    {lease_option::www_server, FOUND_SERVER_IN_OPTION_72},
    {lease_option::tftp_server_address, FOUND_SERVER_IN_OPTION_150},
    {lease_option::tftp_server_name, FOUND_SERVER_IN_OPTION_66},
};

} // namespace

void discover_server_using(const nvcfg *record, const char *lease_path, pass_runner run_pass) {
    char server[SERVER_TEXT_CAPACITY];
    if (copy_text_field(server, sizeof server, record->autoprov_server,
                        sizeof record->autoprov_server) != 0) {
        run_pass(record, server);
        return;
    }
    for (const announced_server &entry : lease_servers) {
        memset(server, 0, sizeof server);
        if (read_lease_option(lease_path, entry.option, server)) {
            autoprov_log(entry.message, server);
            run_pass(record, server);
        }
    }
}

void discover_server(const nvcfg *record) {
    discover_server_using(record, LEASE_FILE_PATH, run_provisioning_pass);
}
