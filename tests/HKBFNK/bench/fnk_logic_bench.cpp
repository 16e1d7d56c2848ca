// Cost of the plain decisions per key press, against a bare scan of the same
// level list as the baseline.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "fnk_logic.h"

namespace {

std::vector<uint8_t> Levels(size_t n) {
  std::vector<uint8_t> l(n);
  for (size_t i = 0; i < n; ++i) l[i] = static_cast<uint8_t>(i * 255 / (n > 1 ? n - 1 : 1));
  return l;
}

void BM_BaselineScan(benchmark::State& state) {
  const auto l = Levels(static_cast<size_t>(state.range(0)));
  uint32_t cur = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(hkbfnk::FindLevel(l.data(), l.size(), cur));
    cur = (cur + 37) & 0xFF;
  }
}
BENCHMARK(BM_BaselineScan)->Arg(11)->Arg(101)->Arg(256);

void BM_StepLevelIndex(benchmark::State& state) {
  const auto l = Levels(static_cast<size_t>(state.range(0)));
  uint32_t cur = 0;
  int dir = hkbfnk::kStepUp;
  for (auto _ : state) {
    benchmark::DoNotOptimize(hkbfnk::StepLevelIndex(l.data(), l.size(), cur, dir));
    cur = (cur + 37) & 0xFF;
    dir ^= 1;  // 2 <-> 3
  }
}
BENCHMARK(BM_StepLevelIndex)->Arg(11)->Arg(101)->Arg(256);

void BM_TurnPaths(benchmark::State& state) {
  std::vector<hkbfnk::PathTarget> paths(static_cast<size_t>(state.range(0)), {1, 1});
  for (auto _ : state) {
    benchmark::DoNotOptimize(hkbfnk::TurnPaths(paths.data(), paths.size(), hkbfnk::kTopologyClone));
  }
}
BENCHMARK(BM_TurnPaths)->Arg(1)->Arg(4);

}  // namespace

BENCHMARK_MAIN();
