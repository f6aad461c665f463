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

// Builds one status line; like every output string it holds at most 255
// bytes.
tShortString Line(std::initializer_list<std::string_view> Parts) {
  tShortString S;
  for (std::string_view P : Parts) S.Append(P);
  return S;
}

}  // namespace

tShortString ExecutableDir() {
  tShortString Exe = ExecutablePath();
  size_t Cut = 0;
  for (size_t I = 0; I < Exe.Length(); ++I)
    if (IsPathDelim(Exe[I])) Cut = I + 1;
  return Exe.Sub(0, Cut);
}

tApplication::tApplication() = default;
tApplication::~tApplication() = default;

void tApplication::Init() {
  StartMemory = MemoryInUse();
  RemoveBase = true;
  IfFEBusy = febWait;
}

bool tApplication::ReadControlFile(std::string_view Name) {
  tCollection<long> WrongLines;
  if (LoadControlFile(Name, *this, WrongLines)) return true;
  if (WrongLines.Count() > 0) {
    Console().Write("\r\n");
    for (long N : WrongLines) {
      WriteMarkup(Line({"   wrong line [#", IntToStr(N), "] in [", Name, "]"}));
      Console().Write("\r\n");
    }
    WriteMarkup("   pause 3 second to check hands...");
    SleepMs(3000);
  }
  return false;
}

void tApplication::Run() {
  WriteMarkup("\r\n~0F~" KELV_BULLET "~07~kelvane v0.1\r\n");

  tShortString Name = ControlFileName;
  if (!FileExists(Name)) {
    Name = ExecutableDir() + ControlFileName;
    if (!FileExists(Name)) {
      WriteMarkup(Line({"~0C~" KELV_BULLET "~07~configuration file [", Name, "] is ~0E~NOT~07~ found"}));
      Abort(exitControlFile);
    }
  }

  WriteMarkup("~0f~" KELV_BULLET "~07~loading config file...");
  if (ReadControlFile(Name)) {
    WriteMarkup("\r\n");
    WriteMarkup(Line({"~0C~" KELV_BULLET "~07~cannot read config [", Name, "]"}));
    Abort(exitControlFile);
  }
  WriteMarkup("~0A~ done!~07~\r\n");

  WriteMarkup(Line({"~0F~" KELV_BULLET "~07~loading [", ConfigPath, "]..."}));
  if (Config.Load(ConfigPath)) {
    WriteMarkup(Line({" ~06~cannot~07~ load [", ConfigPath, "]"}));
    Abort(exitConfigLoad);
  }
  WriteMarkup("~0A~ success!~07~\r\n");

  bool Changed = ScanNetmail();

  if (!Changed) {
    WriteMarkup(Line({"~02~" KELV_BULLET "~07~no need to store [", ConfigPath, "] because it have no changes."}));
    WriteMarkup("\r\n");
  } else {
    WriteMarkup(Line({"~0d~" KELV_BULLET "~07~storing [", ConfigPath, "]... "}));
    CheckBusyFlag();
    // A store that fails leaves the old file in place; saying "done!" then
    // would tell the sysop the removal took effect when it did not.
    if (Config.Store(ConfigPath)) {
      WriteMarkup("~0C~failed!~07~");
      DisposeNetmail();
      Abort(exitStoreFailed);
    }
    WriteMarkup("~0a~done!~07~\r\n");
  }
  DisposeNetmail();
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
  Config.Clear();
  ConfigPath.Clear();
  // One sampling period and a little more, so the reading is current.
  RealClock().Sleep(66);
  int32_t Diff = StartMemory - MemoryInUse();
  if (Diff < 0) Diff = -Diff;
  WriteMarkup(Line({"~04~" KELV_BULLET "~07~memory leak is ", IntToStr(Diff), " byte(s)."}));
  WriteMarkup("\r\n");
  Console().Finish();
}

void tApplication::Abort(uint8_t Code) {
  WriteMarkup("... ~0C~aborted!~07~\r\n");
  Done();
  std::exit(Code);
}

}  // namespace kelvane
