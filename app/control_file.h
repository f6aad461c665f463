// The settings kelvane takes from its control file kelv.ctl: which netmail
// messages are requests (sender, recipient, subject), the patterns that turn
// request lines into area tags, where reading a request stops, whether a
// removed area loses its message base, and what to do while FastEcho is
// busy. This half reads and prints nothing on the console, so kelvane and
// kelvutil take the same settings from the same file.
#ifndef KELVANE_APP_CONTROL_FILE_H_
#define KELVANE_APP_CONTROL_FILE_H_

#include <string_view>

#include "runtime/collection.h"
#include "runtime/short_string.h"

namespace kelvane {

enum tIfFEBusy { febWait = 0, febQuit = 1, febPoher = 2 };

// The control file's keywords, in the order they are registered with the
// reader: the order numbers are the reader's keyword indices.
enum tControlKeyword {
  ckFastEchoConfig,
  ckFromName,
  ckFromAddr,
  ckToName,
  ckToAddr,
  ckSubject,
  ckMatchStr,
  ckStopScanAfter,
  ckRemoveBase,
  ckIfFEBusy,
  ckCount
};
extern const char* const ControlKeywords[ckCount];

struct tControlSettings {  // the fields tApplication takes from kelv.ctl, in its order
  // Names, subjects and stop strings upper-cased (code page 866), addresses
  // normalised; each value once. Empty sets place no condition.
  tSortedStrings FromNames, FromAddrs, ToNames, ToAddrs, Subjects, StopStrings;
  // Parallel lists, in file order, duplicates kept.
  tStringList MatchPatterns, MatchTemplates;
  tShortString ConfigPath;  // as written up to a NUL; empty when the file names none
  bool RemoveBase = true;
  tIfFEBusy IfFEBusy = febWait;
};

// A line of the control file that is reported: one that no keyword takes
// (Reason empty), or a keyword line whose value cannot work (Reason says
// why: a RemoveBase or IfFEBusy value that is none of its words, a MatchStr
// pattern that does not compile, a MatchStr without a pattern or template).
struct tWrongLine {
  long Line = 0;  // from 1
  tShortString Reason;
};

// Reads FileName through tControlReader into Settings; returns true when the
// reader reports that the file cannot be read. WrongLines receives the
// lines to report, in the order of their numbers.
//
// A RemoveBase value other than yes or no keeps the bases (false), an
// IfFEBusy value other than wait, quit or poher waits: a word that was not
// understood never deletes anything.
bool LoadControlFile(std::string_view FileName, tControlSettings& Settings, tCollection<tWrongLine>& WrongLines);

// FidoNet address text with a zero point dropped: 2:463/1.0 and
// 2:463/1.0@xnet give 2:463/1; any other text is returned as it is.
tShortString NormalizeAddress(std::string_view Text);

}  // namespace kelvane

#endif  // KELVANE_APP_CONTROL_FILE_H_
