// Loading and storing a large FastEcho configuration (20,000 areas, 2,000
// nodes, about 14 MB), beside a plain copy of the same file through the same
// streams, flushed to the disk the same way. The ratio of the two says what
// the record-by-record handling costs over moving the bytes.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fecfg/feconfig.h"
#include "runtime/file_system.h"
#include "runtime/stream.h"
#include "tools/fegen_lib.h"

namespace {

using namespace kelvane;

// The generated file, written once into a scratch directory.
struct tBenchFiles {
  tBenchFiles() {
    Dir = std::filesystem::temp_directory_path() / "kelvane-fecfg-bench";
    std::filesystem::create_directories(Dir);
    Source = (Dir / "setup.cfg").string();
    Target = (Dir / "copy.cfg").string();
    tFeGenOptions O;
    O.Areas = 20000;
    O.Nodes = 2000;
    std::vector<uint8_t> Bytes = FeGenerate(O);
    Size = Bytes.size();
    std::ofstream(Source, std::ios::binary).write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  }
  ~tBenchFiles() {
    std::error_code Ignored;
    std::filesystem::remove_all(Dir, Ignored);
  }
  std::filesystem::path Dir;
  std::string Source, Target;
  size_t Size = 0;
};

tBenchFiles& Files() {
  static tBenchFiles F;
  return F;
}

void BM_LoadStore(benchmark::State& State) {
  tBenchFiles& F = Files();
  for (auto _ : State) {
    tFastEchoConfig Config;
    if (Config.Load(F.Source) || Config.Store(F.Target)) State.SkipWithError("load or store failed");
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * F.Size));
}
BENCHMARK(BM_LoadStore)->Unit(benchmark::kMillisecond);

void BM_PlainCopy(benchmark::State& State) {
  tBenchFiles& F = Files();
  for (auto _ : State) {
    tBufStream In(F.Source, fmOpen | fmRead | fmDenyNone);
    tBufStream Out(F.Target + ".$$$", fmCreate | fmDenyAll);
    Out.CopyFrom(In, In.GetSize());
    Out.Flush(true);
    bool Failed = In.Status != stOk || Out.Status != stOk || !Out.Close();
    In.Close();
    if (Failed || !ReplaceFile(F.Target + ".$$$", F.Target)) State.SkipWithError("copy failed");
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * F.Size));
}
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond);

// The two halves without the disk: parsing from memory, writing to memory.
void BM_LoadFromMemory(benchmark::State& State) {
  tBenchFiles& F = Files();
  tMemoryStream In;
  {
    tBufStream File(F.Source, fmOpen | fmRead | fmDenyNone);
    In.CopyFrom(File, File.GetSize());
  }
  for (auto _ : State) {
    In.Seek(0);
    tFastEchoConfig Config;
    if (Config.LoadFrom(In)) State.SkipWithError("load failed");
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * F.Size));
}
BENCHMARK(BM_LoadFromMemory)->Unit(benchmark::kMillisecond);

void BM_WriteToMemory(benchmark::State& State) {
  tBenchFiles& F = Files();
  tFastEchoConfig Config;
  if (Config.Load(F.Source)) return State.SkipWithError("load failed");
  for (auto _ : State) {
    tMemoryStream Out;
    Config.WriteTo(Out);
    benchmark::DoNotOptimize(Out.GetSize());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * F.Size));
}
BENCHMARK(BM_WriteToMemory)->Unit(benchmark::kMillisecond);

}  // namespace
