// One parser on one generated input, for a profiler: the document is made,
// copied, and parsed REPEATS times by a function of its own
// (parse_under_profile), so that callgrind can count that function alone
// (--toggle-collect=parse_under_profile) and perf's samples can be read
// against it.
//
//   bench_profile SHAPE [BYTES [PARSER [REPEATS]]]
//
// SHAPE: provisioning, text-heavy, attribute-heavy, nested, references,
// children-one-name, children-many-names (200000 children; BYTES is then
// ignored). BYTES defaults to 1 MiB, PARSER to ezxml (or pugixml, expat,
// libxml2, tinyxml2), REPEATS to 1. Prints the input's size in bytes on
// standard output, for the instructions per byte, and the median MB/s of
// the repeats (CPU time of the thread) on a second line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <time.h>
#include <vector>

#include <algorithm>

#include "bench/parsers_inputs.h"
#include "bench/parsers_peers.h"

namespace {

std::string make(const char *shape, size_t bytes, bool *known) {
    *known = true;
    if (strcmp(shape, "provisioning") == 0) {
        return inputs::provisioning(bytes);
    }
    if (strcmp(shape, "text-heavy") == 0) {
        return inputs::text_heavy(bytes);
    }
    if (strcmp(shape, "attribute-heavy") == 0) {
        return inputs::attribute_heavy(bytes);
    }
    if (strcmp(shape, "nested") == 0) {
        return inputs::nested(bytes);
    }
    if (strcmp(shape, "references") == 0) {
        return inputs::references(bytes);
    }
    if (strcmp(shape, "children-one-name") == 0) {
        return inputs::children(200000, true);
    }
    if (strcmp(shape, "children-many-names") == 0) {
        return inputs::children(200000, false);
    }
    *known = false;
    return {};
}

// Kept out of line under its own name: the function the profilers count.
[[gnu::noinline]] void *parse_under_profile(const peers::peer &p, char *text, size_t length) {
    return p.parse(text, length);
}

double thread_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 5) {
        fprintf(stderr, "usage: %s SHAPE [BYTES [PARSER [REPEATS]]]\n", argv[0]);
        return 2;
    }
    size_t bytes = argc > 2 ? strtoull(argv[2], nullptr, 10) : 1u << 20;
    const char *parser = argc > 3 ? argv[3] : "ezxml";
    long repeats = argc > 4 ? atol(argv[4]) : 1;
    bool known;
    std::string original = make(argv[1], bytes, &known);
    if (!known) {
        fprintf(stderr, "unknown shape %s\n", argv[1]);
        return 2;
    }
    const peers::peer *chosen = nullptr;
    for (const peers::peer &p : peers::all) {
        if (strcmp(p.name, parser) == 0) {
            chosen = &p;
        }
    }
    if (!chosen) {
        fprintf(stderr, "unknown parser %s\n", parser);
        return 2;
    }
    xmlInitParser();
    std::string text = original;
    std::vector<double> times;
    for (long r = 0; r < repeats; ++r) {
        memcpy(text.data(), original.data(), text.size());
        double start = thread_seconds();
        void *tree = parse_under_profile(*chosen, text.data(), text.size());
        times.push_back(thread_seconds() - start);
        bool failed = chosen->failed(tree);
        chosen->release(tree);
        if (failed) {
            fprintf(stderr, "%s refused the input\n", parser);
            return 1;
        }
    }
    xmlCleanupParser();
    std::sort(times.begin(), times.end());
    printf("%zu\n%.1f\n", original.size(), original.size() / 1e6 / times[times.size() / 2]);
    return 0;
}
