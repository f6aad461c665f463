// Reading a *.MSG netmail folder of 10,000 messages the way the netmail
// scan does (open the base, then Exists and ReadMessage for every number up
// to Count), beside reading the same files whole: through a plain 4096-byte
// read loop, and with cat. The ratio to cat is the price of parsing.
// Writing: copying the folder message by message into a new base (each file
// created new) and over an existing copy (each file replaced whole, flushed
// to the disk first), beside cp of the same files.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/requests.h"
#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "msgbase/msgdir.h"
#include "runtime/stream.h"

namespace {

using namespace kelvane;

constexpr int MessageCount = 10000;

// A folder of the typical netmail of requests.h. Made once per run and
// removed at exit.
class tFolder {
 public:
  tFolder() {
    Dir_ = std::filesystem::temp_directory_path() / ("kelvane-msgdir-bench-" + std::to_string(std::rand()));
    std::filesystem::create_directories(Dir_);
    auto Base = OpenBase(std::string("F").append(Dir_.string()), 0);
    tMessage M;
    for (int N = 1; N <= MessageCount; ++N) {
      FillRequest(M, N);
      Base->WriteMessage(N, &M);
    }
    for (const auto& E : std::filesystem::directory_iterator(Dir_))
      if (E.path().extension() == ".msg") Files_.push_back(E.path().string());
  }
  ~tFolder() {
    std::error_code Ignored;
    std::filesystem::remove_all(Dir_, Ignored);
  }
  std::string Path() const { return Dir_.string(); }
  const std::vector<std::string>& Files() const { return Files_; }

 private:
  std::filesystem::path Dir_;
  std::vector<std::string> Files_;
};

tFolder& Folder() {
  static tFolder F;
  return F;
}

void BM_ScanMsgFolder(benchmark::State& State) {
  std::string Id = std::string("F").append(Folder().Path());
  int64_t Read = 0;
  for (auto _ : State) {
    auto Base = OpenBase(Id, 0x3D40);
    tMessage Msg;
    for (int32_t N = 0; N <= Base->Count; ++N) {
      if (!Base->Exists(N)) continue;
      if (!Base->ReadMessage(N, &Msg)) ++Read;
    }
    benchmark::DoNotOptimize(Msg.Text.GetSize());
  }
  State.counters["messages"] = benchmark::Counter(static_cast<double>(Read), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ScanMsgFolder)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadFilesWhole(benchmark::State& State) {
  std::vector<char> Buf(4096);
  for (auto _ : State) {
    size_t Bytes = 0;
    for (const std::string& Name : Folder().Files()) {
      std::FILE* F = std::fopen(Name.c_str(), "rb");
      if (!F) continue;
      size_t Got;
      while ((Got = std::fread(Buf.data(), 1, Buf.size(), F)) > 0) Bytes += Got;
      std::fclose(F);
    }
    benchmark::DoNotOptimize(Bytes);
  }
}
BENCHMARK(BM_ReadFilesWhole)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CatFiles(benchmark::State& State) {
  std::string Command = "cat " + Folder().Path() + "/*.msg >/dev/null";
  for (auto _ : State)
    if (std::system(Command.c_str()) != 0) State.SkipWithError("cat failed");
}
BENCHMARK(BM_CatFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

// The messages of the folder, read once, to be written again.
std::vector<std::unique_ptr<tMessage>>& Messages() {
  static std::vector<std::unique_ptr<tMessage>> All = [] {
    std::vector<std::unique_ptr<tMessage>> Out;
    auto Base = OpenBase(std::string("F").append(Folder().Path()), 0x3D40);
    for (int32_t N = 1; N <= Base->Count; ++N) {
      auto M = std::make_unique<tMessage>();
      if (Base->Exists(N) && !Base->ReadMessage(N, M.get())) Out.push_back(std::move(M));
    }
    return Out;
  }();
  return All;
}

std::string CopyDir(const char* Name) {
  auto Dir = std::filesystem::temp_directory_path() / ("kelvane-msgdir-bench-" + std::string(Name) + "-" +
                                                      std::to_string(std::rand()));
  return Dir.string();
}

void WriteAll(tMsgBase& Base) {
  int32_t N = 0;
  for (auto& M : Messages()) Base.WriteMessage(++N, M.get());
}

void BM_WriteNewFolder(benchmark::State& State) {
  Messages();
  std::string Dir = CopyDir("new");
  for (auto _ : State) {
    State.PauseTiming();
    std::filesystem::remove_all(Dir);
    State.ResumeTiming();
    auto Base = OpenBase("F" + Dir, 0);
    WriteAll(*Base);
  }
  std::filesystem::remove_all(Dir);
  State.counters["messages"] =
      benchmark::Counter(static_cast<double>(Messages().size()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_WriteNewFolder)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RewriteFolder(benchmark::State& State) {
  Messages();
  std::string Dir = CopyDir("again");
  auto Base = OpenBase("F" + Dir, 0);
  WriteAll(*Base);
  for (auto _ : State) WriteAll(*Base);
  Base.reset();
  std::filesystem::remove_all(Dir);
  State.counters["messages"] =
      benchmark::Counter(static_cast<double>(Messages().size()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RewriteFolder)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_CpFiles(benchmark::State& State) {
  std::string Dir = CopyDir("cp");
  for (auto _ : State) {
    State.PauseTiming();
    std::filesystem::remove_all(Dir);
    std::filesystem::create_directories(Dir);
    State.ResumeTiming();
    std::string Command = "cp " + Folder().Path() + "/*.msg " + Dir;
    if (std::system(Command.c_str()) != 0) State.SkipWithError("cp failed");
  }
  std::filesystem::remove_all(Dir);
}
BENCHMARK(BM_CpFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
