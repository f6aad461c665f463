// A packet of 10,000 netmail messages (the requests of requests.h, as
// msgdir_bench reads them from a folder): reading it the way a base is walked (open, then every
// message), writing one of the same size message by message into a new
// packet, and, for comparison, crashmail tossing the same packet into a
// *.MSG netmail area (one file per message), and cat reading it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/requests.h"
#include "msgbase/message.h"
#include "msgbase/pkt.h"

namespace {

using namespace kelvane;

constexpr int MessageCount = 10000;

std::filesystem::path TempDir(const std::string& Name) {
  auto Dir = std::filesystem::temp_directory_path() / ("kelvane-pkt-bench-" + Name + "-" + std::to_string(std::rand()));
  std::filesystem::create_directories(Dir);
  return Dir;
}

// The messages, made once.
std::vector<std::unique_ptr<tMessage>>& Messages() {
  static std::vector<std::unique_ptr<tMessage>> All = [] {
    std::vector<std::unique_ptr<tMessage>> Out;
    for (int N = 1; N <= MessageCount; ++N) {
      Out.push_back(std::make_unique<tMessage>());
      FillRequest(*Out.back(), N);
    }
    return Out;
  }();
  return All;
}

bool WritePacket(const std::string& File) {
  tPktBase Pkt;
  Pkt.SetOrigAddr("2:5020/2");
  Pkt.SetDestAddr("2:5020/1");
  if (Pkt.Create(File, 0)) return false;
  for (auto& M : Messages())
    if (Pkt.WriteMessage(0, M.get())) return false;
  return true;
}

// The packet, written once and removed at exit.
class tPacket {
 public:
  tPacket() : Dir_(TempDir("read")), File_((Dir_ / "0000cafe.pkt").string()) { WritePacket(File_); }
  ~tPacket() {
    std::error_code Ignored;
    std::filesystem::remove_all(Dir_, Ignored);
  }
  const std::string& File() const { return File_; }

 private:
  std::filesystem::path Dir_;
  std::string File_;
};

tPacket& Packet() {
  static tPacket P;
  return P;
}

void BM_ReadPacket(benchmark::State& State) {
  int64_t Read = 0;
  for (auto _ : State) {
    tPktBase Pkt;
    if (Pkt.Open(Packet().File(), 0x3D40)) State.SkipWithError("open failed");
    tMessage Msg;
    for (int32_t N = 1; N <= Pkt.Count; ++N)
      if (!Pkt.ReadMessage(N, &Msg)) ++Read;
    benchmark::DoNotOptimize(Msg.Text.GetSize());
  }
  State.counters["messages"] = benchmark::Counter(static_cast<double>(Read), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadPacket)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WritePacket(benchmark::State& State) {
  Messages();
  auto Dir = TempDir("write");
  std::string File = (Dir / "0000beef.pkt").string();
  for (auto _ : State) {
    State.PauseTiming();
    std::filesystem::remove(File);
    State.ResumeTiming();
    if (!WritePacket(File)) State.SkipWithError("write failed");
  }
  std::filesystem::remove_all(Dir);
  State.counters["messages"] = benchmark::Counter(MessageCount, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_WritePacket)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CatPacket(benchmark::State& State) {
  std::string Command = "cat " + Packet().File() + " >/dev/null";
  for (auto _ : State)
    if (std::system(Command.c_str()) != 0) State.SkipWithError("cat failed");
}
BENCHMARK(BM_CatPacket)->Unit(benchmark::kMillisecond)->UseRealTime();

// crashmail as the node 2:5020/1, tossing the packet from its link into an
// empty *.MSG netmail folder each time.
void BM_CrashmailTossIntoMsg(benchmark::State& State) {
  if (std::system("command -v crashmail >/dev/null 2>&1") != 0) {
    State.SkipWithError("crashmail is not installed");
    return;
  }
  auto Dir = TempDir("crashmail");
  std::string P = Dir.string();
  {
    std::ofstream Prefs(Dir / "prefs");
    Prefs << "SYSOP \"Sysop\"\nLOGFILE \"" << P << "/log\"\nLOGLEVEL 1\nDUPEFILE \"" << P
          << "/dupes\" 200\nDUPEMODE IGNORE\nDEFAULTZONE 2\nINBOUND \"" << P << "/in\"\nOUTBOUND \"" << P
          << "/out\"\nTEMPDIR \"" << P << "/tmp\"\nCREATEPKTDIR \"" << P << "/tmp\"\nPACKETDIR \"" << P
          << "/out\"\nAKA 2:5020/1\nNODE 2:5020/2 \"\" \"\"\nNETMAIL \"NETMAIL\" 2:5020/1 MSG \"" << P
          << "/netmail\"\nAREA \"BAD\" 2:5020/1 MSG \"" << P << "/bad\"\n";
  }
  std::string Command = "crashmail SETTINGS " + P + "/prefs TOSS >/dev/null 2>&1";
  size_t Tossed = 0;
  for (auto _ : State) {
    State.PauseTiming();
    for (const char* D : {"in", "out", "tmp", "netmail", "bad"}) {
      std::filesystem::remove_all(Dir / D);
      std::filesystem::create_directories(Dir / D);
    }
    std::filesystem::copy_file(Packet().File(), Dir / "in" / "0000cafe.pkt");
    State.ResumeTiming();
    if (std::system(Command.c_str()) != 0) State.SkipWithError("crashmail failed");
    State.PauseTiming();
    Tossed = 0;
    for (const auto& E : std::filesystem::directory_iterator(Dir / "netmail")) Tossed += E.is_regular_file();
    State.ResumeTiming();
  }
  std::filesystem::remove_all(Dir);
  if (Tossed != MessageCount) State.SkipWithError("crashmail did not toss every message");
  State.counters["messages"] =
      benchmark::Counter(static_cast<double>(Tossed), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CrashmailTossIntoMsg)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
