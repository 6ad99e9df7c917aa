// Parse, write out and free documents of one shape at sizes from 10 KiB to
// 10 MiB. The counters give nanoseconds per input byte for each phase: flat
// across sizes means linear cost; growing with size means a quadratic one.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/scaling_documents.h"
#include "xml/ezxml.h"

namespace {

using clock_type = std::chrono::steady_clock;

double nanoseconds(clock_type::time_point from, clock_type::time_point to) {
    return std::chrono::duration<double, std::nano>(to - from).count();
}

void scaling_run(benchmark::State &state, scaling::shape shape) {
    const std::string text = scaling::document(shape, static_cast<size_t>(state.range(0)));
    double parse = 0, write = 0, release = 0;
    for (auto _ : state) {
        std::string buffer = text;
        auto t0 = clock_type::now();
        ezxml *doc = ezxml_parse_str(buffer.data(), buffer.size());
        auto t1 = clock_type::now();
        if (ezxml_error(doc)[0] != '\0') {
            state.SkipWithError(ezxml_error(doc));
            ezxml_free(doc);
            break;
        }
        char *xml = ezxml_toxml(doc);
        auto t2 = clock_type::now();
        free(xml);
        ezxml_free(doc);
        auto t3 = clock_type::now();
        parse += nanoseconds(t0, t1);
        write += nanoseconds(t1, t2);
        release += nanoseconds(t2, t3);
        state.SetIterationTime(nanoseconds(t0, t3) / 1e9);
    }
    double bytes = static_cast<double>(text.size()) * static_cast<double>(state.iterations());
    state.counters["parse_ns/B"] = parse / bytes;
    state.counters["toxml_ns/B"] = write / bytes;
    state.counters["free_ns/B"] = release / bytes;
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void register_all() {
    for (scaling::shape shape : scaling::all_shapes) {
        benchmark::RegisterBenchmark(scaling::shape_name(shape), scaling_run, shape)
            ->RangeMultiplier(4)
            ->Range(10 << 10, 10 << 20)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
}

} // namespace

int main(int argc, char **argv) {
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
