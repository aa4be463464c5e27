// THashList with ten million short decimal keys, the shape of the item serial
// maps of a large server, side by side with std::unordered_map as a yardstick.
//
// Counters:
//   per_op           time per Add or Find (key text generation included; see
//                    BM_KeyText for its share)
//   B_per_entry      heap growth (mallinfo2: in-use arena bytes + mmapped
//                    bytes) while the container was filled, over the entries
//   B_excl_value     the same less the value's own size (int32)
//   B_buckets        the bucket array's share of B_per_entry
//   RSS_B_per_entry  resident set growth over the entries (coarser; the heap
//                    may reuse pages freed by an earlier benchmark)
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "support/hashlist.h"

namespace {

using razere::THashList;

constexpr int32_t kEntries = 10'000'000;

// The i-th key: the decimal text of a 31-bit serial. Multiplying by an odd
// constant modulo 2^31 is a bijection, so the keys are distinct and spread
// like real serials (mostly nine or ten digits).
struct KeyText {
  char buf[16];
  std::string_view Of(int32_t i) {
    const uint32_t v = (static_cast<uint32_t>(i) * 2654435761u) & 0x7FFFFFFFu;
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return {buf, static_cast<size_t>(r.ptr - buf)};
  }
};

// Visits every key once in a scattered order (7919 is prime to 10^7).
inline int32_t ProbeIndex(int64_t i) { return static_cast<int32_t>((i * 7919 + 13) % kEntries); }

size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

size_t ResidentBytes() {
  long pages = 0;
  long resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<size_t>(resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

void SetPerOp(benchmark::State& state, double ops) {
  state.counters["per_op"] =
      benchmark::Counter(ops, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void SetMemory(benchmark::State& state, size_t heap, size_t rss, size_t bucketBytes) {
  const double n = kEntries;
  state.counters["B_per_entry"] = static_cast<double>(heap) / n;
  state.counters["B_excl_value"] = static_cast<double>(heap) / n - static_cast<double>(sizeof(int32_t));
  state.counters["B_buckets"] = static_cast<double>(bucketBytes) / n;
  state.counters["RSS_B_per_entry"] = static_cast<double>(rss) / n;
}

void BM_KeyText(benchmark::State& state) {
  KeyText key;
  for (auto _ : state) {
    for (int32_t i = 0; i < kEntries; ++i) benchmark::DoNotOptimize(key.Of(i).data());
  }
  SetPerOp(state, kEntries);
}

void BM_HashListAdd(benchmark::State& state) {
  const auto buckets = static_cast<int32_t>(state.range(0));
  KeyText key;
  size_t heap = 0;
  size_t rss = 0;
  for (auto _ : state) {
    state.PauseTiming();
    malloc_trim(0);
    const size_t heap0 = HeapInUse();
    const size_t rss0 = ResidentBytes();
    state.ResumeTiming();

    auto list = std::make_unique<THashList<int32_t>>(buckets);
    for (int32_t i = 0; i < kEntries; ++i) list->Add(key.Of(i), i);

    state.PauseTiming();
    heap = HeapInUse() - heap0;
    rss = ResidentBytes() - rss0;
    if (list->Count() != kEntries) state.SkipWithError("count mismatch");
    list.reset();
    state.ResumeTiming();
  }
  SetPerOp(state, kEntries);
  SetMemory(state, heap, rss, static_cast<size_t>(buckets) * sizeof(void*));
}

void BM_HashListFind(benchmark::State& state) {
  const auto buckets = static_cast<int32_t>(state.range(0));
  const int64_t probes = state.range(1);
  KeyText key;
  THashList<int32_t> list(buckets);
  for (int32_t i = 0; i < kEntries; ++i) list.Add(key.Of(i), i);
  for (auto _ : state) {
    int64_t misses = 0;
    for (int64_t i = 0; i < probes; ++i) {
      const int32_t k = ProbeIndex(i);
      const int32_t* v = list.Find(key.Of(k));
      if (!v || *v != k) ++misses;
    }
    if (misses) state.SkipWithError("lookup failed");
  }
  SetPerOp(state, static_cast<double>(probes));
}

void BM_UnorderedMapAdd(benchmark::State& state) {
  KeyText key;
  size_t heap = 0;
  size_t rss = 0;
  size_t bucketBytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    malloc_trim(0);
    const size_t heap0 = HeapInUse();
    const size_t rss0 = ResidentBytes();
    state.ResumeTiming();

    auto map = std::make_unique<std::unordered_map<std::string, int32_t>>();
    for (int32_t i = 0; i < kEntries; ++i) map->emplace(key.Of(i), i);

    state.PauseTiming();
    heap = HeapInUse() - heap0;
    rss = ResidentBytes() - rss0;
    bucketBytes = map->bucket_count() * sizeof(void*);
    map.reset();
    state.ResumeTiming();
  }
  SetPerOp(state, kEntries);
  SetMemory(state, heap, rss, bucketBytes);
}

void BM_UnorderedMapFind(benchmark::State& state) {
  const int64_t probes = state.range(0);
  KeyText key;
  std::unordered_map<std::string, int32_t> map;
  for (int32_t i = 0; i < kEntries; ++i) map.emplace(key.Of(i), i);
  std::string probe;
  for (auto _ : state) {
    int64_t misses = 0;
    for (int64_t i = 0; i < probes; ++i) {
      const int32_t k = ProbeIndex(i);
      probe.assign(key.Of(k));
      auto it = map.find(probe);
      if (it == map.end() || it->second != k) ++misses;
    }
    if (misses) state.SkipWithError("lookup failed");
  }
  SetPerOp(state, static_cast<double>(probes));
}

// 65,536 buckets is what the merge stages create; 2^24 shows the same list
// with chains of less than one entry on average.
BENCHMARK(BM_KeyText)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HashListAdd)->Arg(65536)->Arg(1 << 24)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HashListFind)
    ->Args({65536, 200'000})
    ->Args({1 << 24, kEntries})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ;
BENCHMARK(BM_UnorderedMapAdd)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnorderedMapFind)->Arg(kEntries)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
