// Shared helpers of the fuzz targets: fuzz data in buffers of exactly its
// size (so that AddressSanitizer sees the first byte read past the end), and
// a stop that libFuzzer reports as a crash with the offending input.
#ifndef FUZZ_FUZZ_INPUT_H
#define FUZZ_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// A heap copy of the fuzz data, exactly as long as the data. Parsing writes
// into it, as it would into a buffer that a loader filled.
struct exact_copy {
    char *bytes;
    size_t size;
    exact_copy(const uint8_t *data, size_t n)
        : bytes(static_cast<char *>(malloc(n ? n : 1))), size(n) {
        if (n) {
            memcpy(bytes, data, n);
        }
    }
    ~exact_copy() { free(bytes); }
    exact_copy(const exact_copy &) = delete;
    exact_copy &operator=(const exact_copy &) = delete;
};

// Stops the run with a message; libFuzzer saves the input as a crash.
[[noreturn]] inline void finding(const std::string &what) {
    fprintf(stderr, "FINDING: %s\n", what.c_str());
    abort();
}

inline void require(bool condition, const std::string &what) {
    if (!condition) {
        finding(what);
    }
}

#endif
