// The control-line vocabulary of FidoNet message text and the stream line
// reader (see control_line.h).
#include "msgbase/control_line.h"

#include <span>

#include "runtime/case866.h"

namespace kelvane {

namespace {

constexpr uint8_t Cr = 13;
constexpr uint8_t Lf = 10;

struct tPrefix {
  tControlKind Kind;
  std::string_view Upper;    // as compared, upper case
  std::string_view Written;  // as written
};

// SOH lines first, in the order of the vocabulary; a prefix that is the
// start of another comes after it (none does today).
constexpr tPrefix SohPrefixes[] = {
    {ckIntl, "\001INTL ", "\001INTL "},       {ckTopt, "\001TOPT ", "\001TOPT "},
    {ckFmpt, "\001FMPT ", "\001FMPT "},       {ckMsgId, "\001MSGID: ", "\001MSGID: "},
    {ckReply, "\001REPLY: ", "\001REPLY: "},  {ckFlags, "\001FLAGS ", "\001FLAGS "},
    {ckPid, "\001PID: ", "\001PID: "},        {ckTid, "\001TID: ", "\001TID: "},
    {ckVia, "\001VIA ", "\001Via "},          {ckRecd, "\001RECD ", "\001Recd "},
    {ckForwarded, "\001FORWARDED ", "\001Forwarded "}, {ckPath, "\001PATH: ", "\001PATH: "},
};
constexpr tPrefix PlainPrefixes[] = {
    {ckTearLine, "---", "---"},
    {ckOrigin, " * ORIGIN: ", " * Origin: "},
    {ckSeenBy, "SEEN-BY: ", "SEEN-BY: "},
    {ckArea, "AREA:", "AREA:"},
};

// Whether Line begins with Prefix (given in upper case), compared in upper
// case.
bool HasPrefix(std::string_view Line, std::string_view Prefix) {
  if (Line.size() < Prefix.size()) return false;
  for (size_t I = 0; I < Prefix.size(); ++I)
    if (UpperCase866(Line[I]) != Prefix[I]) return false;
  return true;
}

inline bool IsBreak(uint8_t C) { return C == Cr || C == Lf; }
inline uint8_t PartnerOf(uint8_t C) { return C == Cr ? Lf : Cr; }

}  // namespace

tControlLine ClassifyControlLine(std::string_view Line) {
  tControlLine Result;
  Result.Rest = Line;
  if (Line.empty()) return Result;
  bool Soh = Line[0] == '\001';
  if (Soh) Result.Kind = ckKludge;
  for (const tPrefix& P : Soh ? std::span<const tPrefix>(SohPrefixes) : std::span<const tPrefix>(PlainPrefixes))
    if (HasPrefix(Line, P.Upper)) {
      Result.Kind = P.Kind;
      Result.Rest = Line.substr(P.Upper.size());
      break;
    }
  return Result;
}

std::string_view ControlPrefix(tControlKind Kind) {
  for (std::span<const tPrefix> Table : {std::span<const tPrefix>(SohPrefixes), std::span<const tPrefix>(PlainPrefixes)})
    for (const tPrefix& P : Table)
      if (P.Kind == Kind) return P.Written;
  return std::string_view();
}

bool ReadStreamLine(tStream& S, int64_t Limit, tShortString& Line) {
  Line.Clear();
  auto Fail = [&S]() {
    S.Reset();
    S.Seek(S.GetSize());
    return false;
  };
  int64_t Pos = S.GetPos();
  uint8_t C = 0;
  bool Broke = false;
  while (Pos < Limit) {
    S.Read(&C, 1);
    if (S.Status != stOk) return Fail();
    if (C == 0) {
      S.Seek(Pos);
      return false;
    }
    ++Pos;
    if (IsBreak(C)) {
      Broke = true;
      break;
    }
    Line.Append(static_cast<char>(C));
  }
  if (Broke && Pos < Limit) {
    uint8_t Next = 0;
    S.Read(&Next, 1);
    if (S.Status != stOk) return Fail();
    if (Next != PartnerOf(C)) S.Seek(Pos);
  }
  return true;
}

}  // namespace kelvane
