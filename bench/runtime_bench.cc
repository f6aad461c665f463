// The platform layer under load: the buffered file stream with record-sized
// reads and writes, the memory stream growing by small writes, and the
// POSIX name lookup that finds names whatever their case in a large
// directory (what a *.MSG base with thousands of messages costs).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "runtime/file_system.h"
#include "runtime/stream.h"

namespace kelvane {
namespace {

std::string BenchDir(const char* Name) {
  auto Dir = std::filesystem::temp_directory_path() / (std::string("kelvane-bench-") + Name);
  std::filesystem::remove_all(Dir);
  std::filesystem::create_directories(Dir);
  return Dir.string();
}

void BM_BufStreamWriteRecords(benchmark::State& State) {
  std::string Dir = BenchDir("write");
  std::string Record(static_cast<size_t>(State.range(0)), 'r');
  const int64_t Total = 8 << 20;
  for (auto _ : State) {
    tBufStream S(Dir + "/w.bin", fmCreate);
    for (int64_t Done = 0; Done < Total; Done += static_cast<int64_t>(Record.size())) S.WriteStr(Record);
    if (!S.Close()) State.SkipWithError("close failed");
  }
  State.SetBytesProcessed(State.iterations() * Total);
  std::filesystem::remove_all(Dir);
}
BENCHMARK(BM_BufStreamWriteRecords)->Arg(16)->Arg(238)->Arg(4096);

void BM_BufStreamReadRecords(benchmark::State& State) {
  std::string Dir = BenchDir("read");
  const int64_t Total = 8 << 20;
  {
    tBufStream S(Dir + "/r.bin", fmCreate);
    S.WriteStr(std::string(Total, 'x'));
  }
  std::string Record(static_cast<size_t>(State.range(0)), '\0');
  for (auto _ : State) {
    tBufStream S(Dir + "/r.bin", fmOpen | fmDenyNone | fmRead);
    for (int64_t Done = 0; Done + static_cast<int64_t>(Record.size()) <= Total; Done += static_cast<int64_t>(Record.size()))
      S.Read(Record.data(), static_cast<uint32_t>(Record.size()));
    benchmark::DoNotOptimize(Record.data());
  }
  State.SetBytesProcessed(State.iterations() * Total);
  std::filesystem::remove_all(Dir);
}
BENCHMARK(BM_BufStreamReadRecords)->Arg(16)->Arg(238)->Arg(4096);

void BM_MemoryStreamAppend(benchmark::State& State) {
  std::string Line(72, 'l');
  for (auto _ : State) {
    tMemoryStream M;
    for (int I = 0; I < 100000; ++I) M.WriteStr(Line);
    benchmark::DoNotOptimize(M.GetSize());
  }
  State.SetBytesProcessed(State.iterations() * 100000 * 72);
}
BENCHMARK(BM_MemoryStreamAppend);

// Creating new message files one after another in a directory that
// already holds Range(0) of them.
void BM_CreateInLargeDirectory(benchmark::State& State) {
  std::string Dir = BenchDir("create");
  int Existing = static_cast<int>(State.range(0));
  for (int I = 1; I <= Existing; ++I) tBufStream(Dir + "/" + std::to_string(I) + ".MSG", fmCreate);
  int Next = Existing + 1;
  for (auto _ : State) {
    tBufStream S(Dir + "\\" + std::to_string(Next++) + ".msg", fmCreate);
    S.WriteStr("x");
  }
  std::filesystem::remove_all(Dir);
}
BENCHMARK(BM_CreateInLargeDirectory)->Arg(10)->Arg(5000);

// Opening an existing file by a name in another case.
void BM_OpenOtherCase(benchmark::State& State) {
  std::string Dir = BenchDir("case");
  int Existing = static_cast<int>(State.range(0));
  for (int I = 1; I <= Existing; ++I) tBufStream(Dir + "/" + std::to_string(I) + ".MSG", fmCreate);
  for (auto _ : State) {
    tBufStream S(Dir + "\\1.msg", fmOpen | fmDenyNone | fmRead);
    benchmark::DoNotOptimize(S.Status);
  }
  std::filesystem::remove_all(Dir);
}
BENCHMARK(BM_OpenOtherCase)->Arg(10)->Arg(5000);

void BM_ListMessages(benchmark::State& State) {
  std::string Dir = BenchDir("list");
  for (int I = 1; I <= 5000; ++I) tBufStream(Dir + "/" + std::to_string(I) + ".msg", fmCreate);
  std::vector<tDirEntry> Entries;
  for (auto _ : State) {
    ListDir(Dir + "\\*.msg", Entries);
    benchmark::DoNotOptimize(Entries.size());
  }
  std::filesystem::remove_all(Dir);
}
BENCHMARK(BM_ListMessages);

}  // namespace
}  // namespace kelvane
