// Micro-benchmarks of the reply handling that grows with the platform's lists: the
// reply JSON text and the record reading of a 10,000-item product list.
#include <benchmark/benchmark.h>

#include <string>

#include <fmt/format.h>

#include "api/json_records.h"
#include "api/reply_json_text.h"

namespace zendrel {
namespace {

std::string ProductList(int count) {
  std::string list = "[";
  for (int i = 1; i <= count; ++i) {
    list +=
        fmt::format("{}{{\"ean\":\"789{:010}\",\"produto\":\"Produto {} embalagem 500 g\"}}", i > 1 ? "," : "", i, i);
  }
  return list + "]";
}

void BM_ReplyJsonText(benchmark::State& state) {
  const std::string body = ProductList(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ReplyJsonText(body));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
}

void BM_ProductRecords(benchmark::State& state) {
  const std::string wrapped = WrapItems(ReplyJsonText(ProductList(static_cast<int>(state.range(0)))));
  for (auto _ : state) benchmark::DoNotOptimize(TRootClass::FromJsonString(wrapped));
}

BENCHMARK(BM_ReplyJsonText)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProductRecords)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zendrel

BENCHMARK_MAIN();
