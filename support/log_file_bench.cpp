// The cost of one log entry against the size of the log already there: appending
// reads only the file's first and last bytes, so a 100 MB log should cost the same
// as an empty one.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/clock.h"
#include "support/log_file.h"

namespace zendrel {
namespace {

void BM_AppendEntry(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "zendrel-log-bench-XXXXXX").string();
  const std::filesystem::path folder = mkdtemp(pattern.data());
  const std::filesystem::path path = folder / "Zendrel.log";
  {
    // A log of the given size made of finished lines, written out (not sparse).
    std::ofstream out(path, std::ios::binary);
    const std::string line = "\r\n23/09/2021 14:05:09 - MovimentoPontos: Erro interno do servidor!!!\r\n";
    for (std::int64_t written = 0; written < state.range(0); written += static_cast<std::int64_t>(line.size())) {
      out << line;
    }
  }
  const FixedClock clock(DateTime{2021, 9, 23, 14, 5, 9, 0});
  const LogFile log(path, clock);
  for (auto _ : state) log.Append("MovimentoPontos: Erro interno do servidor!!!");
  std::filesystem::remove_all(folder);
}

BENCHMARK(BM_AppendEntry)->Arg(0)->Arg(1 << 20)->Arg(100 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zendrel

BENCHMARK_MAIN();
