// nodegen: lays out a whole FidoNet node for kelvane to work on: kelv.ctl,
// a FastEcho configuration, a netmail folder with ordinary mail and robot
// requests, message bases of several types, and the semaphore folder. The
// demo runs kelvane on one; the whole-program benchmark on a big one.
// Every path inside the node is relative, so kelvane is run from the node
// folder.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "runtime/file_system.h"
#include "runtime/path.h"
#include "runtime/stream.h"
#include "tools/fegen_lib.h"

namespace kelvane {
namespace {

const char HelpText[] =
    "usage: nodegen DIR [--netmail N] [--requests K] [--areas N] [--seed S]\n\n"
    "Creates a node in DIR (which must not hold one yet):\n"
    "  kelv.ctl           requests go to Robot at 2:463/1 with the subject\n"
    "                     \"remove\"; lines \"-TAG\" name areas\n"
    "  setup.cfg          FastEcho's configuration (and setup.cfg.orig, a copy)\n"
    "  netmail\\           N netmail messages (default 5), K of them requests\n"
    "                     (default 1)\n"
    "  bases\\             a *.MSG area, a Squish and a JAM area (stand-in files),\n"
    "                     a pass-through and a local area\n"
    "  sem\\               FastEcho's semaphore folder (no busy flag)\n"
    "--areas N adds N more areas named AREA.00001 ... to the configuration.\n"
    "The first request removes the *.MSG, Squish and JAM areas and names\n"
    "one area that does not exist; later requests name generated areas.\n";

struct tOptions {
  std::string Dir;
  uint32_t Netmail = 5;
  uint32_t Requests = 1;
  uint32_t Areas = 0;
  uint64_t Seed = 1;
};

std::string Join(const std::string& Dir, const std::string& Name) {
  return AddBackslash(Dir).ToStdString() + Name;
}

bool WriteFile(const std::string& Path, const void* Data, size_t Size) {
  tBufStream Out(Path, 0x3C00);
  Out.Write(Data, static_cast<uint32_t>(Size));
  return Out.Close() && Out.Status == stOk;
}

tDateTime When(int Day, int Sec) {
  tDateTime T;
  T.Year = 2026;
  T.Month = 12;
  T.Day = Day;
  T.Hour = 10;
  T.Min = Sec / 60 % 60;
  T.Sec = Sec % 60;
  return T;
}

void Netmail(tMessage& M, const char* From, const char* To, const char* Subject, uint16_t FromNode,
             uint16_t ToNode, int Serial) {
  M.Clear();
  M.From = From;
  M.To = To;
  M.Subject = Subject;
  M.DateWritten = When(8, Serial);
  M.OrigZone = M.DestZone = 2;
  M.OrigNet = M.DestNet = 463;
  M.OrigNode = FromNode;
  M.DestNode = ToNode;
  M.OrigPoint = M.DestPoint = 0;
  // Attribute bits are written from their mirrors: private and local.
  M.AttrFlags[0] = 1;
  M.AttrFlags[8] = 1;
  M.Intl = "2:463/" + IntToStr(ToNode) + " 2:463/" + IntToStr(FromNode);
  char Id[32];
  std::snprintf(Id, sizeof Id, "2:463/%u %08x", FromNode, 0x5a000000u + static_cast<unsigned>(Serial));
  M.MsgId = Id;
  M.Pid = "nodegen";
  M.TearLine = " nodegen";
  M.AddTearLine = 1;
}

int Run(const tOptions& O) {
  if (FileExists(Join(O.Dir, "kelv.ctl"))) {
    std::fprintf(stderr, "nodegen: %s already holds a node\n", O.Dir.c_str());
    return 1;
  }
  for (const char* Sub : {"netmail", "sem", "bases"})
    if (!MakeDirChain(Join(O.Dir, Sub))) {
      std::fprintf(stderr, "nodegen: cannot create %s\n", Join(O.Dir, Sub).c_str());
      return 1;
    }

  // The configuration: the demo's areas first, then the generated ones.
  tFeGenOptions Fe;
  Fe.Seed = O.Seed;
  Fe.Areas = 0;
  Fe.Nodes = 4;
  Fe.NetmailDir = "netmail\\";
  Fe.SemaphoreDir = "sem\\";
  Fe.BaseDir = "bases\\";
  Fe.NodeLinks = fglAll;
  Fe.ExplicitAreas = {{"ECHO.MSG", 1, "bases\\echo_msg\\", -1},
                      {"ECHO.SQUISH", 2, "bases\\squish", -1},
                      {"ECHO.JAM", 3, "bases\\jam", -1},
                      {"PASS.THRU", 0, "", -1},
                      {"LOCAL.AREA", 7, "bases\\local", -1}};
  for (uint32_t I = 1; I <= O.Areas; ++I) {
    char Tag[32];
    std::snprintf(Tag, sizeof Tag, "AREA.%05u", I);
    Fe.ExplicitAreas.push_back({Tag, 2, std::string("bases\\gen") + Tag, -1});
  }
  std::vector<uint8_t> Cfg = FeGenerate(Fe);
  if (!WriteFile(Join(O.Dir, "setup.cfg"), Cfg.data(), Cfg.size()) ||
      !WriteFile(Join(O.Dir, "setup.cfg.orig"), Cfg.data(), Cfg.size())) {
    std::fprintf(stderr, "nodegen: cannot write the configuration\n");
    return 1;
  }

  const char Ctl[] =
      "; kelv.ctl of a generated node\r\n"
      "FastEchoConfig  setup.cfg\r\n"
      "FromAddr        2:463/100         ; the one node whose requests count\r\n"
      "ToName          Robot\r\n"
      "ToAddr          2:463/1\r\n"
      "Subject         remove\r\n"
      "MatchStr        ^-(.*)$ | \\0      ; a line \"-ECHO.TAG\" removes ECHO.TAG\r\n"
      "StopScanAfter   end of list\r\n"
      "RemoveBase      yes\r\n"
      "IfFEBusy        wait\r\n";
  WriteFile(Join(O.Dir, "kelv.ctl"), Ctl, sizeof Ctl - 1);

  // Message bases: a *.MSG area with real echomail, stand-ins for the
  // Squish and JAM files (their names are what deletion works by).
  tMessage M;
  std::unique_ptr<tMsgBase> Echo = OpenBase("F" + Join(O.Dir, "bases\\echo_msg\\"), 0);
  if (Echo) {
    for (int I = 1; I <= 3; ++I) {
      Netmail(M, "Some Sysop", "All", "Hello in ECHO.MSG", 100, 0, I);
      M.Intl.Clear();
      M.Area = "ECHO.MSG";
      M.Text.WriteStr("An echomail message, number " + IntToStr(I).ToStdString() + ".\r");
      M.Origin = "A node in the demo ";
      M.AddOrigin = 1;
      M.SeenByLines.Append("463/1 100");
      M.PathLines.Append("463/100");
      Echo->WriteMessage(I, &M);
    }
  }
  for (const char* Ext : {".sqd", ".sqi", ".sql"})
    WriteFile(Join(O.Dir, std::string("bases\\squish") + Ext), "stand-in", 8);
  for (const char* Ext : {".jhr", ".jdt", ".jdx", ".jlr"})
    WriteFile(Join(O.Dir, std::string("bases\\jam") + Ext), "stand-in", 8);
  for (const char* Ext : {".jhr", ".jdt", ".jdx"})
    WriteFile(Join(O.Dir, std::string("bases\\local") + Ext), "stand-in", 8);

  // Netmail: ordinary mail, with the requests spread evenly among it.
  std::unique_ptr<tMsgBase> Net = OpenBase("F" + Join(O.Dir, "netmail\\"), 0);
  if (!Net) {
    std::fprintf(stderr, "nodegen: cannot open the netmail folder\n");
    return 1;
  }
  uint32_t Requests = O.Requests > O.Netmail ? O.Netmail : O.Requests;
  uint32_t Every = Requests ? O.Netmail / Requests : 0;
  uint32_t Made = 0;
  for (uint32_t N = 1; N <= O.Netmail; ++N) {
    bool IsRequest = Every && Made < Requests && (N - 1) % Every == Every / 2;
    if (IsRequest) {
      Netmail(M, "Sysop", "Robot", "remove", 100, 1, static_cast<int>(N));
      std::string Body = "Hello, robot. Please remove:\r";
      if (Made == 0) {
        Body += "-ECHO.MSG\r-echo.squish\r-Echo.Jam\r-NO.SUCH.AREA\r";
      } else if (O.Areas) {
        for (uint32_t K = 0; K < 3; ++K) {
          char Tag[32];
          std::snprintf(Tag, sizeof Tag, "-area.%05u\r", 1 + (Made * 7 + K * 13) % O.Areas);
          Body += Tag;
        }
      }
      Body += "-- end of list --\r-LOCAL.AREA\r";
      M.Text.WriteStr(Body);
      ++Made;
    } else {
      Netmail(M, "Friend", "Sysop", "How are you?", static_cast<uint16_t>(200 + N % 50), 100,
              static_cast<int>(N));
      M.Text.WriteStr("Just a line of ordinary netmail.\r\rBye.\r");
    }
    if (Net->WriteMessage(static_cast<int32_t>(N), &M)) {
      std::fprintf(stderr, "nodegen: cannot write netmail message %u\n", N);
      return 1;
    }
  }
  return 0;
}

}  // namespace
}  // namespace kelvane

int main(int Argc, char** Argv) {
  using namespace kelvane;
  tOptions O;
  for (int I = 1; I < Argc; ++I) {
    std::string A = Argv[I];
    auto Num = [&](uint64_t& V) {
      if (I + 1 >= Argc) return false;
      char* End;
      V = std::strtoull(Argv[++I], &End, 10);
      return *End == 0;
    };
    uint64_t V = 0;
    if (A == "--help" || A == "-h") {
      std::fputs(HelpText, stdout);
      return 0;
    } else if (A == "--netmail" && Num(V)) {
      O.Netmail = static_cast<uint32_t>(V);
    } else if (A == "--requests" && Num(V)) {
      O.Requests = static_cast<uint32_t>(V);
    } else if (A == "--areas" && Num(V)) {
      O.Areas = static_cast<uint32_t>(V);
    } else if (A == "--seed" && Num(V)) {
      O.Seed = V;
    } else if (!A.empty() && A[0] != '-' && O.Dir.empty()) {
      O.Dir = A;
    } else {
      std::fprintf(stderr, "nodegen: unexpected argument '%s'\n\n%s", A.c_str(), HelpText);
      return 1;
    }
  }
  if (O.Dir.empty()) {
    std::fputs(HelpText, stderr);
    return 1;
  }
  return Run(O);
}
