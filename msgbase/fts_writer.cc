// The FTS text writers every format shares (see fts_writer.h).
#include "msgbase/fts_writer.h"

#include "msgbase/address.h"

namespace kelvane {

namespace {

constexpr char Soh = 1;
constexpr char Cr = 13;

void WriteLine(tStream& S, std::string_view Prefix, std::string_view Value) {
  S.WriteStr(Prefix);
  S.WriteStr(Value);
  S.Write(&Cr, 1);
}

// A point word worth a line: neither 0 nor the unset mark, which no address
// can carry.
uint16_t RealPoint(uint16_t Point) { return Point == UnsetWord ? 0 : Point; }

}  // namespace

tShortString MsgIdToWrite(const tMessage& Msg) { return (Msg.Completed & cvMsgId) ? tShortString() : Msg.MsgId; }

tShortString IntlToWrite(const tMessage& Msg) { return (Msg.Completed & cvIntl) ? tShortString() : Msg.Intl; }

uint16_t OrigPointToWrite(const tMessage& Msg) { return (Msg.Completed & cvOrigPoint) ? 0 : RealPoint(Msg.OrigPoint); }

uint16_t DestPointToWrite(const tMessage& Msg) { return RealPoint(Msg.DestPoint); }

tShortString FlagsToWrite(const tMessage& Msg) {
  if (Msg.FlagsRest.Empty()) return Msg.Flags;
  if (Msg.Flags.Empty()) return Msg.FlagsRest;
  return Msg.Flags + " " + Msg.FlagsRest;
}

void WriteKludgeLines(tStream& S, const tMessage& Msg, tKludgeStyle Style) {
  // The lines go out one behind the other, each ended by the break of the
  // line before the next one is started: so the last line's break can be
  // chosen with the body in sight. A body that begins with LF (an empty
  // first line of an LF text) must not follow a CR, which a reader would
  // take as one CR LF break with it.
  bool Started = false;
  auto EndLine = [&S, Style, &Started](char Break) {
    if (Started && Style == ksTextLines) S.Write(&Break, 1);
    Started = true;
  };
  auto Put = [&](std::string_view Name, std::string_view Value) {
    if (Value.empty()) return;
    EndLine(Cr);
    S.Write(&Soh, 1);
    S.WriteStr(Name);
    S.WriteStr(Value);
  };
  if (IsNetmail(Msg)) {
    if (uint16_t P = OrigPointToWrite(Msg)) Put("FMPT ", IntToStr(P));
    if (uint16_t P = DestPointToWrite(Msg)) Put("TOPT ", IntToStr(P));
    Put("INTL ", IntlToWrite(Msg));
  }
  Put("MSGID: ", MsgIdToWrite(Msg));
  Put("REPLY: ", Msg.ReplyId);
  Put("FLAGS ", FlagsToWrite(Msg));
  Put("PID: ", Msg.Pid);
  Put("TID: ", Msg.Tid);
  for (const tShortString& Line : Msg.Kludges) {
    if (Line.Empty()) continue;
    EndLine(Cr);
    S.WriteStr(Line);
  }
  std::string_view Body = Msg.Text.View();
  EndLine(!Body.empty() && Body[0] == '\n' ? '\n' : Cr);
  if (Style == ksControlInfo) S.Write("", 1);
}

bool WritesOriginLine(const tMessage& Msg) {
  return Msg.AddOrigin && (!Msg.Origin.Empty() || !Msg.Area.Empty() || !Msg.OriginAddr.Empty() ||
                           (Msg.Completed & cvOriginAddr));
}

tShortString OriginLineText(const tMessage& Msg) {
  if (!Msg.OriginAddr.Empty()) return Msg.Origin + Msg.OriginAddr;
  if (Msg.Completed & cvOriginAddr) return Msg.Origin;
  return Msg.Origin + "(" + OrigAddrStr(Msg) + ")";
}

void WriteBodyAndTail(tStream& S, const tMessage& Msg, unsigned Parts) {
  std::string_view Body = Msg.Text.View();
  S.WriteStr(Body);

  bool WantTear = (Parts & tpTearAndOrigin) && !Msg.TearLine.Empty() && Msg.AddTearLine;
  bool WantOrigin = (Parts & tpTearAndOrigin) && WritesOriginLine(Msg);
  bool WantLists = (Parts & tpSeenByAndPath) && (!Msg.SeenByLines.Empty() || !Msg.PathLines.Empty());
  bool WantRoute = (Parts & tpRouteLines) && !Msg.RouteLines.Empty();
  // A body whose last line has no break would swallow the first control
  // line behind it; give that line its CR.
  if ((WantTear || WantOrigin || WantLists || WantRoute) && !Body.empty() && Body.back() != Cr &&
      Body.back() != '\n')
    S.Write(&Cr, 1);

  if (WantTear) WriteLine(S, "---", Msg.TearLine);
  if (WantOrigin) WriteLine(S, " * Origin: ", OriginLineText(Msg));
  if (Parts & tpSeenByAndPath) {
    for (const tShortString& Line : Msg.SeenByLines) WriteLine(S, "SEEN-BY: ", Line);
    for (const tShortString& Line : Msg.PathLines) {
      S.Write(&Soh, 1);
      WriteLine(S, "PATH: ", Line);
    }
  }
  if (Parts & tpRouteLines)
    for (const tShortString& Line : Msg.RouteLines)
      if (!Line.Empty()) WriteLine(S, "", Line);
}

}  // namespace kelvane
