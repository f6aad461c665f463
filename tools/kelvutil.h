// kelvutil: a look inside everything kelvane reads and writes. Each
// subcommand is one function in its own file, listed in the table of
// kelvutil.cc. A subcommand gets its own arguments (Args[0] is its name),
// prints plain stable output (one record a line, fields separated by tabs
// where it lists; text bytes as stored, code page 866), and returns the exit
// code: 0 on success, 1 on failure with the reason on standard error.
#ifndef KELVANE_TOOLS_KELVUTIL_H_
#define KELVANE_TOOLS_KELVUTIL_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace kelvane {

struct tSubcommand {
  const char* Name;
  const char* Usage;    // argument synopsis, e.g. "PATTERN TEMPLATE LINE..."
  const char* Summary;  // one line for the overview
  const char* Help;     // the text of "kelvutil NAME --help"
  int (*Run)(int Argc, char** Args);
};

// True when Args holds "--help" or "-h" after the subcommand name.
bool WantsHelp(int Argc, char** Args);
// Prints "kelvutil NAME: " + Message on standard error and returns 1.
int Fail(const char* Name, const char* Message);
// Text as it may go to a terminal and into one-record-a-line output: every
// control byte (0x00 to 0x1F, and 0x7F) in caret notation ("^A", "^I",
// "^[", "^?"), so that no byte of a message moves the cursor, retitles or
// clears the sysop's terminal, or breaks a line or a field.
std::string Escaped(std::string_view Text);

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
// Opens a base by identifier for list and show, for reading only; prints
// the reason on standard error and yields nothing when it cannot.
class tMsgBase;
std::unique_ptr<tMsgBase> OpenBaseForReading(const char* Command, const char* Identifier);
// What list prints for a base, and show for message N (false when there is
// no such message), to Out.
void PrintMessageList(std::FILE* Out, tMsgBase& Base);
bool PrintMessage(std::FILE* Out, tMsgBase& Base, int32_t N);
// The lines show adds for a Squish base after ReadMessage read message N
// (frame offset, UMSGID, reply links); nothing for other bases.
void PrintSquishDetails(std::FILE* Out, tMsgBase& Base, int32_t N);
// The packet header's lines of show (nothing for other formats).
void PrintPacketHeader(std::FILE* Out, tMsgBase& Base);
// The format's own lines of show for message N of a JAM base (nothing for
// other bases): header offset, index CRC, links, subfields by id.
void PrintJamDetails(std::FILE* Out, tMsgBase& Base, int32_t N);

}  // namespace kelvane

#endif  // KELVANE_TOOLS_KELVUTIL_H_
