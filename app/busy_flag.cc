// FastEcho's busy flag: a file "febusy.0" in its semaphore directory means
// FastEcho is working on its files. Looked at once, just before the
// configuration is written back; never created, changed or deleted here.
#include "app/application.h"
#include "app/markup.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/file_system.h"
#include "runtime/path.h"

namespace kelvane {

namespace {
constexpr uint32_t BusyPollMs = 333;
constexpr char Spinner[] = "|/-\\";
}  // namespace

tShortString BusyFlagPath(const tFastEchoConfig& Config) { return AddBackslash(Config.SemaphorePath()) + "febusy.0"; }

tShortString tApplication::BusyFlagPath() { return kelvane::BusyFlagPath(Config); }

void tApplication::CheckBusyFlag() {
  tShortString Flag = BusyFlagPath();
  if (!FileExists(Flag)) return;
  WriteMarkup(Line({"\r\n   flag [", MarkupData(Flag), "] exist, "}));
  switch (IfFEBusy) {
    case febWait: {
      WriteMarkup("we must ~0f~wait~07~ ");
      // A log shows the row now, not when the wait is over.
      Console().Flush();
      int K = 0;
      while (FileExists(Flag)) {
        char Turn[4] = {'[', Spinner[K], ']', 0};
        Console().WriteInPlace(Turn);
        K = (K + 1) % 4;
        SleepMs(BusyPollMs);
      }
      return;
    }
    case febQuit:
      Console().Write("we must quit");
      DisposeNetmail();
      Abort(exitBusyQuit, NothingRemoved());
    case febPoher:
      WriteMarkup("~0c~POHER! ~07~");
      return;
  }
}

}  // namespace kelvane
