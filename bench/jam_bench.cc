// JAM bases: writing 10,000 messages of about 1 KB into a new base, and
// reading them all back (Exists and ReadMessage for every number, as a
// walk over a base does), beside reading the base's three files whole.
// An independent C implementation takes about 0.21 s to write and 0.11 s
// to read these on this kind of machine. bench/jam_toss.sh times crashmail
// tossing 10,000 messages into a JAM area beside our reading of them.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "msgbase/baseid.h"
#include "msgbase/jam.h"
#include "msgbase/message.h"

namespace {

using namespace kelvane;

constexpr int MessageCount = 10000;

std::filesystem::path TempPath(const char* What) {
  return std::filesystem::temp_directory_path() / ("kelvane-jam-bench-" + std::string(What) + "-" +
                                                   std::to_string(std::rand()));
}

// Echomail as a tosser stores it: names, addresses, MSGID, a few kludges,
// SEEN-BY and PATH, and a body of sixteen lines: about 1 KB a message.
void FillMessage(tMessage& M, int N) {
  M.Clear();
  M.From = "Ivan Petrov";
  M.To = "All";
  M.Subject = tShortString("Re: a subject of some length " + std::to_string(N));
  M.Area = "RU.SYSOP";
  M.DateWritten = tDateTime{2026, 12, 7, 19, 5, N % 60};
  M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 2, M.OrigPoint = static_cast<uint16_t>(N % 100);
  M.DestZone = 2, M.DestNet = 5020, M.DestNode = 1, M.DestPoint = 0;
  M.MsgId = tShortString("2:5020/2." + std::to_string(N % 100) + " 1a2b3c4d");
  M.ReplyId = "2:5020/1 0a0b0c0d";
  M.Pid = "GoldED+/LNX 1.1.5";
  M.Kludges.Append("\x01" "CHRS: CP866 2");
  M.Kludges.Append("\x01" "TZUTC: 0300");
  for (int L = 0; L < 16; ++L) M.Text.WriteStr("Line " + std::to_string(L) + " of the message body, some words.\r");
  M.TearLine = " GoldED+/LNX 1.1.5";
  M.AddTearLine = 1;
  M.Origin = "A point somewhere in the net ";
  M.AddOrigin = 1;
  M.SeenByLines.Append("5020/1 2 3 4 5 6 7 8 9 10");
  M.PathLines.Append("5020/2 1");
}

void WriteBase(const std::string& Path) {
  tJamBase Base;
  if (Base.Create(Path, 0)) std::abort();
  tMessage M;
  for (int N = 1; N <= MessageCount; ++N) {
    FillMessage(M, N);
    if (Base.WriteMessage(N, &M)) std::abort();
  }
}

// A base of the benchmark's messages, made once and removed at exit.
class tBase {
 public:
  tBase() : Dir_(TempPath("read")) {
    std::filesystem::create_directories(Dir_);
    WriteBase(Path());
  }
  ~tBase() { std::filesystem::remove_all(Dir_); }
  std::string Path() const { return (Dir_ / "area").string(); }

 private:
  std::filesystem::path Dir_;
};

const tBase& SharedBase() {
  static tBase B;
  return B;
}

// The base the read benchmarks read: KELVANE_BENCH_BASE (a path without
// extension, bench/formats.sh sets it), or one of the benchmark's own.
std::string ReadBasePath() {
  const char* Given = std::getenv("KELVANE_BENCH_BASE");
  return Given ? std::string(Given) : SharedBase().Path();
}

void BM_JamWrite10000(benchmark::State& State) {
  for (auto _ : State) {
    State.PauseTiming();
    std::filesystem::path Dir = TempPath("write");
    std::filesystem::create_directories(Dir);
    State.ResumeTiming();
    WriteBase((Dir / "area").string());
    State.PauseTiming();
    State.counters["jhr+jdt bytes"] = static_cast<double>(std::filesystem::file_size(Dir / "area.jhr") +
                                                           std::filesystem::file_size(Dir / "area.jdt"));
    std::filesystem::remove_all(Dir);
    State.ResumeTiming();
  }
}
BENCHMARK(BM_JamWrite10000)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_JamRead10000(benchmark::State& State) {
  const std::string Path = ReadBasePath();
  for (auto _ : State) {
    auto Base = OpenBase("J" + Path, smOpenRead);
    tMessage M;
    int Read = 0;
    for (int32_t N = 0; N <= Base->Count; ++N) {
      if (!Base->Exists(N)) continue;
      if (!Base->ReadMessage(N, &M)) ++Read;
    }
    if (Read != Base->Count) std::abort();
    benchmark::DoNotOptimize(M.Text.GetSize());
  }
}
BENCHMARK(BM_JamRead10000)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The floor: the three files read whole through a 4096-byte loop.
void BM_JamFilesReadWhole(benchmark::State& State) {
  const std::string Path = ReadBasePath();
  std::vector<char> Buf(4096);
  for (auto _ : State) {
    size_t Total = 0;
    for (const char* Ext : {".jhr", ".jdt", ".jdx"}) {
      std::FILE* F = std::fopen((Path + Ext).c_str(), "rb");
      size_t Got;
      while ((Got = std::fread(Buf.data(), 1, Buf.size(), F)) > 0) Total += Got;
      std::fclose(F);
    }
    benchmark::DoNotOptimize(Total);
  }
}
BENCHMARK(BM_JamFilesReadWhole)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
