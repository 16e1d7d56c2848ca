// Cost of decoding one report, against a baseline that only touches the
// report bytes the same way.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "report_decoder.h"

namespace {

using namespace hkbps2;

class CountingSink final : public IReportSink {
 public:
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    benchmark::DoNotOptimize(message);
    benchmark::DoNotOptimize(wParam);
    benchmark::DoNotOptimize(lParam);
    ++posted;
  }
  uintptr_t SetLongPressTimer(uint32_t id, uint32_t) override { return id + 1; }
  void KillLongPressTimer(uint32_t) override {}
  void RetrySessionRegistration() override { benchmark::ClobberMemory(); }
  uint64_t posted = 0;
};

// A realistic stream: mostly repeats and releases, some fresh codes.
std::vector<uint8_t> Stream(size_t reports) {
  std::mt19937 rng(42);
  std::vector<uint8_t> out(reports * kReportSize);
  static const uint8_t kKinds[] = {1, 1, 2, 4, 5};
  for (size_t i = 0; i < reports; ++i) {
    uint8_t* r = &out[i * kReportSize];
    r[0] = kKinds[rng() % 5];
    r[1] = static_cast<uint8_t>(1u << (rng() % 8)) & static_cast<uint8_t>((rng() % 3) ? 0xFF : 0);
    r[3] = static_cast<uint8_t>((rng() % 4) ? rng() : 0);
    r[4] = static_cast<uint8_t>((rng() % 8) ? 0 : rng());
  }
  return out;
}

constexpr size_t kReports = 4096;

// What a device sends for real presses: a report when a button goes down,
// the same report while it stays down, and one when it comes up.
std::vector<uint8_t> PressStream(size_t reports) {
  std::mt19937 rng(7);
  std::vector<uint8_t> out;
  out.reserve(reports * kReportSize);
  while (out.size() < reports * kReportSize) {
    uint8_t down[kReportSize] = {};
    uint8_t up[kReportSize] = {};
    switch (rng() % 4) {
      case 0:
        down[0] = up[0] = 1;
        down[3] = static_cast<uint8_t>(rng());
        break;
      case 1:
        down[0] = up[0] = 2;
        down[1] = static_cast<uint8_t>(4u << (rng() % 5));
        break;
      case 2:
        down[0] = up[0] = 4;
        down[1] = static_cast<uint8_t>(1u << (rng() % 5));
        break;
      default:
        down[0] = up[0] = 5;
        down[3] = static_cast<uint8_t>(1 + rng() % 200);
        break;
    }
    const int repeats = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < repeats; ++i) out.insert(out.end(), down, down + kReportSize);
    out.insert(out.end(), up, up + kReportSize);
  }
  out.resize(reports * kReportSize);
  return out;
}

void DecodeStream(benchmark::State& state, const std::vector<uint8_t>& stream) {
  CountingSink sink;
  CReportDecoder decoder(sink);
  for (auto _ : state) {
    for (size_t i = 0; i < kReports; ++i) decoder.Decode(&stream[i * kReportSize]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kReports));
  state.counters["ns_per_report"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kReports),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
void BM_DecodeRandom(benchmark::State& state) { DecodeStream(state, Stream(kReports)); }
BENCHMARK(BM_DecodeRandom);
void BM_DecodePresses(benchmark::State& state) { DecodeStream(state, PressStream(kReports)); }
BENCHMARK(BM_DecodePresses);

// Baseline: read the same bytes and make one indirect call per report.
void BM_Baseline(benchmark::State& state) {
  const std::vector<uint8_t> stream = Stream(kReports);
  CountingSink sink;
  IReportSink& s = sink;
  for (auto _ : state) {
    for (size_t i = 0; i < kReports; ++i) {
      const uint8_t* r = &stream[i * kReportSize];
      benchmark::DoNotOptimize(r[0] + r[1] + r[3] + r[4]);
      s.RetrySessionRegistration();
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kReports));
  state.counters["ns_per_report"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kReports),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Baseline);

}  // namespace

BENCHMARK_MAIN();
