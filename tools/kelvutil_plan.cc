// kelvutil plan [CONTROL-FILE]: kelvane's whole run, changing nothing. The
// control file is found and read as kelvane reads it, FastEcho's
// configuration is loaded, and the netmail is walked by the very walk
// kelvane runs (app/netmail_walk), on a configuration that shrinks in
// memory only. What it prints is what kelvane would decide: which messages
// are requests (and the first condition the others fail), what each line
// of a request names, which bases would go with which files, whether the
// busy flag is there now, and what the configuration would shrink to.
// Nothing is stored, deleted or made.
#include <string>
#include <vector>

#include "app/application.h"
#include "app/control_file.h"
#include "app/netmail_walk.h"
#include "app/removal_rules.h"
#include "fecfg/feconfig.h"
#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "msgbase/msgdir.h"
#include "runtime/file_system.h"
#include "runtime/path.h"
#include "runtime/stream.h"
#include "tools/kelvutil.h"

namespace kelvane {

extern const char PlanHelp[] =
    "Runs kelvane's run without changing a file: reads CONTROL-FILE (when\n"
    "none is named, kelv.ctl as kelvane finds it: in the current directory,\n"
    "else beside this program), loads FastEcho's configuration, walks the\n"
    "netmail with kelvane's own scan, and prints what kelvane would do, one\n"
    "record a line, separated by tabs:\n"
    "\n"
    "  control FILE                   the control file read\n"
    "  wrong-line N [REASON]          a line kelvane would report\n"
    "  config FILE AREAS NODES BYTES  FastEcho's configuration\n"
    "  netmail FOLDER WHAT            the netmail folder: the highest message\n"
    "                                 number in it, or why none is read\n"
    "  message N request FROM -> TO   a request, as kelvane's valid msg line\n"
    "  message N not a request CONDITION VALUE\n"
    "                                 the first condition it fails (FromName,\n"
    "                                 FromAddr, ToName, ToAddr, Subject) and\n"
    "                                 the message's value for it\n"
    "  message N already received FROM -> TO\n"
    "                                 a request an earlier run marked\n"
    "                                 Received (MarkRequests yes): skipped\n"
    "  message N cannot be read\n"
    "  line N K TEXT                  line K of request N (empty lines are\n"
    "                                 passed over, as by kelvane)\n"
    "  stop N K STOPSTRING ...        the line that ends the request\n"
    "  area N TAG removed TYPE PATH   what a line names: an area that goes\n"
    "  area N TAG not found           or no area\n"
    "  messages M REQUESTS            how many were read, how many requests\n"
    "  busy-flag FILE WHAT            whether FastEcho's busy flag is there now\n"
    "                                 and what kelvane would do about it\n"
    "  store FILE AREAS BYTES LINKS   what the configuration would shrink to,\n"
    "                                 or that there is nothing to store\n"
    "  base TAG PATH deleted FILES BYTES   a base that would go, and\n"
    "  file TAG FILE BYTES                 each of its files\n"
    "  base TAG PATH kept WHY         a base that stays: the netmail folder, a\n"
    "                                 file of kelvane's, shared with an area\n"
    "                                 that stays; every base while FastEcho\n"
    "                                 is busy and kelvane would quit\n"
    "  base TAG PATH none WHY         an area with no base to delete\n"
    "  mark N FILE                    a request that gets the Received\n"
    "                                 attribute at the end of the run\n"
    "                                 (MarkRequests yes; none when kelvane\n"
    "                                 would quit for the busy flag)\n"
    "\n"
    "A base goes whole or not at all: should one of its files be in use when\n"
    "kelvane runs, it stays. Warnings go to standard error as kelvane shows\n"
    "them before its scan (see kelvutil ctl --help). Exit code 1 when the\n"
    "control file or the configuration cannot be read (with the reason), and\n"
    "when the control file has wrong lines (after the whole plan).\n";

namespace {

std::string Num(long long V) { return IntToStr(V).ToStdString(); }

// The message's value for a condition it failed.
tShortString ValueOf(tCondition Failed, const tMessage& Msg) {
  switch (Failed) {
    case rcFromName: return Msg.From;
    case rcFromAddr: return OrigAddrStr(Msg);
    case rcToName: return Msg.To;
    case rcToAddr: return DestAddrStr(Msg);
    case rcSubject: return Msg.Subject;
    case rcRequest:
    case rcReceived: break;
  }
  return tShortString();
}

// The size of a file by its directory entry (nothing is opened).
int64_t SizeOf(const tShortString& File) {
  std::vector<tDirEntry> Entries;
  if (!ListDir(File, Entries) || Entries.empty()) return 0;
  tShortString Name = FileNamePart(File);
  for (const tDirEntry& E : Entries)
    if (E.Name == Name) return E.Size;
  return Entries[0].Size;
}

// Every set bit of every node's area bitmap.
long Links(const tFastEchoConfig& Config) {
  long Bits = 0;
  for (const tFENodeEntry& Node : Config.Nodes)
    for (uint8_t Byte : Node.AreaBitmap)
      for (uint8_t M = 0x80; M; M >>= 1) Bits += (Byte & M) != 0;
  return Bits;
}

int64_t BytesOf(const tFastEchoConfig& Config) {
  tMemoryStream M;
  Config.WriteTo(M);
  return M.GetSize();
}

class tPlanScan : public tScanListener {
 public:
  tPlanScan(tTextOut& To, const tFastEchoConfig& Config) : To_(To), Config_(Config) {}

  void NetmailOpened(const tShortString& Dir, const tMsgBase& Base) override {
    To_.Record({"netmail", Dir, "messages up to number " + Num(Base.Count)});
  }
  void NetmailUnopened(const tShortString& Dir) override {
    To_.Record({"netmail", Dir, "cannot be opened: no requests are read"});
  }
  void MessageRead(int64_t N, const tMessage& Msg, tCondition Failed) override {
    N_ = N;
    ++Read;
    tShortString Who = Line({Msg.From, " (", OrigAddrStr(Msg), ") -> ", Msg.To, " (", DestAddrStr(Msg), ")"});
    if (Failed == rcReceived) {
      To_.Record({"message", Num(N), "already received", Who});
    } else if (Failed != rcRequest) {
      To_.Record({"message", Num(N), "not a request", ConditionName(Failed), ValueOf(Failed, Msg)});
    } else {
      ++Requests;
      To_.Record({"message", Num(N), "request", Who});
    }
  }
  void MessageUnreadable(int64_t N) override { To_.Record({"message", Num(N), "cannot be read"}); }
  void RequestLine(int64_t N, const tRequestLine& L) override {
    To_.Record({"line", Num(N), Num(L.Number), L.Text});
    if (!L.Stop.Empty()) To_.Record({"stop", Num(N), Num(L.Number), L.Stop, "the rest of the request is not read"});
  }
  void AreaNamed(const tShortString& Tag, int32_t Index, const tBaseToGo& Base) override {
    if (Index < 0) {
      To_.Record({"area", Num(N_), Tag, "not found"});
      return;
    }
    int16_t Type = Config_.AreaBaseType(Index);
    To_.Record({"area", Num(N_), Tag, "removed", AreaTypeName(Type), Config_.AreaPath(Index)});
    Removed.push_back({Base, Type});
  }

  struct tRemoved {
    tBaseToGo Base;
    int16_t Type;
  };
  std::vector<tRemoved> Removed;  // every area removed, in order
  long Read = 0, Requests = 0;

 private:
  tTextOut& To_;
  const tFastEchoConfig& Config_;
  int64_t N_ = 0;
};

void PrintBase(tTextOut& To, const tPlanScan::tRemoved& R, bool RemoveBase, bool Quits) {
  const tBaseToGo& B = R.Base;
  switch (B.Fate) {
    case bfNone: {
      std::string Why = !RemoveBase         ? "RemoveBase is no"
                        : B.Path.Empty()    ? "the area has no base path"
                                            : "base type " + Num(R.Type) + " has no base to delete";
      To.Record({"base", B.Tag, B.Path, "none", Why});
      return;
    }
    case bfNetmail: To.Record({"base", B.Tag, B.Path, "kept", "is the netmail folder"}); return;
    case bfOwnFile: To.Record({"base", B.Tag, B.Path, "kept", Line({"holds [", B.OwnFile, "]"})}); return;
    case bfShared:
      To.Record({"base", B.Tag, B.Path, "kept", Line({"is also the base of area [", B.SharedWith, "]"})});
      return;
    case bfDelete: break;
  }
  // A run that gives up for the busy flag stores nothing and so deletes no base.
  if (Quits) {
    To.Record({"base", B.Tag, B.Path, "kept", "FastEcho is busy: kelvane would quit, none of its files deleted"});
    return;
  }
  std::vector<tShortString> Files;
  if (BaseFiles(B.Id, Files)) {
    To.Record({"base", B.Tag, B.Path, "kept", "a name of its files does not fit 255 characters"});
    return;
  }
  std::vector<int64_t> Sizes;
  int64_t Total = 0;
  for (const tShortString& F : Files) Total += Sizes.emplace_back(SizeOf(F));
  To.Record({"base", B.Tag, B.Path, "deleted", Counted(static_cast<long long>(Files.size()), "file"),
             Counted(Total, "byte")});
  for (size_t I = 0; I < Files.size(); ++I) To.Record({"file", B.Tag, Files[I], Num(Sizes[I])});
}

}  // namespace

int RunPlanCommand(int Argc, char** Args) {
  if (Argc > 2) return Fail("plan", "usage: kelvutil plan [CONTROL-FILE]");
  tTextOut& To = Out();
  tShortString ControlFile = Argc == 2 ? tShortString(Args[1]) : LocateControlFile();
  if (!FileExists(ControlFile)) return Fail("plan", "no control file [" + ControlFile.ToStdString() + "]");
  tControlSettings S;
  tCollection<tWrongLine> WrongLines;
  if (LoadControlFile(ControlFile, S, WrongLines)) return Fail("plan", "cannot read [" + ControlFile.ToStdString() + "]");
  WarnOfSettings("plan", ControlFile, S);
  To.Record({"control", ControlFile});
  for (const tWrongLine& W : WrongLines) {
    if (W.Reason.Empty())
      To.Record({"wrong-line", Num(W.Line)});
    else
      To.Record({"wrong-line", Num(W.Line), W.Reason});
  }

  tFastEchoConfig Config;
  if (Config.Load(S.ConfigPath))
    return Fail("plan", "cannot load [" + S.ConfigPath.ToStdString() + "]: " +
                            FELoadReportText(tFastEchoConfig::WhyLoadFails(S.ConfigPath)).ToStdString());
  const size_t AreasBefore = Config.Areas.Count();
  const long LinksBefore = Links(Config);
  const int64_t BytesBefore = BytesOf(Config);
  To.Record({"config", S.ConfigPath, Counted(static_cast<long long>(AreasBefore), "area"),
             Counted(static_cast<long long>(Config.Nodes.Count()), "node"), Counted(BytesBefore, "byte")});

  const tRemovalRules Rules(S, ControlFile, Config.NetmailPath());
  std::unique_ptr<tMsgBase> Netmail;
  tMessage Msg;
  std::vector<tBaseToGo> BasesToGo;
  std::vector<tRequestRead> Requests;
  tPlanScan Scan(To, Config);
  bool Changed = WalkNetmail(Config, Rules, Netmail, Msg, BasesToGo, Requests, Scan);
  To.Record({"messages", Num(Scan.Read), Counted(Scan.Requests, "request")});
  auto Finish = [&] { return WrongLinesCode("plan", ControlFile, WrongLines.Count()); };

  // The requests kelvane marks at the end of a run that does not abort.
  auto PrintMarks = [&] {
    const auto* Dir = dynamic_cast<const tMsgDirBase*>(Netmail.get());
    if (!S.MarkRequests || !Dir) return;
    for (const tRequestRead& R : Requests) To.Record({"mark", Num(R.Number), Dir->MessageFileName(R.Number)});
  };
  tShortString Flag = BusyFlagPath(Config);
  if (!Changed) {
    To.Record({"busy-flag", Flag, "not looked at: nothing to store"});
    To.Record({"store", S.ConfigPath, "nothing to store: the file stays as it is"});
    PrintMarks();
    return Finish();
  }
  static const char* const Policies[] = {"wait until it goes, then store", "quit (exit code 253), storing nothing",
                                         "store all the same"};
  const bool Busy = FileExists(Flag);
  To.Record({"busy-flag", Flag,
             Busy ? std::string("there now: kelvane would ") + Policies[S.IfFEBusy] : std::string("not there now")});
  To.Record({"store", S.ConfigPath,
             Num(static_cast<long long>(AreasBefore)) + " -> " + Num(static_cast<long long>(Config.Areas.Count())) +
                 " areas",
             Num(BytesBefore) + " -> " + Num(BytesOf(Config)) + " bytes",
             Counted(LinksBefore - Links(Config), "node link") + " cleared"});

  // The fates the walk settled at its end (a base that an area still uses
  // is kept) belong to the removed areas whose bases were noted, in order.
  size_t Next = 0;
  for (tPlanScan::tRemoved& R : Scan.Removed)
    if (R.Base.Fate != bfNone && Next < BasesToGo.size()) R.Base = BasesToGo[Next++];
  for (const tPlanScan::tRemoved& R : Scan.Removed) PrintBase(To, R, S.RemoveBase, Busy && S.IfFEBusy == febQuit);
  if (!(Busy && S.IfFEBusy == febQuit)) PrintMarks();
  return Finish();
}

}  // namespace kelvane
