// tApplication: the one object of the program and its fixed run sequence:
// banner, control file, FastEcho's configuration, netmail scan, busy flag
// and store, and on every way out the memory report as the last line.
// Fatal conditions go through Abort, which ends the process with its code.
#ifndef KELVANE_APP_APPLICATION_H_
#define KELVANE_APP_APPLICATION_H_

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <vector>

#include "app/control_file.h"
#include "app/netmail_walk.h"
#include "app/removal_rules.h"
#include "fecfg/feconfig.h"
#include "runtime/short_string.h"

namespace kelvane {

class tMsgBase;
class tMessage;

// Exit codes of the program.
enum : uint8_t {
  exitNormal = 0,
  exitUsage = 251,        // arguments given: the usage text, nothing done
  exitStoreFailed = 252,  // the configuration could not be written back
  exitBusyQuit = 253,     // FastEcho busy and IfFEBusy is quit
  exitConfigLoad = 254,   // FastEcho's configuration failed to load
  exitControlFile = 255,  // kelv.ctl missing or unreadable
};

// The text of the status-line bullet: blank, byte 0xFE, blank.
#define KELV_BULLET " \xFE "

class tApplication : public tControlSettings {
 public:
  tApplication();
  ~tApplication();

  // StartMemory from the sampler; the sets, lists and Config start empty,
  // RemoveBase true, IfFEBusy wait.
  void Init();
  // The run sequence. Returns only when it completes; fatal conditions end
  // the process through Abort.
  void Run();
  // Frees every container, Config and the netmail objects, then writes the
  // memory report line.
  void Done();
  // Writes the trailer, then the status line After (markup) when it is
  // given, runs Done and ends the process with Code.
  [[noreturn]] void Abort(uint8_t Code, std::string_view After = {});
  // The line after an abort that leaves the configuration and every base
  // as they were.
  tShortString NothingRemoved() const;
  // kelvane takes no arguments: given any, it says what it does instead of
  // doing it, runs Done and ends the process with exitUsage.
  [[noreturn]] void Usage();

  // Reads the control file into the settings and reports its wrong lines
  // (with a 3-second pause); true when the file cannot be read.
  bool ReadControlFile(std::string_view Name);
  // Walks the netmail, removes the requested areas from Config and notes
  // their bases in BasesToGo; returns Changed.
  bool ScanNetmail();
  // After a successful store: deletes the noted bases, each whole or not at
  // all, and says of each what went or why it was kept.
  void DeleteRemovedBases();
  // Before the scan: what the settings make of requests that a sysop may
  // not mean (any sender accepted, values in UTF-8).
  void WarnOfSettings();
  // At the end of a run that did not abort, with MarkRequests on: the
  // requests read get the Received attribute; those that cannot are told.
  void MarkRequestsReceived();
  // Returns when the store may go ahead; with IfFEBusy quit and the flag
  // present it ends the process with exit code 253.
  void CheckBusyFlag();
  // The path of FastEcho's busy flag, from its semaphore directory.
  tShortString BusyFlagPath();
  // Disposes the message record, then the netmail base.
  void DisposeNetmail();

  int32_t StartMemory = 0;
  tShortString ControlFile;  // the name kelv.ctl was read from
  tFastEchoConfig Config;
  // Held from the scan to the end of the run.
  std::unique_ptr<tMsgBase> NetmailBase;
  std::unique_ptr<tMessage> Msg;
  // The bases of the areas removed so far, in the order of removal.
  std::vector<tBaseToGo> BasesToGo;
  // The requests the scan read, in its order.
  std::vector<tRequestRead> Requests;
};

// One output string from its parts; like every output string it holds at
// most 255 bytes.
tShortString Line(std::initializer_list<std::string_view> Parts);

// The directory of the running program, with its trailing separator.
tShortString ExecutableDir();

// The control file a run reads: "kelv.ctl" in the current directory when
// there is one, else the one beside the program (whether it is there or
// not).
tShortString LocateControlFile();

// The path of FastEcho's busy flag "febusy.0", in the semaphore directory
// of Config.
tShortString BusyFlagPath(const tFastEchoConfig& Config);

}  // namespace kelvane

#endif  // KELVANE_APP_APPLICATION_H_
