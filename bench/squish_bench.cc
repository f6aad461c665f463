// A Squish base of 10,000 netmail messages of about 1 KB: appended one by
// one into a new base, read back whole the way a reader walks a base
// (ReadMessage for 1 to Count), and halved by deleting every second
// message. An independent C implementation takes about 0.30 s, 0.09 s and
// 0.15 s for these on this kind of machine. Each iteration times one whole
// pass over the 10,000 messages; the base it needs is made outside the
// timing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"

namespace {

using namespace kelvane;

constexpr int MessageCount = 10000;

// About 1 KB in the base: header, kludges, sixteen lines of body, a tear
// line, an origin line and a Via line.
void FillMessage(tMessage& M, int N) {
  M.Clear();
  M.From = "Ivan Petrov";
  M.To = "Sergey Ivanov";
  M.Subject = "Re: the new nodelist";
  M.DateWritten = tDateTime{2026, 12, 7, 19, 5, N % 60};
  M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 2, M.OrigPoint = 0;
  M.DestZone = 2, M.DestNet = 5020, M.DestNode = 1, M.DestPoint = 0;
  M.MsgId = tShortString("2:5020/2 " + std::to_string(0x10000000 + N));
  M.Pid = "GoldED+/LNX 1.1.5";
  M.Kludges.Append("\x01" "CHRS: CP866 2");
  for (int L = 0; L < 16; ++L) M.Text.WriteStr("Line " + std::to_string(L) + " of the body, some fifty bytes long.\r");
  M.TearLine = " GoldED+/LNX 1.1.5";
  M.AddTearLine = 1;
  M.Origin = "A node somewhere in the net ";
  M.AddOrigin = 1;
  M.RouteLines.Append("\x01" "Via 2:5020/1 @20261207.190510 tosser");
}

class tBaseDir {
 public:
  tBaseDir() {
    Dir_ = std::filesystem::temp_directory_path() / ("kelvane-squish-bench-" + std::to_string(std::rand()));
    std::filesystem::create_directories(Dir_);
  }
  ~tBaseDir() { std::filesystem::remove_all(Dir_); }
  std::string Id(const char* Name) const { return std::string("S").append((Dir_ / Name).string()); }
  void Remove(const char* Name) const {
    for (const char* Ext : {".sqd", ".sqi", ".sql"}) std::filesystem::remove(Dir_ / (std::string(Name) + Ext));
  }

 private:
  std::filesystem::path Dir_;
};

void Fill(tMsgBase& Base) {
  tMessage M;
  for (int N = 1; N <= MessageCount; ++N) {
    FillMessage(M, N);
    Base.WriteMessage(N, &M);
  }
}

void BM_SquishAppend(benchmark::State& State) {
  tBaseDir Dir;
  tMessage M;
  for (auto _ : State) {
    State.PauseTiming();
    Dir.Remove("append");
    State.ResumeTiming();
    auto Base = OpenBase(Dir.Id("append"), 0);
    for (int N = 1; N <= MessageCount; ++N) {
      FillMessage(M, N);
      if (Base->WriteMessage(N, &M)) State.SkipWithError("write failed");
    }
  }
}
BENCHMARK(BM_SquishAppend)->Unit(benchmark::kMillisecond)->MinTime(2);

// The base the read benchmarks read: KELVANE_BENCH_BASE (a path without
// extension, bench/formats.sh sets it), or one made here.
std::string ReadBaseId(const tBaseDir& Dir) {
  if (const char* Given = std::getenv("KELVANE_BENCH_BASE")) return std::string("S") + Given;
  Fill(*OpenBase(Dir.Id("read"), 0));
  return Dir.Id("read");
}

void BM_SquishReadAll(benchmark::State& State) {
  tBaseDir Dir;
  const std::string Id = ReadBaseId(Dir);
  tMessage M;
  for (auto _ : State) {
    auto Base = OpenBase(Id, 0x3D40);
    for (int N = 1; N <= Base->Count; ++N)
      if (Base->ReadMessage(N, &M)) State.SkipWithError("read failed");
    benchmark::DoNotOptimize(M.Text.GetSize());
  }
}
BENCHMARK(BM_SquishReadAll)->Unit(benchmark::kMillisecond)->MinTime(2);

// The floor: the base's two files read whole through a 4096-byte loop.
void BM_SquishFilesReadWhole(benchmark::State& State) {
  tBaseDir Dir;
  const std::string Path = ReadBaseId(Dir).substr(1);
  std::vector<char> Buf(4096);
  for (auto _ : State) {
    size_t Total = 0;
    for (const char* Ext : {".sqd", ".sqi"}) {
      std::FILE* F = std::fopen((Path + Ext).c_str(), "rb");
      size_t Got;
      while ((Got = std::fread(Buf.data(), 1, Buf.size(), F)) > 0) Total += Got;
      std::fclose(F);
    }
    benchmark::DoNotOptimize(Total);
  }
}
BENCHMARK(BM_SquishFilesReadWhole)->Unit(benchmark::kMillisecond)->MinTime(2);

void BM_SquishDeleteEverySecond(benchmark::State& State) {
  tBaseDir Dir;
  Fill(*OpenBase(Dir.Id("full"), 0));
  for (auto _ : State) {
    State.PauseTiming();
    for (const char* Ext : {".sqd", ".sqi"})
      std::filesystem::copy_file(Dir.Id("full").substr(1) + Ext, Dir.Id("half").substr(1) + Ext,
                                 std::filesystem::copy_options::overwrite_existing);
    State.ResumeTiming();
    auto Base = OpenBase(Dir.Id("half"), 0);
    for (int N = 2; N <= Base->Count; ++N)
      if (Base->DeleteMessage(N)) State.SkipWithError("delete failed");
  }
}
BENCHMARK(BM_SquishDeleteEverySecond)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace
