#include "app/application.h"

#include <cstdlib>

#include "app/markup.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/file_system.h"
#include "runtime/heap.h"
#include "runtime/path.h"

namespace kelvane {

namespace {

constexpr std::string_view ControlFileName = "kelv.ctl";

}  // namespace

tShortString Line(std::initializer_list<std::string_view> Parts) {
  tShortString S;
  for (std::string_view P : Parts) S.Append(P);
  return S;
}

tShortString ExecutableDir() {
  tShortString Exe = ExecutablePath();
  size_t Cut = 0;
  for (size_t I = 0; I < Exe.Length(); ++I)
    if (IsPathDelim(Exe[I])) Cut = I + 1;
  return Exe.Sub(0, Cut);
}

tShortString LocateControlFile() {
  tShortString Name = ControlFileName;
  return FileExists(Name) ? Name : ExecutableDir() + ControlFileName;
}

tApplication::tApplication() = default;
tApplication::~tApplication() = default;

void tApplication::Init() {
  // A reading taken now, after the console's set-up, so that the start and
  // end figures count the same allocations.
  StartMemory = MemoryInUseNow();
  RemoveBase = true;
  IfFEBusy = febWait;
}

bool tApplication::ReadControlFile(std::string_view Name) {
  tCollection<tWrongLine> WrongLines;
  if (LoadControlFile(Name, *this, WrongLines)) return true;
  if (WrongLines.Count() > 0) {
    Console().Write("\r\n");
    for (const tWrongLine& W : WrongLines) {
      tShortString Say = Line({"   wrong line [#", IntToStr(W.Line), "] in [", MarkupData(Name), "]"});
      if (!W.Reason.Empty()) Say += Line({": ", MarkupData(W.Reason)});
      WriteMarkup(Say);
      Console().Write("\r\n");
    }
    WriteMarkup("   pause 3 second to check hands...");
    Console().Flush();
    SleepMs(3000);
  }
  return false;
}

void tApplication::Run() {
  WriteMarkup("\r\n~0F~" KELV_BULLET "~07~kelvane v0.1\r\n");

  ControlFile = LocateControlFile();
  if (!FileExists(ControlFile)) {
    WriteMarkup(Line({"~0C~" KELV_BULLET "~07~configuration file [", MarkupData(ControlFile), "] is ~0E~NOT~07~ found"}));
    Abort(exitControlFile);
  }

  WriteMarkup("~0f~" KELV_BULLET "~07~loading config file...");
  if (ReadControlFile(ControlFile)) {
    WriteMarkup("\r\n");
    WriteMarkup(Line({"~0C~" KELV_BULLET "~07~cannot read config [", MarkupData(ControlFile), "]"}));
    Abort(exitControlFile);
  }
  WriteMarkup("~0A~ done!~07~\r\n");

  const tShortString ShownConfig = MarkupData(ConfigPath);
  WriteMarkup(Line({"~0F~" KELV_BULLET "~07~loading [", ShownConfig, "]..."}));
  if (Config.Load(ConfigPath)) {
    WriteMarkup(Line({" ~06~cannot~07~ load [", ShownConfig, "]"}));
    Abort(exitConfigLoad);
  }
  WriteMarkup("~0A~ success!~07~\r\n");

  WarnOfSettings();
  bool Changed = ScanNetmail();

  if (!Changed) {
    WriteMarkup(Line({"~02~" KELV_BULLET "~07~no need to store [", ShownConfig, "] because it have no changes."}));
    WriteMarkup("\r\n");
    MarkRequestsReceived();
  } else {
    WriteMarkup(Line({"~0d~" KELV_BULLET "~07~storing [", ShownConfig, "]... "}));
    CheckBusyFlag();
    // A store that fails leaves the old file in place; saying "done!" then
    // would tell the sysop the removal took effect when it did not. The
    // bases of the removed areas are still all there. When only the sync of
    // the folder failed, the new file is in place: the run goes on as after
    // a store, and says so.
    bool Placed = false;
    bool Failed = Config.Store(ConfigPath, &Placed);
    if (Failed && !Placed) {
      WriteMarkup("~0C~failed!~07~");
      DisposeNetmail();
      Abort(exitStoreFailed, NothingRemoved());
    }
    WriteMarkup(Failed ? "~0E~stored, but the sync of its folder failed!~07~\r\n" : "~0a~done!~07~\r\n");
    // Only now that the configuration no longer lists the areas may their
    // messages go.
    DeleteRemovedBases();
    MarkRequestsReceived();
  }
  DisposeNetmail();
}

void tApplication::Usage() {
  WriteMarkup("\r\n~0F~" KELV_BULLET "~07~kelvane v0.1\r\n");
  WriteMarkup("~0E~" KELV_BULLET "~07~kelvane takes no arguments; nothing was read or changed\r\n");
  for (std::string_view Text : {
           "   Run without any, kelvane reads the requests that came in as netmail and",
           "   removes the echo areas they name from FastEcho's configuration, with",
           "   their message bases when RemoveBase is yes.",
           "   Its settings come from kelv.ctl in the current directory or, when there",
           "   is none there, from the one beside the program:"})
    Console().WriteLn(Text);
  Console().WriteLn(Line({"   ", ExecutableDir(), ControlFileName}));
  Console().WriteLn("   To see what kelvane reads and what it would do, use kelvutil (--help).");
  Done();
  std::exit(exitUsage);
}

void tApplication::DisposeNetmail() {
  Msg.reset();
  NetmailBase.reset();
}

void tApplication::Done() {
  FromNames.Clear();
  FromAddrs.Clear();
  ToNames.Clear();
  ToAddrs.Clear();
  Subjects.Clear();
  StopStrings.Clear();
  MatchPatterns.Clear();
  MatchTemplates.Clear();
  DisposeNetmail();
  std::vector<tBaseToGo>().swap(BasesToGo);
  std::vector<tRequestRead>().swap(Requests);
  Config.Clear();
  ConfigPath.Clear();
  // A reading taken after every disposal. Waiting out a sampling period
  // instead is not enough on a loaded machine, where the sampler may not
  // run for longer than that and the stale reading shows a leak.
  int32_t Diff = StartMemory - MemoryInUseNow();
  if (Diff < 0) Diff = -Diff;
  WriteMarkup(Line({"~04~" KELV_BULLET "~07~memory leak is ", IntToStr(Diff), " byte(s)."}));
  WriteMarkup("\r\n");
  Console().Finish();
}

tShortString tApplication::NothingRemoved() const {
  return Line({"~0E~" KELV_BULLET "~07~no area was removed from [", MarkupData(ConfigPath), "] and no base deleted"});
}

void tApplication::WarnOfSettings() {
  if (Utf8Line > 0) {
    WriteMarkup(Line({"~0E~" KELV_BULLET "~07~", Utf8Warning(MarkupData(ControlFile), Utf8Line)}));
    WriteMarkup("\r\n");
  }
  if (AcceptsAnySender(*this)) {
    WriteMarkup(Line({"~0E~" KELV_BULLET "~07~", AnySenderWarning}));
    WriteMarkup("\r\n");
  }
}

void tApplication::MarkRequestsReceived() {
  if (!MarkRequests) return;
  for (int32_t N : MarkReceived(Config.NetmailPath(), Requests)) {
    WriteMarkup(Line({"~0C~" KELV_BULLET "~07~request #", IntToStr(N),
                      " could not be marked received: a later run reads it again"}));
    WriteMarkup("\r\n");
  }
}

void tApplication::Abort(uint8_t Code, std::string_view After) {
  WriteMarkup("... ~0C~aborted!~07~\r\n");
  if (!After.empty()) {
    WriteMarkup(After);
    WriteMarkup("\r\n");
  }
  Done();
  std::exit(Code);
}

}  // namespace kelvane
