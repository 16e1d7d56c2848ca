// Cost of decoding one report, against two floors measured in the same run:
// a bare scan that only touches the report bytes and makes one indirect call
// per report, and a replay of exactly the sink calls the decoder must make
// for the same stream (its posts, timers and registration attempts, recorded
// once beforehand), so that a stream full of events is not compared with a
// scan that posts nothing.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <utility>
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

void SetRate(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kReports));
  state.counters["ns_per_report"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kReports),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void DecodeStream(benchmark::State& state, const std::vector<uint8_t>& stream) {
  CountingSink sink;
  CReportDecoder decoder(sink);
  for (auto _ : state) {
    for (size_t i = 0; i < kReports; ++i) decoder.Decode(&stream[i * kReportSize]);
    benchmark::ClobberMemory();
  }
  SetRate(state);
}
void BM_DecodeRandom(benchmark::State& state) { DecodeStream(state, Stream(kReports)); }
BENCHMARK(BM_DecodeRandom);
void BM_DecodePresses(benchmark::State& state) { DecodeStream(state, PressStream(kReports)); }
BENCHMARK(BM_DecodePresses);

// Floor: read the same bytes and make one indirect call per report.
void BareScan(benchmark::State& state, const std::vector<uint8_t>& stream) {
  CountingSink sink;
  IReportSink& s = sink;
  for (auto _ : state) {
    for (size_t i = 0; i < kReports; ++i) {
      const uint8_t* r = &stream[i * kReportSize];
      benchmark::DoNotOptimize(r[0] + r[1] + r[3] + r[4]);
      s.RetrySessionRegistration();
    }
  }
  SetRate(state);
}
void BM_Baseline(benchmark::State& state) { BareScan(state, Stream(kReports)); }
BENCHMARK(BM_Baseline);
void BM_BaselinePresses(benchmark::State& state) { BareScan(state, PressStream(kReports)); }
BENCHMARK(BM_BaselinePresses);

// The sink calls one decoding of a stream makes, report by report: its
// posts and timer calls in order, and how many registration attempts.
struct Post {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};
struct Timer {
  bool set;
  uint32_t id;
};
struct ReportCalls {
  uint32_t postEnd;   // one past its last post
  uint32_t timerEnd;  // one past its last timer call
  uint32_t registrations;
};
struct Recorded {
  std::vector<Post> posts;
  std::vector<Timer> timers;
  std::vector<ReportCalls> reports;
};

class RecordingSink final : public IReportSink {
 public:
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    r.posts.push_back({message, wParam, lParam});
  }
  uintptr_t SetLongPressTimer(uint32_t id, uint32_t) override {
    r.timers.push_back({true, id});
    return id + 1;
  }
  void KillLongPressTimer(uint32_t id) override { r.timers.push_back({false, id}); }
  void RetrySessionRegistration() override { ++registrations; }
  Recorded r;
  uint32_t registrations = 0;
};

Recorded Record(const std::vector<uint8_t>& stream) {
  RecordingSink sink;
  CReportDecoder decoder(sink);
  for (size_t i = 0; i < kReports; ++i) {
    sink.registrations = 0;
    decoder.Decode(&stream[i * kReportSize]);
    sink.r.reports.push_back({static_cast<uint32_t>(sink.r.posts.size()),
                              static_cast<uint32_t>(sink.r.timers.size()), sink.registrations});
  }
  return std::move(sink.r);
}

// Floor: touch the bytes as the bare scan does, then make the recorded calls
// of each report through the same interface, with nothing left to decide but
// how many calls of each sort there are.
void Replay(benchmark::State& state, const std::vector<uint8_t>& stream) {
  const Recorded recorded = Record(stream);
  CountingSink sink;
  IReportSink& s = sink;
  for (auto _ : state) {
    uint32_t post = 0;
    uint32_t timer = 0;
    for (size_t i = 0; i < kReports; ++i) {
      const uint8_t* r = &stream[i * kReportSize];
      benchmark::DoNotOptimize(r[0] + r[1] + r[3] + r[4]);
      const ReportCalls& calls = recorded.reports[i];
      for (; post < calls.postEnd; ++post) {
        const Post& p = recorded.posts[post];
        s.Post(p.message, p.wParam, p.lParam);
      }
      for (; timer < calls.timerEnd; ++timer) {
        const Timer& t = recorded.timers[timer];
        if (t.set) {
          s.SetLongPressTimer(t.id, kLongPressMilliseconds);
        } else {
          s.KillLongPressTimer(t.id);
        }
      }
      for (uint32_t n = 0; n < calls.registrations; ++n) s.RetrySessionRegistration();
    }
    benchmark::ClobberMemory();
  }
  SetRate(state);
}
void BM_ReplayRandom(benchmark::State& state) { Replay(state, Stream(kReports)); }
BENCHMARK(BM_ReplayRandom);
void BM_ReplayPresses(benchmark::State& state) { Replay(state, PressStream(kReports)); }
BENCHMARK(BM_ReplayPresses);

}  // namespace

BENCHMARK_MAIN();
