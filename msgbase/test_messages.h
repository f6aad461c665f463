// Test support for the message round trips of every format: a description
// of every field a read fills, to compare two reads as text, and a
// generator of stored *.MSG files of the kinds other software writes, whose
// messages any format must carry unchanged.
#ifndef KELVANE_MSGBASE_TEST_MESSAGES_H_
#define KELVANE_MSGBASE_TEST_MESSAGES_H_

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "msgbase/address.h"
#include "msgbase/message.h"
#include "msgbase/msgdir.h"
#include "runtime/coding.h"

namespace kelvane::testing {

// Every field a read fills (but the message's number in its base), one per
// line, so that a difference shows as a readable diff. The cvDate mark is
// left out: a date text with no date in it is dated at the first read and
// then carried.
inline std::string Describe(const tMessage& M) {
  std::string S;
  S.reserve(2048 + M.Text.View().size());
  auto Put = [&S](const char* Name, std::string_view Value) {
    S += Name;
    S += '=';
    S += Value;
    S += '\n';
  };
  auto Num = [&Put](const char* Name, long long V) { Put(Name, std::to_string(V)); };
  Put("From", M.From);
  Put("To", M.To);
  Put("Subject", M.Subject);
  Put("DateStr", M.DateStr);
  auto Date = [&Put](const char* Name, const tDateTime& T) {
    char Text[80];
    std::snprintf(Text, sizeof Text, "%d-%d-%d %d:%d:%d", static_cast<int>(T.Year), static_cast<int>(T.Month),
                  static_cast<int>(T.Day), static_cast<int>(T.Hour), static_cast<int>(T.Min), static_cast<int>(T.Sec));
    Put(Name, Text);
  };
  Date("Written", M.DateWritten);
  Num("TimesRead", M.TimesRead);
  Num("Attr", M.Attr);
  Num("ReplyTo", M.ReplyTo);
  for (int I = 1; I <= 9; ++I) Num("Reply", M.Replies[I]);
  Num("UtcOfs", M.UtcOfs);
  Date("Arrived", M.DateArrived);
  Put("MsgId", M.MsgId);
  Put("ReplyId", M.ReplyId);
  Put("Intl", M.Intl);
  Put("Pid", M.Pid);
  Put("Tid", M.Tid);
  Put("TearLine", M.TearLine);
  Num("AddTearLine", M.AddTearLine);
  Put("Origin", M.Origin);
  Put("OriginAddr", M.OriginAddr);
  Num("AddOrigin", M.AddOrigin);
  Put("Area", M.Area);
  Num("Cost", M.Cost);
  Put("Flags", M.Flags);
  Put("FlagsRest", M.FlagsRest);
  Put("Orig", OrigAddrStr(M) + "@" + M.OrigDomain);
  Put("Dest", DestAddrStr(M) + "@" + M.DestDomain);
  Num("HadMsgId", M.HadMsgId);
  Num("HadIntl", M.HadIntl);
  Num("Completed", M.Completed & ~cvDate);
  for (int I = 0; I < AttrFlagCount; ++I) S += M.AttrFlags[I] ? '1' : '0';
  for (int I = 0; I < ExtFlagCount; ++I) S += M.ExtFlags[I] ? '1' : '0';
  S += '\n';
  for (const tShortString& L : M.Kludges) Put("Kludge", L);
  for (const tShortString& L : M.RouteLines) Put("Route", L);
  for (const tShortString& L : M.SeenByLines) Put("SeenBy", L);
  for (const tShortString& L : M.PathLines) Put("Path", L);
  Put("Text", M.Text.View());
  return S;
}

// The fields a listing shows (kelvutil list, ReadListed), one per line.
inline std::string ListedFields(const tMessage& M) {
  return M.From.ToStdString() + "\n" + OrigAddrStr(M).ToStdString() + "\n" + M.To.ToStdString() + "\n" +
         DestAddrStr(M).ToStdString() + "\n" + M.Subject.ToStdString() + "\n" + M.DateStr.ToStdString() + "\n";
}

// A small portable generator (the standard distributions differ between
// libraries, and the Win32 build must see the same messages).
class tRng {
 public:
  explicit tRng(uint64_t Seed) : State_(Seed) {}
  uint32_t Next() {
    State_ += 0x9E3779B97F4A7C15ull;
    uint64_t Z = State_;
    Z = (Z ^ (Z >> 30)) * 0xBF58476D1CE4E5B9ull;
    Z = (Z ^ (Z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((Z ^ (Z >> 31)) >> 16);
  }
  uint32_t Below(uint32_t N) { return Next() % N; }
  bool Chance(uint32_t Percent) { return Below(100) < Percent; }
  template <typename T, size_t K>
  const T& Pick(const T (&Items)[K]) {
    return Items[Below(K)];
  }

 private:
  uint64_t State_;
};

// A word of ASCII letters, digits and CP866 letters.
inline std::string Word(tRng& R, size_t Length) {
  static const char Chars[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,!?-()\x80\x81\x8f\x9f\xa0\xa5\xae\xaf\xe0"
      "\xe2\xef\xf0\xf1";
  std::string W;
  for (size_t I = 0; I < Length; ++I) W += Chars[R.Below(sizeof Chars - 1)];
  return W;
}

inline std::string Words(tRng& R, size_t MaxWords) {
  std::string S;
  size_t N = 1 + R.Below(static_cast<uint32_t>(MaxWords));
  for (size_t I = 0; I < N; ++I) {
    if (I) S += R.Chance(10) ? "\t" : " ";
    S += Word(R, 1 + R.Below(10));
  }
  return S;
}

struct tGenAddr {
  uint32_t Zone, Net, Node, Point;
};

inline std::string AddrText(const tGenAddr& A, bool WithPoint) {
  std::string S = std::to_string(A.Zone) + ":" + std::to_string(A.Net) + "/" + std::to_string(A.Node);
  if (WithPoint && A.Point) {
    S += '.';
    S += std::to_string(A.Point);
  }
  return S;
}

// One stored *.MSG file of the kinds other software writes: netmail and
// echomail, kludges (some in small letters), CP866 text, CR, CR LF or LF
// line ends, long lines, empty fields, names with leftover bytes after
// their NUL, dates in every form and none, NUL endings with and without
// leftovers behind them.
inline std::string GeneratedMessage(tRng& R) {
  bool Echo = R.Chance(50);
  std::string Eol = R.Chance(70) ? "\r" : R.Chance(50) ? "\r\n" : "\n";
  tGenAddr Orig{1 + R.Below(4), 1 + R.Below(30000), R.Below(600), R.Chance(30) ? 1 + R.Below(50) : 0};
  tGenAddr Dest{1 + R.Below(4), 1 + R.Below(30000), R.Below(600), R.Chance(20) ? 1 + R.Below(50) : 0};

  uint8_t H[190] = {};
  auto Field = [&R, &H](uint32_t At, uint32_t Width, const std::string& Text) {
    PutTextField(H + At, Width, Text, Width - 1);
    // Leftover memory after the NUL, as some tossers leave it.
    if (R.Chance(30))
      for (uint32_t I = static_cast<uint32_t>(Text.size()) + 1; I < Width; ++I) H[At + I] = static_cast<uint8_t>(R.Next());
  };
  auto Name = [&R](size_t Max) { return R.Chance(5) ? std::string() : Word(R, 1 + R.Below(static_cast<uint32_t>(Max))); };
  Field(mhFrom, MsgNameWidth, Name(35));
  Field(mhTo, MsgNameWidth, Echo && R.Chance(50) ? "All" : Name(35));
  Field(mhSubject, MsgSubjectWidth, R.Chance(5) ? std::string() : Words(R, 12).substr(0, 71));
  static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char Date[40];
  uint32_t Day = 1 + R.Below(28), Month = R.Below(12), Year = R.Below(100), Hour = R.Below(24), Min = R.Below(60),
           Sec = R.Below(60);
  uint32_t Form = R.Below(100);
  if (Form < 80)
    std::snprintf(Date, sizeof Date, "%02u %s %02u  %02u:%02u:%02u", Day, Months[Month], Year, Hour, Min, Sec);
  else if (Form < 85)
    std::snprintf(Date, sizeof Date, "Mon %2u %s %02u %02u:%02u", Day, Months[Month], Year, Hour, Min);
  else if (Form < 90)
    std::snprintf(Date, sizeof Date, "%02u-%02u-%02u %02u:%02u:%02u", Day, Month + 1, Year, Hour, Min, Sec);
  else if (Form < 95)
    Date[0] = 0;
  else
    std::snprintf(Date, sizeof Date, "%s", R.Chance(50) ? "00  00  00:00:00" : "garbage");
  Field(mhDate, MsgDateWidth, Date);
  PutU16(H + mhTimesRead, static_cast<uint16_t>(R.Below(3)));
  bool ZeroHeader = Echo && R.Chance(60);
  PutU16(H + mhOrigNet, static_cast<uint16_t>(ZeroHeader ? 0 : Orig.Net));
  PutU16(H + mhOrigNode, static_cast<uint16_t>(ZeroHeader ? 0 : Orig.Node));
  PutU16(H + mhDestNet, static_cast<uint16_t>(ZeroHeader ? 0 : Dest.Net));
  PutU16(H + mhDestNode, static_cast<uint16_t>(ZeroHeader ? 0 : Dest.Node));
  PutU16(H + mhAttr, static_cast<uint16_t>(R.Next()));
  PutU16(H + mhNextReply, static_cast<uint16_t>(R.Chance(10) ? R.Below(1000) : 0));
  std::string File(reinterpret_cast<char*>(H), sizeof H);

  auto Kludge = [&](const char* Name, const std::string& Value) {
    std::string N = Name;
    if (R.Chance(10))
      for (char& C : N) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    File += "\1" + N + Value + Eol;
  };
  if (!Echo && R.Chance(80)) Kludge("INTL ", AddrText(Dest, false) + " " + AddrText(Orig, false));
  if (!Echo && Orig.Point && R.Chance(80)) Kludge("FMPT ", std::to_string(Orig.Point));
  if (!Echo && Dest.Point && R.Chance(80)) Kludge("TOPT ", std::to_string(Dest.Point));
  char Serial[9];
  std::snprintf(Serial, sizeof Serial, "%08x", R.Next());
  if (R.Chance(85)) Kludge("MSGID: ", AddrText(Orig, true) + (R.Chance(20) ? "@fidonet " : " ") + Serial);
  if (R.Chance(20)) Kludge("REPLY: ", AddrText(Dest, true) + " " + Serial);
  static const char* const FlagWords[] = {"DIR", "IMM", "PVT", "XPVT", "NPD", "cfm", "K/S", "ZZZ", "hub", "DDIR"};
  if (R.Chance(15)) {
    std::string Flags = R.Pick(FlagWords);
    for (uint32_t I = R.Below(4); I > 0; --I) Flags += std::string(" ") + R.Pick(FlagWords);
    Kludge("FLAGS ", Flags);
  }
  if (R.Chance(40)) Kludge("PID: ", Words(R, 3));
  if (R.Chance(20)) Kludge("TID: ", Words(R, 3));
  if (R.Chance(50)) Kludge("CHRS: ", "CP866 2");
  if (R.Chance(30)) Kludge("TZUTC: ", "0300");
  if (R.Chance(10)) Kludge("X-LONG: ", std::string(300, 'k'));

  // The body: the forward scan ends at its first line and the backward one
  // at its last, so neither may look like a control line.
  uint32_t Lines = R.Below(30);
  for (uint32_t I = 0; I < Lines; ++I) {
    bool Edge = I == 0 || I + 1 == Lines;
    if (!Edge && R.Chance(15)) {
      File += Eol;
    } else if (!Edge && R.Chance(5)) {
      static const char* const Quoted[] = {" * Origin: quoted (1:1/1)", "--- quoted", "SEEN-BY: 1/1", "\1PID: inside"};
      File += std::string(R.Pick(Quoted)) + Eol;
    } else if (R.Chance(5)) {
      File += 'L';
      File.append(256 + R.Below(700), 'l');
      File += Eol;
    } else {
      File += 'B';
      File += Words(R, 12);
      File += Eol;
    }
  }
  if (R.Chance(10)) File += Eol + Eol;

  if (R.Chance(Echo ? 80 : 30)) File += R.Chance(10) ? "---" + Eol : "--- " + Words(R, 3) + Eol;
  if (R.Chance(Echo ? 90 : 10)) {
    std::string Addr = AddrText(Orig, true);
    if (!Orig.Point && R.Chance(30)) Addr += ".0";
    if (R.Chance(10)) Addr += "@fidonet";
    File += " * Origin: " + Words(R, 6) + " (" + Addr + ")" + Eol;
  }
  if (Echo) {
    for (uint32_t I = R.Below(4); I > 0; --I) File += "SEEN-BY: " + std::to_string(Orig.Net) + "/" + Words(R, 8) + Eol;
    for (uint32_t I = 1 + R.Below(2); I > 0; --I) File += "\1PATH: " + std::to_string(Orig.Net) + "/1" + Eol;
  } else {
    for (uint32_t I = R.Below(4); I > 0; --I)
      File += "\1Via " + AddrText(Dest, false) + " @20261207." + Serial + "." + std::to_string(I) + Eol;
  }
  uint32_t End = R.Below(100);
  if (End < 85)
    File += '\0';
  else if (End < 90)
    File += std::string("\0-OLD.AREA\r", 11);
  return File;
}


// A field of the sample bases' read-back dumps (tests/data): \r is a
// CR, \xNN a byte, ^A the SOH of a kludge.
inline std::string UnescapeDump(const std::string& S) {
  std::string Out;
  for (size_t I = 0; I < S.size(); ++I) {
    if (S[I] == '\\' && I + 1 < S.size() && S[I + 1] == 'r') {
      Out += '\r', ++I;
    } else if (S[I] == '\\' && I + 3 < S.size() && S[I + 1] == 'x') {
      Out += static_cast<char>(std::stoi(S.substr(I + 2, 2), nullptr, 16)), I += 3;
    } else if (S[I] == '^' && I + 1 < S.size() && S[I + 1] == 'A') {
      Out += '\x01', ++I;
    } else {
      Out += S[I];
    }
  }
  return Out;
}
}  // namespace kelvane::testing

#endif  // KELVANE_MSGBASE_TEST_MESSAGES_H_
