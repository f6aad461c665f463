// The decisions of a run, kept apart from what is done about them: which
// netmail messages are requests, which areas a request names, and what
// becomes of the message base of an area that goes. kelvane acts on them
// (it prints, removes the areas from the configuration in memory, and
// deletes the bases once the configuration is safely stored); a dry run
// takes the same decisions from this same code and acts on none of them.
//
// Nothing here prints or changes a file.
#ifndef KELVANE_APP_REMOVAL_RULES_H_
#define KELVANE_APP_REMOVAL_RULES_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "app/control_file.h"
#include "runtime/short_string.h"

namespace kelvane {

class tFastEchoConfig;
class tMessage;
class tTextBody;

// What becomes of a removed area's message base.
enum tBaseFate {
  bfNone,     // nothing to delete: RemoveBase is off, no path, type 0 or 7
  bfDelete,   // the base goes, whole or not at all
  bfNetmail,  // a *.MSG base that is the netmail folder: kept
  bfOwnFile,  // the base holds kelv.ctl or FastEcho's configuration: kept
  bfShared,   // an area that stays in the configuration has the same base: kept
};

struct tBaseToGo {
  tShortString Tag;   // the area's tag as the configuration holds it
  tShortString Path;  // the area's BasePath
  tShortString Id;    // the base identifier handed to DeleteBase
  tBaseFate Fate = bfNone;
  tShortString OwnFile;  // bfOwnFile: the file of ours the base holds
  tShortString SharedWith;  // bfShared: the tag of the area that keeps it
};

// The conditions that make a netmail message a request, in the order they
// are tested; rcRequest when none fails. rcReceived: with MarkRequests on,
// a message that meets the others but carries the Received attribute (an
// earlier run acted on it already).
enum tCondition { rcRequest, rcFromName, rcFromAddr, rcToName, rcToAddr, rcSubject, rcReceived };
// The control-file keyword of a condition ("FromName", ...); "" for rcRequest,
// "MarkRequests" for rcReceived.
const char* ConditionName(tCondition Condition);

// One line of a request as the scan reads it: the lines that are not
// empty, up to the first that holds a stop string.
struct tRequestLine {
  int32_t Number = 0;  // from 1, every line of the body counted
  tShortString Text;   // its first 255 bytes
  // The tags it names, one for each MatchStr pair that names one, in the
  // order of the pairs.
  std::vector<tShortString> Tags;
  // The stop string it holds (upper-cased): the request ends here and this
  // line names nothing.
  tShortString Stop;
};

class tRemovalRules {
 public:
  // Settings as read from ControlFile; NetmailDir is FastEcho's netmail
  // folder. Settings must outlive the rules.
  tRemovalRules(const tControlSettings& Settings, std::string_view ControlFile, std::string_view NetmailDir);

  // The first of the sender, recipient and subject conditions that Msg
  // fails; rcRequest when it meets them all.
  tCondition FirstFailed(const tMessage& Msg) const;
  bool IsRequest(const tMessage& Msg) const { return FirstFailed(Msg) == rcRequest; }
  // The next line of a request as the scan meets it in the request's body:
  // a body line that is not empty, with the tags its MatchStr pairs make
  // of it, pair by pair (blanks at both ends of a tag are dropped, as tags
  // hold none, and what is left empty names nothing), or the first that
  // holds a stop string, which ends the request. Line starts as a new
  // tRequestLine for each request and carries the count of lines from one
  // call to the next. False when the request has no more lines. Each line
  // is read from the body as it is asked for: a request of any length
  // costs one line of memory.
  bool NextRequestLine(tTextBody& Body, tRequestLine& Line) const;
  // What becomes of the base of area Index of Config when the area goes.
  tBaseToGo BaseOf(const tFastEchoConfig& Config, int32_t Index) const;
  // Once every request is through: a base that is to go but is also the
  // base of an area Config still holds (two areas on one path) is kept, or
  // the area that stays would lose its messages.
  void KeepSharedBases(const tFastEchoConfig& Config, std::vector<tBaseToGo>& Bases) const;

 private:
  const tControlSettings& Settings_;
  tShortString ControlFile_;
  tShortString NetmailDir_;
};

}  // namespace kelvane

#endif  // KELVANE_APP_REMOVAL_RULES_H_
