// The lease file that DHCP filled: the value decoders on exactly-sized
// buffers, and the whole scan over a lease file written from the input.
// Every server text must fit its buffer and hold only what its decoder may
// let through.
#include <unistd.h>

#include "daemon/discovery.h"
#include "daemon/lease_reader.h"
#include "fuzz/fuzz_input.h"
#include "platform/nvcfg.h"

// The daemon's log and restart go nowhere here: the fuzzer's output would
// drown in them, and no restart may happen.
extern "C" int autoprov_log(const char *, ...) {
    return 0;
}
extern "C" void orvex_reset(void) {
    finding("the lease scan asked for a restart");
}

namespace {

int passes_seen = 0;

void check_pass(const nvcfg *, const char *server) {
    ++passes_seen;
    require(strnlen(server, SERVER_TEXT_CAPACITY) < SERVER_TEXT_CAPACITY,
            "server text not terminated inside its buffer");
}

void check_decoders(const uint8_t *data, size_t size) {
    exact_copy value(data, size);
    char server[SERVER_TEXT_CAPACITY];
    size_t n = decode_vendor_specific(value.bytes, value.size, server);
    require(n < SERVER_TEXT_CAPACITY && strlen(server) == n, "option 43 length is wrong");
    for (size_t i = 0; i < n; ++i) {
        require(server[i] >= 0x20 && server[i] <= 0x7E, "option 43 let a non-printable byte in");
    }

    n = decode_first_address(value.bytes, value.size, server);
    require(n < SERVER_TEXT_CAPACITY && strlen(server) == n, "address length is wrong");
    for (size_t i = 0; i < n; ++i) {
        require(static_cast<unsigned char>(server[i]) > 0x20, "address holds a blank");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    check_decoders(data, size);

    static char path[] = "/tmp/lease-fuzz-XXXXXX";
    static int fd = [] {
        int made = mkstemp(path);
        atexit([] { unlink(path); });
        return made;
    }();
    require(fd >= 0, "no temporary lease file");
    require(ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == static_cast<ssize_t>(size),
            "cannot write the lease file");

    static nvcfg record{}; // no configured server: the lease is read
    passes_seen = 0;
    discover_server_using(&record, path, check_pass);
    require(passes_seen <= 4, "more than one pass per lease key");
    return 0;
}
