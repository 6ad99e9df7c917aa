// Parse speed and memory of ezxml against the established XML parsers, on
// the same inputs, in one run. Prints three tables:
//  1. parse throughput in MB/s (10^6 bytes per second), the median of
//     repeated runs, and the ratio of each peer to ezxml (above 1: the peer
//     is faster);
//  2. peak heap while parsing and heap held by the finished tree, per
//     element of the document, with the same ratios (above 1: the peer
//     needs more);
//  3. ezxml's parse time per input byte from 10 KiB to 10 MiB for every
//     shape, beside pugixml's: flat means linear cost.
//
// Times are CPU time of the benchmark's thread. Every run parses a fresh
// copy of each document: the copy is made before
// the clock starts, for every parser alike (the in-place parsers cut it up;
// the others read it). Releasing the tree is timed apart and not part of
// the throughput. Heap figures come from the malloc wrappers of
// parsers_heap.h and count each block with the allocator's header; the
// in-place parsers' input buffer is the caller's and is not counted, while
// the copies the other parsers make of the text are.
//
//   bench_parsers [--seconds S] [--quick] [--data FILE]
//
// S is the time spent on each parser and input (default 0.3); each figure
// is the median of at least 5 runs. --quick uses fewer and smaller inputs.
// --data also writes the throughput table to FILE, one input a line: the
// label in quotes, then each parser's MB/s (0 where it refused), separated
// by tabs, for tools/bench's chart.
#include "bench/parsers_heap.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <time.h>
#include <vector>

#include "bench/parsers_inputs.h"
#include "bench/parsers_peers.h"
#include "bench/scaling_documents.h"

namespace {

// Times are the thread's CPU time (user and system, page faults included),
// not wall time: on a machine shared with other work, wall time also counts
// the moments the benchmark was not running at all.
struct clock_type {
    using time_point = double;
    static time_point now() {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    }
};

struct options {
    double seconds = 0.3;
    bool quick = false;
    const char *data = nullptr;
};

struct measurement {
    bool refused = false; // the parser reported an error on some document
    double parse = 0;     // median seconds to parse every document of the input
    double release = 0;   // median seconds to release the trees
    size_t runs = 0;
    size_t peak = 0;   // heap bytes at the highest point while parsing
    size_t held = 0;   // heap bytes the finished trees hold
    size_t blocks = 0; // heap blocks taken while parsing
};

double seconds_between(clock_type::time_point a, clock_type::time_point b) {
    return b - a;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The writable copies one run parses, restored from the originals before
// every run.
struct copies {
    const inputs::input &source;
    std::vector<std::string> texts;
    std::vector<void *> trees;

    explicit copies(const inputs::input &in)
        : source(in), texts(in.documents), trees(in.documents.size(), nullptr) {}

    void refresh() {
        for (size_t i = 0; i < texts.size(); ++i) {
            memcpy(texts[i].data(), source.documents[i].data(), texts[i].size());
        }
    }
};

constexpr double single_run_above = 2.0; // seconds

measurement measure(const peers::peer &p, const inputs::input &in, const options &opt) {
    measurement m;
    copies work(in);

    // The first run measures the heap and warms the caches. The timed runs
    // after it do without the heap accounting, which would otherwise charge
    // parsers by the number of blocks they take.
    work.refresh();
    heap::start();
    auto t0 = clock_type::now();
    for (size_t i = 0; i < work.texts.size(); ++i) {
        work.trees[i] = p.parse(work.texts[i].data(), work.texts[i].size());
    }
    auto t1 = clock_type::now();
    m.peak = heap::peak();
    m.held = heap::held();
    m.blocks = heap::blocks();
    for (void *tree : work.trees) {
        m.refused = m.refused || p.failed(tree);
        p.release(tree);
    }
    heap::stop();
    if (m.refused) {
        return m;
    }

    double first = seconds_between(t0, t1);
    if (first > single_run_above) {
        // A parser this slow on the input is reported from its one run, so
        // that quadratic peers do not hold up the whole comparison.
        m.parse = first;
        m.runs = 1;
        return m;
    }
    size_t runs = first > 0 ? static_cast<size_t>(opt.seconds / first) : 1000;
    runs = std::clamp<size_t>(runs, 5, 1000);
    std::vector<double> parse_times, release_times;
    parse_times.reserve(runs);
    release_times.reserve(runs);
    for (size_t r = 0; r < runs; ++r) {
        work.refresh();
        auto a = clock_type::now();
        for (size_t i = 0; i < work.texts.size(); ++i) {
            work.trees[i] = p.parse(work.texts[i].data(), work.texts[i].size());
        }
        auto b = clock_type::now();
        for (void *tree : work.trees) {
            p.release(tree);
        }
        auto c = clock_type::now();
        parse_times.push_back(seconds_between(a, b));
        release_times.push_back(seconds_between(b, c));
    }
    m.parse = median(parse_times);
    m.release = median(release_times);
    m.runs = runs;
    return m;
}

// Elements in the input, counted on ezxml's trees.
size_t count_elements(const inputs::input &in) {
    size_t n = 0;
    for (const std::string &d : in.documents) {
        std::string text = d;
        ezxml *doc = ezxml_parse_str(text.data(), text.size());
        n += peers::count_elements(doc);
        ezxml_free(doc);
    }
    return n;
}

// The documents of the input that every parser accepts; a file that one of
// them refuses cannot be compared.
size_t keep_accepted(inputs::input &in) {
    size_t dropped = 0;
    std::vector<std::string> kept;
    for (std::string &d : in.documents) {
        bool all = true;
        for (const peers::peer &p : peers::all) {
            std::string text = d;
            void *tree = p.parse(text.data(), text.size());
            all = all && !p.failed(tree);
            p.release(tree);
        }
        if (all) {
            kept.push_back(std::move(d));
        } else {
            ++dropped;
        }
    }
    in.documents = std::move(kept);
    return dropped;
}

std::vector<inputs::input> comparison_inputs(const options &opt, std::vector<std::string> &notes) {
    using namespace inputs;
    std::vector<input> list;
    std::vector<size_t> provisioning_sizes = {4u << 10, 64u << 10, 1u << 20, 10u << 20};
    if (opt.quick) {
        provisioning_sizes = {4u << 10, 1u << 20};
    }
    for (size_t size : provisioning_sizes) {
        list.push_back({"provisioning " + size_label(size), {provisioning(size)}});
    }
    size_t generated = 1u << 20;
    list.push_back({"text-heavy " + size_label(generated), {text_heavy(generated)}});
    list.push_back({"attribute-heavy " + size_label(generated), {attribute_heavy(generated)}});
    list.push_back({"nested, depth 64, " + size_label(generated), {nested(generated)}});
    list.push_back({"references " + size_label(generated), {references(generated)}});
    list.push_back({"200000 children, one name", {children(200000, true)}});
    list.push_back({"200000 children, many names", {children(200000, false)}});
    list.push_back({"100000 attributes on one tag", {attributes_on_one_tag(100000)}});
    list.push_back({"one chain, depth 10000", {chain(10000)}});

    for (const file_group &group : real_file_groups()) {
        input in{group.label, find_files(group), false};
        size_t found = in.documents.size();
        if (found == 0) {
            notes.push_back(std::string(group.label) + ": no files on this machine");
            continue;
        }
        size_t dropped = keep_accepted(in);
        if (dropped) {
            notes.push_back(format("%s: %zu of %zu files left out, refused by some parser",
                                   group.label, dropped, found));
        }
        if (in.documents.empty()) {
            continue;
        }
        in.label = format("%s (%zu files)", group.label, in.documents.size());
        list.push_back(std::move(in));
    }
    return list;
}

std::string size_text(size_t bytes) {
    if (bytes >= (10u << 20)) {
        return inputs::format("%.1f MiB", bytes / 1048576.0);
    }
    if (bytes >= (1u << 20)) {
        return inputs::format("%.2f MiB", bytes / 1048576.0);
    }
    return inputs::format("%.1f KiB", bytes / 1024.0);
}

constexpr size_t peer_count = sizeof peers::all / sizeof peers::all[0];

struct row {
    const inputs::input *in;
    size_t elements;
    measurement results[peer_count];
};

void print_throughput(const std::vector<row> &rows) {
    printf("\nParse throughput, MB/s (median); in brackets each peer's ratio to ezxml, above 1 = "
           "peer faster\n");
    printf("%-36s %10s %9s", "input", "size", "ezxml");
    for (size_t k = 1; k < peer_count; ++k) {
        printf(" %16s", peers::all[k].name);
    }
    printf("\n");
    for (const row &r : rows) {
        size_t bytes = r.in->bytes();
        printf("%-36s %10s", r.in->label.c_str(), size_text(bytes).c_str());
        const measurement &own = r.results[0];
        double own_rate = own.refused ? 0 : bytes / 1e6 / own.parse;
        if (own.refused) {
            printf(" %9s", "refused");
        } else {
            printf(" %9.1f", own_rate);
        }
        for (size_t k = 1; k < peer_count; ++k) {
            const measurement &m = r.results[k];
            if (m.refused) {
                printf(" %16s", "refused");
                continue;
            }
            double rate = bytes / 1e6 / m.parse;
            const char *shown = rate < 1 ? "%.3f" : "%.1f";
            std::string cell = inputs::format(shown, rate);
            if (!own.refused) {
                cell +=
                    inputs::format(rate / own_rate < 0.01 ? " (%.4f)" : " (%.2f)", rate / own_rate);
            }
            if (m.runs == 1) {
                cell += "*";
            }
            printf(" %16s", cell.c_str());
        }
        printf("\n");
    }
    printf("(* one run only: the first took more than %.0f s)\n", single_run_above);
}

bool write_data(const char *path, const std::vector<row> &rows) {
    FILE *out = fopen(path, "w");
    if (!out) {
        return false;
    }
    fprintf(out, "input");
    for (const peers::peer &p : peers::all) {
        fprintf(out, "\t%s", p.name);
    }
    fprintf(out, "\n");
    for (const row &r : rows) {
        fprintf(out, "\"%s\"", r.in->label.c_str());
        for (const measurement &m : r.results) {
            fprintf(out, "\t%.3f", m.refused ? 0 : r.in->bytes() / 1e6 / m.parse);
        }
        fprintf(out, "\n");
    }
    return fclose(out) == 0;
}

void print_memory(const std::vector<row> &rows) {
    printf("\nHeap: peak while parsing (KiB), and bytes the finished tree holds per element; "
           "in brackets\neach peer's ratio to ezxml, above 1 = peer needs more\n");
    printf("%-36s %9s %9s %7s", "input", "elements", "ezxml", "B/elem");
    for (size_t k = 1; k < peer_count; ++k) {
        printf(" %17s %14s", peers::all[k].name, "B/elem");
    }
    printf("\n");
    for (const row &r : rows) {
        printf("%-36s %9zu", r.in->label.c_str(), r.elements);
        const measurement &own = r.results[0];
        double own_per = r.elements ? static_cast<double>(own.held) / r.elements : 0;
        printf(" %9.0f %7.1f", own.peak / 1024.0, own_per);
        for (size_t k = 1; k < peer_count; ++k) {
            const measurement &m = r.results[k];
            if (m.refused) {
                printf(" %17s %14s", "refused", "");
                continue;
            }
            double per = r.elements ? static_cast<double>(m.held) / r.elements : 0;
            std::string peak = inputs::format("%.0f (%.2f)", m.peak / 1024.0,
                                              own.peak ? double(m.peak) / own.peak : 0);
            std::string held = inputs::format("%.1f (%.2f)", per, own_per ? per / own_per : 0);
            printf(" %17s %14s", peak.c_str(), held.c_str());
        }
        printf("\n");
    }
}

// A generated shape at any size, for the scaling table.
struct shape {
    std::string label;
    std::string (*make)(size_t size);
    int scaling_shape; // index into scaling::all_shapes, or -1
};

template <int k> std::string scaling_document(size_t size) {
    return scaling::document(scaling::all_shapes[k], size);
}

void print_scaling(const options &opt) {
    std::vector<shape> shapes = {
        {"provisioning", inputs::provisioning, -1},
        {"text-heavy", inputs::text_heavy, -1},
        {"attribute-heavy", inputs::attribute_heavy, -1},
        {"nested, depth 64", inputs::nested, -1},
        {"references", inputs::references, -1},
        {"", scaling_document<0>, 0},
        {"", scaling_document<1>, 1},
        {"", scaling_document<2>, 2},
        {"", scaling_document<3>, 3},
        {"", scaling_document<4>, 4},
        {"", scaling_document<5>, 5},
        {"", scaling_document<6>, 6},
        {"", scaling_document<7>, 7},
    };
    std::vector<size_t> sizes = {10u << 10, 1u << 20, 10u << 20};
    if (opt.quick) {
        sizes = {10u << 10, 1u << 20};
    }

    printf("\nParse time per input byte, ns/B (median), from %s to %s; last column: largest "
           "size over smallest\n",
           inputs::size_label(sizes.front()).c_str(), inputs::size_label(sizes.back()).c_str());
    printf("%-22s", "shape");
    for (const char *who : {"ezxml", "pugixml"}) {
        for (size_t size : sizes) {
            printf(" %8s",
                   (std::string(who).substr(0, 1) + " " + inputs::size_label(size)).c_str());
        }
        printf(" %6s", "ratio");
    }
    printf("\n");
    for (const shape &s : shapes) {
        const char *label = s.scaling_shape >= 0
                                ? scaling::shape_name(scaling::all_shapes[s.scaling_shape])
                                : s.label.c_str();
        printf("%-22s", label);
        for (size_t k = 0; k < 2; ++k) {
            std::vector<double> per_byte;
            for (size_t size : sizes) {
                inputs::input in{label, {s.make(size)}};
                measurement m = measure(peers::all[k], in, opt);
                if (m.refused) {
                    printf(" %8s", "refused");
                    per_byte.push_back(0);
                    continue;
                }
                per_byte.push_back(m.parse * 1e9 / in.bytes());
                printf(" %8.2f", per_byte.back());
            }
            if (per_byte.front() > 0 && per_byte.back() > 0) {
                printf(" %6.2f", per_byte.back() / per_byte.front());
            } else {
                printf(" %6s", "-");
            }
        }
        printf("\n");
        fflush(stdout);
    }
    printf("(pugixml leaves references to entities that a DOCTYPE declares unexpanded, so it "
           "does less\nwork than ezxml on growing_references and entity_chain.)\n");
}

} // namespace

int main(int argc, char **argv) {
    options opt;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            opt.seconds = atof(argv[++i]);
        } else if (strcmp(argv[i], "--quick") == 0) {
            opt.quick = true;
        } else if (strcmp(argv[i], "--data") == 0 && i + 1 < argc) {
            opt.data = argv[++i];
        } else {
            fprintf(stderr, "usage: %s [--seconds S] [--quick] [--data FILE]\n", argv[0]);
            return 2;
        }
    }
    xmlInitParser();

    std::vector<std::string> notes;
    std::vector<inputs::input> list = comparison_inputs(opt, notes);
    std::vector<row> rows;
    for (const inputs::input &in : list) {
        row r{&in, count_elements(in), {}};
        for (size_t k = 0; k < peer_count; ++k) {
            r.results[k] = measure(peers::all[k], in, opt);
        }
        rows.push_back(r);
        fprintf(stderr, "measured %s\n", in.label.c_str());
    }

    print_throughput(rows);
    if (opt.data && !write_data(opt.data, rows)) {
        fprintf(stderr, "cannot write %s\n", opt.data);
    }
    print_memory(rows);
    for (const std::string &note : notes) {
        printf("note: %s\n", note.c_str());
    }

    size_t compared = 0, at_least = 0;
    for (const row &r : rows) {
        if (!r.in->compared || r.results[0].refused || r.results[1].refused) {
            continue;
        }
        ++compared;
        if (r.results[0].parse <= r.results[1].parse) {
            ++at_least;
        }
    }
    printf("\nezxml parses at least as fast as pugixml on %zu of %zu provisioning-shaped and "
           "generated inputs.\n",
           at_least, compared);
    fflush(stdout);

    print_scaling(opt);
    xmlCleanupParser();
    return 0;
}
