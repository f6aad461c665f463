// kelvutil show BASEID N: one message with every field the library read
// from it, its kludge, route, SEEN-BY and PATH lines, then the body, so
// what a request looked like to kelvane can be checked line by line. Values
// the reader completed are marked; control bytes are escaped.
#include <cstdio>
#include <memory>

#include "msgbase/address.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "msgbase/text_body.h"
#include "runtime/short_string.h"
#include "tools/kelvutil.h"

namespace kelvane {

extern const char ShowHelp[] =
    "Shows message N of a message base: one header field a line (name, a\n"
    "tab, the value), the kludge lines, route lines, SEEN-BY and PATH lines,\n"
    "an empty line, then the body with its line breaks. A value the message\n"
    "does not carry and the reader completed (a MSGID or INTL made from the\n"
    "addresses, the time of reading for a date text with no date) is\n"
    "followed by a tab and \"(completed)\"; it is never written back. Kind is\n"
    "netmail, echomail or local where the base records it (JAM, packets). A\n"
    "JAM message whose header marks it deleted is shown as it stands, its\n"
    "Attr line ending in \"deleted\"; JamTextCut tells a text whose length\n"
    "runs past the end of .jdt, shown only up to there or to the next\n"
    "message's text. A type 2.2 packet header gives PacketType 2.2 and its\n"
    "domains in place of the date and the capability words. Text is printed\n"
    "as stored (code page 866, as UTF-8 on Linux), except that control\n"
    "characters show as ^ and a letter (^A the SOH that starts a kludge, ^[\n"
    "an escape), so that no message can change the terminal.\n\n"
    KELV_BASEID_HELP "The base is opened for reading only.\n";

namespace {

constexpr const char* CompletedMark = "\t(completed)";

// One field: its name, a tab, its value with every control byte escaped,
// and the mark of a completed value.
void PutLine(tTextOut& Out, const char* Name, std::string_view Text, bool Completed = false) {
  Out.Printf("%s\t%s%s\n", Name, Escaped(Text).c_str(), Completed ? CompletedMark : "");
}

void PutNumber(tTextOut& Out, const char* Name, long long Value) { Out.Printf("%s\t%lld\n", Name, Value); }

void PutDate(tTextOut& Out, const char* Name, const tDateTime& T, bool Completed = false) {
  Out.Printf("%s\t%04d-%02d-%02d %02d:%02d:%02d%s\n", Name, static_cast<int>(T.Year), static_cast<int>(T.Month),
               static_cast<int>(T.Day), static_cast<int>(T.Hour), static_cast<int>(T.Min), static_cast<int>(T.Sec),
               Completed ? CompletedMark : "");
}

// The attribute word and the names of its known bits and FLAGS-only flags.
void PutAttributes(tTextOut& Out, const tMessage& Msg) {
  Out.Printf("Attr\t0x%08lx", static_cast<unsigned long>(Msg.Attr));
  for (int I = 0; I < NamedAttrCount; ++I)
    if (Msg.HasAttr(AttrFlagBits[I])) Out.Printf(" %.3s", AttrFlagNames[I]);
  if (Msg.HasAttr(maDeleted)) Out.Put(" deleted");
  Out.Put("\n");
}

// The body as it is read from the base's file, piece by piece, however
// long: CR, LF and either pair of them each end one line; every other
// control byte is escaped.
void PutBody(tTextOut& Out, tTextBody& Body) {
  bool InLine = false;  // bytes of a line not yet ended were printed
  char Break = 0;       // the break just printed, whose partner goes with it
  for (std::string_view Piece = Body.Next(); !Piece.empty(); Piece = Body.Next()) {
    size_t Start = 0;
    for (size_t I = 0; I < Piece.size(); ++I) {
      char C = Piece[I];
      if (C != '\r' && C != '\n') {
        Break = 0;
        continue;
      }
      if (Start < I) Out.Put(Escaped(Piece.substr(Start, I - Start)));
      Start = I + 1;
      if (Break && C != Break) {
        Break = 0;  // the partner of the break before: the same line end
        continue;
      }
      Out.Put("\n");
      InLine = false;
      Break = C;
    }
    if (Start < Piece.size()) {
      Out.Put(Escaped(Piece.substr(Start)));
      InLine = true;
    }
  }
  if (InLine) Out.Put("\n");
}

}  // namespace

bool PrintMessage(tTextOut& Out, tMsgBase& Base, int32_t Number) {
  tMessage Msg;
  // The body is printed as it is read from the file, never held whole. A
  // JAM message marked deleted does not exist, but is shown as it stands
  // (its Attr says deleted).
  Base.StreamBody = 1;
  bool Failed =
      Base.Exists(Number) ? Base.ReadMessage(Number, &Msg) : !ReadJamMarkedDeleted(Base, Number, Msg);
  Base.StreamBody = 0;
  if (Failed) return false;
  bool DateMade = Msg.Completed & cvDate;
  PrintPacketHeader(Out, Base);
  PutNumber(Out, "Number", Number);
  PutLine(Out, "From", Msg.From);
  PutLine(Out, "FromAddr", OrigAddrStr(Msg));
  PutLine(Out, "FromDomain", Msg.OrigDomain);
  PutLine(Out, "To", Msg.To);
  PutLine(Out, "ToAddr", DestAddrStr(Msg));
  PutLine(Out, "ToDomain", Msg.DestDomain);
  PutLine(Out, "Subject", Msg.Subject);
  PutLine(Out, "Date", Msg.DateStr, DateMade);
  PutDate(Out, "Written", Msg.DateWritten, DateMade);
  PutDate(Out, "Arrived", Msg.DateArrived);
  PutAttributes(Out, Msg);
  PutLine(Out, "Flags", Msg.Flags);
  PutLine(Out, "FlagsRest", Msg.FlagsRest);
  PutLine(Out, "Area", Msg.Area);
  PutLine(Out, "Kind", KindName(Msg.Kind));
  PutLine(Out, "MsgId", Msg.MsgId, Msg.Completed & cvMsgId);
  PutLine(Out, "ReplyId", Msg.ReplyId);
  PutLine(Out, "Intl", Msg.Intl, Msg.Completed & cvIntl);
  PutLine(Out, "Pid", Msg.Pid);
  PutLine(Out, "Tid", Msg.Tid);
  PutNumber(Out, "TimesRead", Msg.TimesRead);
  PutNumber(Out, "Cost", Msg.Cost);
  PutNumber(Out, "ReplyTo", Msg.ReplyTo);
  for (int I = 1; I <= ReplyCount; ++I)
    if (Msg.Replies[I] != 0) PutNumber(Out, "Reply", Msg.Replies[I]);
  PutNumber(Out, "MsgNum", Msg.MsgNum);
  PrintSquishDetails(Out, Base, Number);
  PutLine(Out, "TearLine", Msg.AddTearLine ? Msg.TearLine : tShortString());
  PutLine(Out, "Origin", Msg.AddOrigin ? Msg.Origin : tShortString());
  PutLine(Out, "OriginAddr", Msg.AddOrigin ? Msg.OriginAddr : tShortString());
  for (const tShortString& L : Msg.Kludges) PutLine(Out, "Kludge", L);
  for (const tShortString& L : Msg.RouteLines) PutLine(Out, "Route", L);
  for (const tShortString& L : Msg.SeenByLines) PutLine(Out, "SeenBy", L);
  for (const tShortString& L : Msg.PathLines) PutLine(Out, "Path", L);
  PrintJamDetails(Out, Base, Number);
  Out.Put("\n");
  if (Base.Body) PutBody(Out, *Base.Body);
  Base.Body.reset();
  return true;
}

int RunShowCommand(int Argc, char** Args) {
  if (Argc != 3) return Fail("show", "usage: kelvutil show BASEID N");
  long long N = 0;
  if (!ParseNumber(Args[2], 0, 0x7FFFFFFF, N)) return Fail("show", "N must be a message number");
  auto Base = OpenBaseForReading("show", Args[1]);
  if (!Base) return 1;
  int32_t Number = static_cast<int32_t>(N);
  if (!PrintMessage(Out(), *Base, Number)) {
    std::string Which = "message " + IntToStr(Number).ToStdString();
    if (Base->Exists(Number)) return Fail("show", Which + " of " + Args[1] + " cannot be read");
    std::string Other = OtherBasesIn(*Base);
    return Fail("show", "no " + Which + " in " + Args[1] + (Other.empty() ? "" : ": ") + Other);
  }
  return 0;
}

}  // namespace kelvane
