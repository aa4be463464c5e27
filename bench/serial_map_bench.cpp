// The item serial map (ItemSerialMap, 8 bytes an entry) side by side with the
// hash list of decimal keys it replaced, filled the way the character stage
// fills it: ten million old serials, new serials handed out in sequence.
//
// Counters:
//   per_op        time per Add or Find
//   B_per_entry   heap growth (mallinfo2: in-use arena bytes + mmapped bytes)
//                 while the map was filled, over the entries
//   vs_hashlist   B_per_entry of the hash list over that of the serial map
//                 (BM_SerialMapAdd only; both filled in the same run)
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <charconv>
#include <cstdint>
#include <memory>
#include <string_view>

#include "merge/item_serials.h"
#include "support/hashlist.h"

namespace {

using razere::ItemSerialMap;
using razere::THashList;

constexpr int32_t kEntries = 10'000'000;

// The i-th old serial: a bijection on 31 bits, spread like real serials.
inline int32_t OldSerial(int32_t i) {
  return static_cast<int32_t>((static_cast<uint32_t>(i) * 2654435761u) & 0x7FFFFFFFu);
}
// Visits every entry once in a scattered order (7919 is prime to 10^7).
inline int32_t ProbeIndex(int64_t i) { return static_cast<int32_t>((i * 7919 + 13) % kEntries); }

size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

void SetPerOp(benchmark::State& state, double ops) {
  state.counters["per_op"] =
      benchmark::Counter(ops, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Heap bytes per entry of a container filled by fill().
template <class Make, class Fill>
double BytesPerEntry(Make make, Fill fill) {
  malloc_trim(0);
  const size_t heap0 = HeapInUse();
  auto c = make();
  fill(*c);
  const double b = static_cast<double>(HeapInUse() - heap0) / kEntries;
  c.reset();
  malloc_trim(0);
  return b;
}

void FillSerialMap(ItemSerialMap& m) {
  for (int32_t i = 0; i < kEntries; ++i) m.Add(OldSerial(i), i + 1);
}

void FillHashList(THashList<int32_t>& l) {
  char buf[12];
  for (int32_t i = 0; i < kEntries; ++i) {
    const auto r = std::to_chars(buf, buf + sizeof buf, OldSerial(i));
    l.Add(std::string_view(buf, static_cast<size_t>(r.ptr - buf)), i + 1);
  }
}

void BM_SerialMapAdd(benchmark::State& state) {
  double serial = 0;
  for (auto _ : state) {
    serial = BytesPerEntry([] { return std::make_unique<ItemSerialMap>(); }, FillSerialMap);
  }
  const double hash = BytesPerEntry([] { return std::make_unique<THashList<int32_t>>(65536); }, FillHashList);
  SetPerOp(state, kEntries);
  state.counters["B_per_entry"] = serial;
  state.counters["vs_hashlist"] = hash / serial;
}

void BM_HashListAdd(benchmark::State& state) {
  double b = 0;
  for (auto _ : state) b = BytesPerEntry([] { return std::make_unique<THashList<int32_t>>(65536); }, FillHashList);
  SetPerOp(state, kEntries);
  state.counters["B_per_entry"] = b;
}

// Look-ups by number (the text lists) after all additions, as in a run.
void BM_SerialMapFind(benchmark::State& state) {
  const int64_t probes = state.range(0);
  ItemSerialMap m;
  FillSerialMap(m);
  for (auto _ : state) {
    int64_t misses = 0;
    for (int64_t i = 0; i < probes; ++i) {
      const int32_t k = ProbeIndex(i);
      const int32_t* v = m.Find(OldSerial(k));
      if (!v || *v != k + 1) ++misses;
    }
    if (misses) state.SkipWithError("lookup failed");
  }
  SetPerOp(state, static_cast<double>(probes));
}

void BM_HashListFind(benchmark::State& state) {
  const int64_t probes = state.range(0);
  THashList<int32_t> l(65536);
  FillHashList(l);
  char buf[12];
  for (auto _ : state) {
    int64_t misses = 0;
    for (int64_t i = 0; i < probes; ++i) {
      const int32_t k = ProbeIndex(i);
      const auto r = std::to_chars(buf, buf + sizeof buf, OldSerial(k));
      const int32_t* v = l.Find(std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
      if (!v || *v != k + 1) ++misses;
    }
    if (misses) state.SkipWithError("lookup failed");
  }
  SetPerOp(state, static_cast<double>(probes));
}

BENCHMARK(BM_SerialMapAdd)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HashListAdd)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SerialMapFind)->Arg(200'000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HashListFind)->Arg(200'000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
