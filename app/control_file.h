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
  ckMarkRequests,
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
  // Requests get the Received attribute at the end of a run, and a message
  // that has it is no request.
  bool MarkRequests = false;
  // The first line whose value is compared with netmail (a name, address,
  // subject, pattern or stop string) and looks like UTF-8 text; 0 for none.
  long Utf8Line = 0;
};

// True when no FromName and no FromAddr took effect: the sender of a
// request is not looked at.
bool AcceptsAnySender(const tControlSettings& Settings);
// What kelvane says when it is so.
extern const char AnySenderWarning[];
// What kelvane says of a control file with a UTF-8 value: FileName as it
// is to be shown, and the line Settings.Utf8Line.
tShortString Utf8Warning(std::string_view FileName, long Line);
// Whether Text is rather UTF-8 than code page 866: it holds bytes of 0x80
// and above, and they all form UTF-8 sequences.
bool LooksLikeUtf8(std::string_view Text);

// A line of the control file that is reported: one that no keyword takes
// (Reason names the word that is no keyword), or a keyword line whose value
// cannot work (Reason says why: a RemoveBase, IfFEBusy or MarkRequests
// value that is none of its words, an address that cannot be one, a
// MatchStr pattern that does not compile, a MatchStr without a pattern or
// template). Such a value places no condition and sets nothing.
struct tWrongLine {
  long Line = 0;  // from 1
  tShortString Reason;
};

// Reads FileName through tControlReader into Settings; returns true when the
// reader reports that the file cannot be read. WrongLines receives the
// lines to report, in the order of their numbers.
//
// A RemoveBase value other than yes or no keeps the bases (false), an
// IfFEBusy value other than wait, quit or poher waits, a MarkRequests value
// other than yes or no marks nothing: a word that was not understood never
// deletes anything.
bool LoadControlFile(std::string_view FileName, tControlSettings& Settings, tCollection<tWrongLine>& WrongLines);

// The address text a FromAddr or ToAddr value stands for, as netmail
// addresses are shown (zone:net/node, .point when the point is not 0, no
// leading zeros); false, with Why, when the value is no such address (each
// number up to 65535) or carries a domain, which netmail addresses never do.
bool ControlAddress(std::string_view Value, tShortString& Address, const char*& Why);

// FidoNet address text with a zero point dropped: 2:463/1.0 and
// 2:463/1.0@xnet give 2:463/1; any other text is returned as it is.
tShortString NormalizeAddress(std::string_view Text);

}  // namespace kelvane

#endif  // KELVANE_APP_CONTROL_FILE_H_
