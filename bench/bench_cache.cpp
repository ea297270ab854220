// Client cache: a lookup that hits with 100 slots in use (the agent's key mode and a
// suggestion request of ten terms), a lookup that misses, and key building alone.
#include <benchmark/benchmark.h>

#include <string>

#include "ixo.h"
#include "ixo/ixocache.h"

namespace {

const char* const kWords[] = {"apple", "pear",   "plum",   "cherry", "grape",  "melon",
                              "lemon", "orange", "banana", "mango",  "papaya", "kiwi"};

std::string request(int n) {
    std::string terms;
    for (int i = 0; i < 10; ++i) {
        terms += kWords[(n + i * 5) % 12];
        terms += '+';
    }
    return "/qmethod=E&querytext=" + terms + "topic" + std::to_string(n) +
           "x&qnum=10&idnum=0&fromdate=-1&todate=0&attachto=-1";
}

struct FilledCache {
    FilledCache() {
        ixoCreateIxo(&ixo, "127.0.0.1", nullptr, 1, 1);
        ixoSetClientCache(&ixo, 100, 3600, IXO_CACHE_AGENT_MODE);
        for (int i = 0; i < 100; ++i) {
            ixoCacheStore(&ixo, request(i).c_str(), std::string(2000, 'r').c_str());
        }
    }
    ~FilledCache() { ixoDestroyIxo(&ixo); }
    IXO ixo{};
};

void BM_CacheHit100Slots(benchmark::State& state) {
    FilledCache cache;
    const std::string wanted = request(57);
    for (auto _ : state) {
        char* reply = nullptr;
        if (ixoCacheLookup(&cache.ixo, wanted.c_str(), &reply) != 1) state.SkipWithError("miss");
        benchmark::DoNotOptimize(reply);
        memFree(reply);
    }
}
BENCHMARK(BM_CacheHit100Slots);

void BM_CacheMiss100Slots(benchmark::State& state) {
    FilledCache cache;
    const std::string wanted = request(1000);
    for (auto _ : state) {
        char* reply = nullptr;
        benchmark::DoNotOptimize(ixoCacheLookup(&cache.ixo, wanted.c_str(), &reply));
    }
}
BENCHMARK(BM_CacheMiss100Slots);

void BM_CacheKey(benchmark::State& state) {
    const std::string wanted = request(57);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ixo_cache::makeKey(wanted, IXO_CACHE_AGENT_MODE));
    }
}
BENCHMARK(BM_CacheKey);

}  // namespace

BENCHMARK_MAIN();
