// kelvutil show BASEID N: one message with every field the library read
// from it, its kludge, route, SEEN-BY and PATH lines, then the body, so
// what a request looked like to kelvane can be checked line by line.
#include <cstdio>
#include <memory>

#include "msgbase/address.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "runtime/short_string.h"
#include "tools/kelvutil.h"

namespace kelvane {

extern const char ShowHelp[] =
    "Shows message N of a message base: one header field a line (name, a\n"
    "tab, the value), the kludge lines, route lines, SEEN-BY and PATH lines\n"
    "(the SOH that starts a kludge shown as ^A), an empty line, then the body\n"
    "with its line breaks. Text is printed as stored (code page 866).\n\n"
    "BASEID is as for list; the base is opened for reading only.\n";

namespace {

// A stored line printed on one line of output: SOH as ^A, other control
// characters as blanks.
void PutLine(const char* Name, const tShortString& Text) {
  std::printf("%s\t", Name);
  for (size_t I = 0; I < Text.Length(); ++I) {
    uint8_t C = Text.Byte(I);
    if (C == 1)
      std::fputs("^A", stdout);
    else
      std::putchar(C < 0x20 ? ' ' : C);
  }
  std::putchar('\n');
}

void PutNumber(const char* Name, long long Value) { std::printf("%s\t%lld\n", Name, Value); }

void PutDate(const char* Name, const tDateTime& T) {
  std::printf("%s\t%04d-%02d-%02d %02d:%02d:%02d\n", Name, static_cast<int>(T.Year), static_cast<int>(T.Month),
              static_cast<int>(T.Day), static_cast<int>(T.Hour), static_cast<int>(T.Min), static_cast<int>(T.Sec));
}

// The attribute word and the names of its known bits and FLAGS-only flags.
void PutAttributes(const tMessage& Msg) {
  std::printf("Attr\t0x%08lx", static_cast<unsigned long>(Msg.Attr));
  for (int I = 0; I < NamedAttrCount; ++I)
    if (Msg.HasAttr(AttrFlagBits[I])) std::printf(" %.3s", AttrFlagNames[I]);
  if (Msg.HasAttr(maDeleted)) std::fputs(" deleted", stdout);
  std::putchar('\n');
}

// The body: CR, LF and either pair of them each end one line.
void PutBody(tMemoryStream& Text) {
  std::string_view Body = Text.View();
  for (size_t I = 0; I < Body.size(); ++I) {
    char C = Body[I];
    if (C == '\r' || C == '\n') {
      std::putchar('\n');
      if (I + 1 < Body.size() && (Body[I + 1] == '\r' || Body[I + 1] == '\n') && Body[I + 1] != C) ++I;
    } else {
      std::putchar(C);
    }
  }
  if (!Body.empty() && Body.back() != '\r' && Body.back() != '\n') std::putchar('\n');
}

}  // namespace

int RunShowCommand(int Argc, char** Args) {
  if (Argc != 3) return Fail("show", "usage: kelvutil show BASEID N");
  long long N = 0;
  if (!StrToInt(Args[2], N) || N < 0 || N > 0x7FFFFFFF) return Fail("show", "N must be a message number");
  auto Base = OpenBaseForReading("show", Args[1]);
  if (!Base) return 1;
  int32_t Number = static_cast<int32_t>(N);
  tMessage Msg;
  if (!Base->Exists(Number) || Base->ReadMessage(Number, &Msg)) {
    std::fprintf(stderr, "kelvutil show: no message %d in %s\n", static_cast<int>(Number), Args[1]);
    return 1;
  }

  PutNumber("Number", Number);
  PutLine("From", Msg.From);
  PutLine("FromAddr", OrigAddrStr(Msg));
  PutLine("FromDomain", Msg.OrigDomain);
  PutLine("To", Msg.To);
  PutLine("ToAddr", DestAddrStr(Msg));
  PutLine("ToDomain", Msg.DestDomain);
  PutLine("Subject", Msg.Subject);
  PutLine("Date", Msg.DateStr);
  PutDate("Written", Msg.DateWritten);
  PutDate("Arrived", Msg.DateArrived);
  PutAttributes(Msg);
  PutLine("Flags", Msg.Flags);
  PutLine("FlagsRest", Msg.FlagsRest);
  PutLine("Area", Msg.Area);
  PutLine("MsgId", Msg.MsgId);
  PutLine("ReplyId", Msg.ReplyId);
  PutLine("Intl", Msg.Intl);
  PutLine("Pid", Msg.Pid);
  PutLine("Tid", Msg.Tid);
  PutNumber("TimesRead", Msg.TimesRead);
  PutNumber("Cost", Msg.Cost);
  PutNumber("ReplyTo", Msg.ReplyTo);
  for (int I = 1; I <= ReplyCount; ++I)
    if (Msg.Replies[I] != 0) PutNumber("Reply", Msg.Replies[I]);
  PutNumber("MsgNum", Msg.MsgNum);
  PutLine("TearLine", Msg.AddTearLine ? Msg.TearLine : tShortString());
  PutLine("Origin", Msg.AddOrigin ? Msg.Origin : tShortString());
  for (const tShortString& L : Msg.Kludges) PutLine("Kludge", L);
  for (const tShortString& L : Msg.RouteLines) PutLine("Route", L);
  for (const tShortString& L : Msg.SeenByLines) PutLine("SeenBy", L);
  for (const tShortString& L : Msg.PathLines) PutLine("Path", L);
  std::putchar('\n');
  PutBody(Msg.Text);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace kelvane
