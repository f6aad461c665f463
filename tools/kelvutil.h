// kelvutil: a look inside everything kelvane reads and writes. Each
// subcommand is one function in its own file, listed in the table of
// kelvutil.cc. A subcommand gets its own arguments (Args[0] is its name),
// prints plain stable output through Out() (one record a line, fields
// separated by tabs where it lists; text bytes as stored, code page 866,
// written as UTF-8 on Linux), and returns the exit code: 0 on
// success, 1 on failure with the reason on standard error (Err()).
#ifndef KELVANE_TOOLS_KELVUTIL_H_
#define KELVANE_TOOLS_KELVUTIL_H_

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/baseid.h"
#include "runtime/short_string.h"

namespace kelvane {

class tMessage;
class tMsgBase;
struct tControlSettings;

struct tSubcommand {
  const char* Name;
  const char* Usage;    // argument synopsis, e.g. "PATTERN TEMPLATE LINE..."
  const char* Summary;  // one line for the overview
  const char* Help;     // the text of "kelvutil NAME --help"
  int (*Run)(int Argc, char** Args);
};

// Where kelvutil's text goes: a standard stream, or (for tests) a string.
// Text is code page 866 bytes; with Utf8 set it is written as UTF-8, as
// kelvane writes on Linux, else as the bytes it is.
class tTextOut {
 public:
  // File nullptr: the text is collected in Text().
  explicit tTextOut(std::FILE* File = nullptr) : File_(File) {}
  // Writes Text as it stands (no escaping).
  void Put(std::string_view Text);
  // One record: the fields, each with its control bytes escaped, joined
  // by tabs, then a line end.
  void Record(std::initializer_list<std::string_view> Fields);
  void Record(const std::vector<std::string>& Fields);
  // printf into Put: the caller escapes what may hold control bytes.
#ifdef __MINGW32__
  void Printf(const char* Format, ...) __attribute__((format(gnu_printf, 2, 3)));
#else
  void Printf(const char* Format, ...) __attribute__((format(printf, 2, 3)));
#endif
  // Hands what is buffered to the system; false when output failed.
  bool Flush();
  const std::string& Text() const { return Text_; }

  bool Utf8 = false;

 private:
  // One record: Fields escaped (and converted) and joined into Line_.
  template <class tFields>
  void PutRecord(const tFields& Fields);
  // Text as it goes out, converted already.
  void Write(std::string_view Text);
  std::FILE* File_;
  std::string Text_;
  std::string Line_, Converted_;  // kept from one record to the next
};

// Standard output and standard error; tests put their own in place
// (nullptr restores the standard ones).
tTextOut& Out();
tTextOut& Err();
void SetOutputs(tTextOut* AOut, tTextOut* AErr);

// True when Args holds "--help" or "-h" after the subcommand name.
bool WantsHelp(int Argc, char** Args);
// Prints "kelvutil NAME: " + Message (control bytes escaped) on Err()
// and returns 1.
int Fail(const char* Name, std::string_view Message);
// Text as it may go to a terminal and into one-record-a-line output: every
// control byte (0x00 to 0x1F, and 0x7F) in caret notation ("^A", "^I",
// "^[", "^?"), so that no byte of a message moves the cursor, retitles or
// clears the sysop's terminal, or breaks a line or a field.
std::string Escaped(std::string_view Text);
// "1 file", "2 files": N and One, with an "s" unless N is 1.
std::string Counted(long long N, const char* One);
// A whole decimal number from FIRST to LAST, or false.
bool ParseNumber(std::string_view Text, long long First, long long Last, long long& Value);
// Warns on Err(), as kelvane does on its console, of what the settings
// read from the control file FileName make of requests that the sysop may
// not mean: a value in UTF-8, any sender accepted.
void WarnOfSettings(const char* Command, std::string_view FileName, const tControlSettings& Settings);
// What ctl and plan end with: 1, with the number of wrong lines on Err(),
// when the control file has any (so "kelvutil ctl kelv.ctl || exit" guards
// a batch file); else 0.
int WrongLinesCode(const char* Command, std::string_view FileName, size_t WrongLines);

// The base identifier an argument names. An argument that names an
// existing file or folder as it stands, or a base still to be made in an
// existing folder by an extension that names a format ("jam/new.jhr"), is
// a bare path typed by its extension; any other argument is a type letter
// and a path. Empty when a bare path's extension names no format or the
// identifier does not fit.
tShortString BaseIdOfArgument(std::string_view Arg);
// The identifier, format and path (what follows the type letter) of the
// base an argument names; false, with the reason in Why, when it names
// none.
bool ResolveBaseArgument(std::string_view Arg, tShortString& Id, tBaseKind& Kind, tShortString& Path,
                         std::string& Why);
// "Squish bases", "packets".
std::string BasesOf(tBaseKind Kind);
// Opens the base an argument names for reading only, as list, show, copy
// and plan do; prints the reason on Err() and yields nothing when it
// cannot (a folder that is not there is not made).
std::unique_ptr<tMsgBase> OpenBaseForReading(const char* Command, std::string_view Arg);
// For a *.MSG folder that holds no message files but bases of other
// formats (a folder of JAM or Squish areas, an inbound folder of packets):
// what it holds and how to name one of them. Empty otherwise.
std::string OtherBasesIn(tMsgBase& Base);
// The numbers of the messages a base holds now, ascending.
std::vector<int32_t> MessageNumbers(tMsgBase& Base);
// FastEcho's base type of an area as kelvane reads it: "*.MSG", "Squish",
// "JAM", "none" (0 and 7), "by its path" (other values).
const char* AreaTypeName(int16_t Type);

// The subcommands, in the order of the table.
int RunRegexCommand(int Argc, char** Args);
extern const char RegexHelp[];
int RunCtlCommand(int Argc, char** Args);
extern const char CtlHelp[];
int RunFecfgCommand(int Argc, char** Args);
extern const char FecfgHelp[];
int RunListCommand(int Argc, char** Args);
extern const char ListHelp[];
int RunShowCommand(int Argc, char** Args);
extern const char ShowHelp[];
int RunCopyCommand(int Argc, char** Args);
extern const char CopyHelp[];
int RunCheckCommand(int Argc, char** Args);
extern const char CheckHelp[];
int RunPackCommand(int Argc, char** Args);
extern const char PackHelp[];
int RunRepairCommand(int Argc, char** Args);
extern const char RepairHelp[];
int RunPlanCommand(int Argc, char** Args);
extern const char PlanHelp[];
// The paragraph on base identifiers that the help of list, show, copy and
// check shares.
#define KELV_BASEID_HELP                                                            \
  "BASEID names a message base: a type letter and a path (F or # a *.MSG\n"         \
  "folder, S or $ Squish, J or ! JAM, P a packet: Fnetmail, Sbases/echo),\n"        \
  "or a bare path typed by its extension (.jhr .jdt .jdx JAM, .sqd .sqi\n"          \
  "Squish, .pkt a packet, none a *.MSG folder). An argument that names an\n"        \
  "existing file or folder as it stands is always a bare path, so\n"                \
  "jam/echo.jhr is that JAM base and not the letter J and am/echo.jhr; so is\n"     \
  "a base still to be made in an existing folder whose extension names a\n"         \
  "format (jam/new.jhr). Anything else is a letter and a path.\n"

// What list prints for a base, and show for message N (false when there is
// no such message). The list passes over the messages it cannot read and
// yields their numbers.
std::vector<int32_t> PrintMessageList(tTextOut& To, tMsgBase& Base);
bool PrintMessage(tTextOut& To, tMsgBase& Base, int32_t N);
// The lines show adds for a Squish base after ReadMessage read message N
// (frame offset, UMSGID, reply links); nothing for other bases.
void PrintSquishDetails(tTextOut& Out, tMsgBase& Base, int32_t N);
// The packet header's lines of show (nothing for other formats).
void PrintPacketHeader(tTextOut& Out, tMsgBase& Base);
// The format's own lines of show for message N of a JAM base (nothing for
// other bases): header offset, index CRC, links, subfields by id.
void PrintJamDetails(tTextOut& Out, tMsgBase& Base, int32_t N);
// Message N of a JAM base whose header marks it deleted, read as it
// stands; false for any other message or base.
bool ReadJamMarkedDeleted(tMsgBase& Base, int32_t N, tMessage& Msg);

}  // namespace kelvane

#endif  // KELVANE_TOOLS_KELVUTIL_H_
