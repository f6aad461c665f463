// FidoNet addresses and dates of a tMessage. A stored message seldom
// carries its two addresses whole in one place: *.MSG headers lack zones
// and points, Squish and JAM keep some of them in their own fields, and the
// rest travels in the INTL, FMPT, TOPT, MSGID and REPLY kludges and in the
// origin line. CompleteHeader gathers them in a fixed order after every
// read, so a caller always sees eight filled address words.
#include "msgbase/address.h"

#include <cstdio>
#include <cstring>

#include "runtime/case866.h"
#include "runtime/clock.h"

namespace kelvane {

namespace {

// The word of S that starts at or after I (split at any of Delims; empty
// when none is left), I moved past it.
std::string_view NextWord(std::string_view S, size_t& I, std::string_view Delims) {
  // The delimiter sets hold a handful of characters: a plain loop beats a
  // library search per character, and a set of one is the common case.
  size_t N = S.size();
  if (Delims.size() == 1) {
    char D = Delims[0];
    while (I < N && S[I] == D) ++I;
    size_t Start = I;
    while (I < N && S[I] != D) ++I;
    return S.substr(Start, I - Start);
  }
  auto IsDelim = [Delims](char C) {
    for (char D : Delims)
      if (C == D) return true;
    return false;
  };
  while (I < N && IsDelim(S[I])) ++I;
  size_t Start = I;
  while (I < N && !IsDelim(S[I])) ++I;
  return S.substr(Start, I - Start);
}

// Word K (from 1) of S split at any of Delims, in place; empty when S has
// fewer words.
std::string_view WordOf(int K, std::string_view S, std::string_view Delims) {
  size_t I = 0;
  for (int Word = 1;; ++Word) {
    std::string_view W = NextWord(S, I, Delims);
    if (W.empty() || Word == K) return W;
  }
}

// The first Count words of S split at any of Delims, into Words (empty
// where S has fewer): what Count calls of WordOf give, in one pass.
void FirstWords(std::string_view S, std::string_view Delims, std::string_view* Words, int Count) {
  size_t I = 0;
  for (int Word = 0; Word < Count; ++Word) Words[Word] = NextWord(S, I, Delims);
}

// A word read as a 16-bit number (0 when it is no number).
uint16_t NumberOf(std::string_view Word) {
  long long Value = 0;
  StrToInt(Word.substr(0, tShortString::MaxLength), Value);
  return static_cast<uint16_t>(static_cast<unsigned long long>(Value) & 0xFFFF);
}

constexpr std::string_view MonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A zone or net is missing when 0 or unset; a node or point only when unset
// (node 0 is a valid address).
inline bool ZoneOrNetMissing(uint16_t W) { return W == 0 || W == UnsetWord; }
inline bool NodeMissing(uint16_t W) { return W == UnsetWord; }

// Decimal text of a number, padded with "0" on the left to two digits,
// appended to S. Cut keeps only the last two characters of a longer text.
void AppendTwoDigits(tShortString& S, int64_t N, bool Cut) {
  if (N >= 0 && N < 100) {
    S += static_cast<char>('0' + N / 10);
    S += static_cast<char>('0' + N % 10);
    return;
  }
  tShortString T = IntToStr(N);
  std::string_view V = T.View();
  if (V.size() < 2) S += '0';
  if (Cut && V.size() > 2) V.remove_prefix(V.size() - 2);
  S += V;
}

tShortString DateText(const tDateTime& T, bool Cut) {
  // The common case, every field in range, straight into its 19 places.
  if (T.Day >= 0 && T.Day < 100 && T.Year >= 0 && T.Month >= 1 && T.Month <= 12 && T.Hour >= 0 &&
      T.Hour < 100 && T.Min >= 0 && T.Min < 100 && T.Sec >= 0 && T.Sec < 100) {
    char B[19] = {'0', '0', ' ', 0, 0, 0, ' ', '0', '0', ' ', ' ', '0', '0', ':', '0', '0', ':', '0', '0'};
    auto Two = [&B](size_t At, int32_t N) {
      B[At] = static_cast<char>('0' + N / 10);
      B[At + 1] = static_cast<char>('0' + N % 10);
    };
    Two(0, T.Day);
    std::memcpy(B + 3, MonthNames[T.Month - 1].data(), 3);
    Two(7, T.Year % 100);
    Two(11, T.Hour);
    Two(14, T.Min);
    Two(17, T.Sec);
    return tShortString(B, sizeof B);
  }
  tShortString S;
  AppendTwoDigits(S, T.Day, Cut);
  S += ' ';
  S += MonthName(T.Month);
  S += ' ';
  AppendTwoDigits(S, T.Year % 100, Cut);
  S += "  ";
  AppendTwoDigits(S, T.Hour, Cut);
  S += ':';
  AppendTwoDigits(S, T.Min, Cut);
  S += ':';
  AppendTwoDigits(S, T.Sec, Cut);
  return S;
}

// A word read as a 32-bit number (0 when it is no number); the date fields.
int32_t WordInt(int K, std::string_view S, std::string_view Delims) {
  long long Value = 0;
  StrToInt(WordOf(K, S, Delims).substr(0, tShortString::MaxLength), Value);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(Value)));
}

// The address part of a kludge value: word 1 over "@" of word Word over
// the space, without blanks and tabs at its ends (a view into Value).
std::string_view KludgeAddress(std::string_view Value, int Word) {
  return TrimBlanks(WordOf(1, WordOf(Word, Value, " "), "@"));
}

// Fills the missing zone, net and node from word Word of a kludge value
// (INTL, MSGID, REPLY) when it looks like an address (holds ":" and "/");
// a message that misses none is not looked at.
void FillFrom(std::string_view Value, int Word, uint16_t& Zone, uint16_t& Net, uint16_t& Node) {
  if (!ZoneOrNetMissing(Zone) && !ZoneOrNetMissing(Net) && !NodeMissing(Node)) return;
  std::string_view A = KludgeAddress(Value, Word);
  if (A.find(':') == std::string_view::npos || A.find('/') == std::string_view::npos) return;
  std::string_view W[3];
  FirstWords(A, AddrDelims, W, 3);
  if (ZoneOrNetMissing(Zone)) Zone = NumberOf(W[0]);
  if (ZoneOrNetMissing(Net)) Net = NumberOf(W[1]);
  if (NodeMissing(Node)) Node = NumberOf(W[2]);
}

// The domain of a kludge value: word 1 over the space of word 2 over "@".
std::string_view KludgeDomain(std::string_view Value) { return TrimBlanks(WordOf(1, WordOf(2, Value, "@"), " ")); }

// Address text zone:net/node.point@domain into four words and a domain.
// The domain is the word that follows the first "@", so zone:net/node@domain
// keeps its domain and reads as point 0.
void SplitAddress(std::string_view Text, uint16_t& Zone, uint16_t& Net, uint16_t& Node, uint16_t& Point,
                  tShortString& Domain) {
  size_t At = Text.find('@');
  std::string_view Address = Text.substr(0, At);
  std::string_view W[4];
  FirstWords(Address, ":/.", W, 4);
  Zone = NumberOf(W[0]);
  Net = NumberOf(W[1]);
  Node = NumberOf(W[2]);
  Point = NumberOf(W[3]);
  Domain = At == std::string_view::npos ? std::string_view() : WordOf(1, Text.substr(At + 1), " \t");
}

// Eight lower-case hexadecimal digits, most significant first.
tShortString HexSerial(uint32_t V) {
  char Buf[8];
  static const char Digits[] = "0123456789abcdef";
  for (int I = 7; I >= 0; --I) {
    Buf[I] = Digits[V & 15];
    V >>= 4;
  }
  return tShortString(Buf, 8);
}

}  // namespace

tShortString ExtractWord(int K, std::string_view S, std::string_view Delims) {
  return tShortString(WordOf(K, S, Delims));
}

uint16_t WordNumber(int K, std::string_view S, std::string_view Delims) { return NumberOf(WordOf(K, S, Delims)); }

tShortString AddrStr(uint16_t Zone, uint16_t Net, uint16_t Node, uint16_t Point) {
  char B[24];  // four words of five digits and three separators at most
  char* P = B;
  auto Put = [&P](uint16_t W) {
    char D[5];
    int N = 0;
    do {
      D[N++] = static_cast<char>('0' + W % 10);
      W = static_cast<uint16_t>(W / 10);
    } while (W);
    while (N) *P++ = D[--N];
  };
  Put(Zone);
  *P++ = ':';
  Put(Net);
  *P++ = '/';
  Put(Node);
  if (Point != 0) {
    *P++ = '.';
    Put(Point);
  }
  return tShortString(B, static_cast<size_t>(P - B));
}

tShortString OrigAddrStr(const tMessage& Msg) { return AddrStr(Msg.OrigZone, Msg.OrigNet, Msg.OrigNode, Msg.OrigPoint); }
tShortString DestAddrStr(const tMessage& Msg) { return AddrStr(Msg.DestZone, Msg.DestNet, Msg.DestNode, Msg.DestPoint); }

void SetOrigAddrStr(tMessage& Msg, std::string_view Text) {
  // No MSGID is made here: a message that brings none gets the completed
  // one of CompleteHeader, which is never written.
  // INTL keeps its recipient part and takes the sender up to its point.
  tShortString Intl(WordOf(1, Msg.Intl, " "));
  Intl += ' ';
  Intl += WordOf(1, Text, ".@");
  Msg.Intl = Intl;
  SplitAddress(Text, Msg.OrigZone, Msg.OrigNet, Msg.OrigNode, Msg.OrigPoint, Msg.OrigDomain);
}

void SetDestAddrStr(tMessage& Msg, std::string_view Text) {
  std::string_view Orig = WordOf(2, Msg.Intl, " ");
  if (Orig.empty()) Orig = WordOf(1, Msg.Intl, " ");
  tShortString Intl(WordOf(1, Text, ".@"));
  Intl += ' ';
  Intl += Orig;
  Msg.Intl = Intl;
  SplitAddress(Text, Msg.DestZone, Msg.DestNet, Msg.DestNode, Msg.DestPoint, Msg.DestDomain);
}

bool AddressTextWhole(std::string_view Text) {
  uint16_t Zone, Net, Node, Point;
  tShortString Domain;
  SplitAddress(Text, Zone, Net, Node, Point, Domain);
  return !ZoneOrNetMissing(Zone) && !ZoneOrNetMissing(Net) && !NodeMissing(Node) && !NodeMissing(Point);
}

namespace {

// Whether an origin line's address part ("(2:5020/1.3)", "(Moscow
// 2:5020/1@fidonet)") names an address, and which zone, net and node: the
// words before its first blank and a domain after "@" are skipped, and it
// must hold ":" and "/". The origin line gives no point.
bool OriginAddrNames(std::string_view Taken, uint16_t& Zone, uint16_t& Net, uint16_t& Node) {
  size_t Space = Taken.find(' ');
  if (Space != std::string_view::npos) Taken.remove_prefix(Space);
  // A domain after the address ("2:5020/1@fidonet") is no part of the node
  // number.
  Taken = Taken.substr(0, Taken.find('@'));
  if (Taken.find(':') == std::string_view::npos || Taken.find('/') == std::string_view::npos) return false;
  std::string_view W[3];
  FirstWords(Taken, OriginDelims, W, 3);
  Zone = NumberOf(W[0]);
  Net = NumberOf(W[1]);
  Node = NumberOf(W[2]);
  return true;
}

}  // namespace

void CompleteHeader(tMessage& Msg) {
  // Net 0 and node 0 together is no node's address: tossers put it in the
  // headers of echomail they store. Such words are unknown, so the
  // kludges and the origin line fill them.
  if (Msg.OrigNet == 0 && Msg.OrigNode == 0) Msg.OrigNet = Msg.OrigNode = UnsetWord;
  if (Msg.DestNet == 0 && Msg.DestNode == 0) Msg.DestNet = Msg.DestNode = UnsetWord;

  // 1. What the message brought itself.
  Msg.HadMsgId = !Msg.MsgId.Empty();
  Msg.HadIntl = !Msg.Intl.Empty();

  // 2. Sender from INTL (its second word).
  FillFrom(Msg.Intl, 2, Msg.OrigZone, Msg.OrigNet, Msg.OrigNode);

  // 3. Sender from MSGID; the point only from a MSGID whose address is
  // plain FidoNet text (digits, ".", "/", ":").
  FillFrom(Msg.MsgId, 1, Msg.OrigZone, Msg.OrigNet, Msg.OrigNode);
  std::string_view A = NodeMissing(Msg.OrigPoint) ? KludgeAddress(Msg.MsgId, 1) : std::string_view();
  if (A.find('.') != std::string_view::npos) {
    std::string_view Id = Msg.MsgId.View();
    Id = Id.substr(0, Id.find_first_of("@ "));
    bool Plain = true;
    for (char C : Id)
      if (!((C >= '0' && C <= '9') || C == '.' || C == '/' || C == ':')) Plain = false;
    if (Plain) {
      Msg.OrigPoint = WordNumber(4, A, AddrDelims);
      Msg.Completed |= cvOrigPoint;
    }
  }

  // 4. Sender domain from MSGID.
  if (Msg.OrigDomain.Empty()) Msg.OrigDomain = KludgeDomain(Msg.MsgId);

  if (ZoneOrNetMissing(Msg.OrigZone) || ZoneOrNetMissing(Msg.OrigNet) || NodeMissing(Msg.OrigNode))
    Msg.Completed |= cvOrigNode;

  // 5. Origin line: the parenthesised address at its end leaves Origin;
  // it never supplies a point. What was taken is kept, so that a write
  // gives the origin line back as it stood.
  size_t Open = Msg.Origin.FindLast('(');
  if (Open != tShortString::npos) {
    Msg.OriginAddr = Msg.Origin.Sub(Open);
    Msg.Origin.Truncate(Open);
    if (Msg.Origin.Empty()) Msg.Origin = " ";
    uint16_t Zone, Net, Node;
    if (OriginAddrNames(Msg.OriginAddr, Zone, Net, Node)) {
      if (ZoneOrNetMissing(Msg.OrigZone)) Msg.OrigZone = Zone;
      if (ZoneOrNetMissing(Msg.OrigNet)) Msg.OrigNet = Net;
      if (NodeMissing(Msg.OrigNode)) Msg.OrigNode = Node;
    }
  } else if (Msg.AddOrigin) {
    Msg.Completed |= cvOriginAddr;
  }

  // 6.
  if (NodeMissing(Msg.OrigPoint)) {
    Msg.OrigPoint = 0;
    Msg.Completed |= cvOrigPoint;
  }

  // 7, 8. Recipient from INTL (its first word), then from REPLY.
  FillFrom(Msg.Intl, 1, Msg.DestZone, Msg.DestNet, Msg.DestNode);
  FillFrom(Msg.ReplyId, 1, Msg.DestZone, Msg.DestNet, Msg.DestNode);

  // 9, 10.
  if (NodeMissing(Msg.DestPoint)) Msg.DestPoint = 0;
  if (Msg.DestDomain.Empty()) Msg.DestDomain = KludgeDomain(Msg.ReplyId);
  if (Msg.DestDomain.Empty()) Msg.DestDomain = Msg.OrigDomain;

  // 11. Each side lends the other what it lacks; zone 2 when neither knows.
  if (ZoneOrNetMissing(Msg.DestZone)) Msg.DestZone = Msg.OrigZone;
  if (ZoneOrNetMissing(Msg.OrigZone)) Msg.OrigZone = Msg.DestZone;
  if (ZoneOrNetMissing(Msg.DestNet)) Msg.DestNet = Msg.OrigNet;
  if (ZoneOrNetMissing(Msg.OrigNet)) Msg.OrigNet = Msg.DestNet;
  if (NodeMissing(Msg.DestNode)) Msg.DestNode = Msg.OrigNode;
  if (NodeMissing(Msg.OrigNode)) Msg.OrigNode = Msg.DestNode;
  if (ZoneOrNetMissing(Msg.DestZone)) Msg.DestZone = 2;
  if (ZoneOrNetMissing(Msg.OrigZone)) Msg.OrigZone = 2;

  // 14. The date: from the date text when the format left DateWritten
  // empty, and the date text always rebuilt in its canonical form; a
  // message with no date at all keeps an empty date text, which no writer
  // keeps.
  if (Msg.DateWritten.Day == 0 && !Msg.DateStr.Empty()) {
    if (!ParseDateStr(Msg.DateStr, Msg.DateWritten)) Msg.Completed |= cvDate;
    Msg.DateStr = DateText(Msg.DateWritten, false);
  } else if (Msg.DateWritten == tDateTime()) {
    Msg.DateStr.Clear();
  } else {
    Msg.DateStr = DateTimeToStr(Msg.DateWritten);
  }
  Msg.DateStr.Truncate(20);

  // 12. A MSGID for a message that has none, for its readers only: it is
  // marked completed and never written. Its serial is a hash of the names
  // and the subject, so that every read of the message, before and after
  // it is written again, gives the same one.
  if (Msg.MsgId.Empty()) {
    tShortString Id = IntToStr(Msg.OrigZone);
    Id += ':';
    Id += IntToStr(Msg.OrigNet);
    Id += '/';
    Id += IntToStr(Msg.OrigNode);
    if (Msg.OrigPoint != 0 && Msg.OrigPoint != UnsetWord) {
      Id += '.';
      Id += IntToStr(Msg.OrigPoint);
    }
    if (!Msg.OrigDomain.Empty()) {
      Id += '@';
      Id += Msg.OrigDomain;
    }
    Id += ' ';
    uint32_t Hash = 2166136261u;  // FNV-1a
    for (const tShortString* Part : {&Msg.From, &Msg.To, &Msg.Subject})
      for (size_t I = 0; I <= Part->Length(); ++I) Hash = (Hash ^ (I < Part->Length() ? Part->Byte(I) : 0)) * 16777619u;
    Id += HexSerial(Hash);
    Msg.MsgId = Id;
    Msg.Completed |= cvMsgId;
  }

  // 13. An INTL line for a message that has none: points are not part of
  // it, and the value ends with a blank. Marked completed too.
  if (Msg.Intl.Empty()) {
    tShortString I = AddrStr(Msg.DestZone, Msg.DestNet, Msg.DestNode, 0);
    I += ' ';
    I += AddrStr(Msg.OrigZone, Msg.OrigNet, Msg.OrigNode, 0);
    I += ' ';
    Msg.Intl = I;
    Msg.Completed |= cvIntl;
  }
}

void DateForWriting(tMessage& Msg) {
  if (!(Msg.DateWritten == tDateTime())) {
    Msg.DateStr = DateTimeToStr(Msg.DateWritten);
  } else if (!Msg.DateStr.Empty() && ParseDateStr(Msg.DateStr, Msg.DateWritten)) {
    // A date text of its own, with no DateWritten: the text is kept as it
    // stands, and DateWritten is what it says.
  } else {
    // No date, or a text with none in it ("00  00  00:00:00", which an
    // empty date once became): dated now.
    Msg.DateWritten = CurrentDateTime();
    Msg.DateStr = DateTimeToStr(Msg.DateWritten);
  }
}

tShortString NewMsgIdSerial() {
  // Two calls within one hundredth of a second may draw the same random
  // number; the previous value is kept so that a serial is never repeated
  // back to back.
  static uint32_t Previous = 0;
  tLocalTime T = GetLocalTime();
  uint32_t V = static_cast<uint32_t>(T.Year) * 31536000u + static_cast<uint32_t>(T.Month) * 2592000u +
               static_cast<uint32_t>(T.Day) * 86400u + static_cast<uint32_t>(T.Hour) * 3600u +
               static_cast<uint32_t>(T.Min) * 60u + static_cast<uint32_t>(T.Sec);
  V = V * 128u + (static_cast<uint32_t>(T.Hundredths) & 127u);
  V += RandomBelow(65535);
  if (V == Previous) ++V;
  Previous = V;
  return HexSerial(V);
}

int32_t DayNumber(int32_t Year, int32_t Month, int32_t Day) {
  // 64-bit arithmetic: dates far outside the calendar give some number,
  // never an overflow.
  int64_t Y = Year, M = Month;
  if (M < 3) {
    Y -= 1;
    M += 12;
  }
  int64_t R = ((M - 3) * 153 + 2) / 5 + Day + 1721119 + ((Y % 100) * 1461) / 4 + ((Y / 100) * 146097) / 4;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(R)));
}

tDateTime DayNumberToDate(int32_t Julian) {
  int64_t Y = 4 * (static_cast<int64_t>(Julian) - 1721119) - 1;
  int64_t Q = Y / 146097;
  int64_t D = (Y % 146097) | 3;
  int64_t Year = 100 * Q + D / 1461;
  int64_t E = 5 * (((D % 1461) + 4) / 4) - 3;
  int64_t Month = E / 153;
  int64_t Day = ((E % 153) + 5) / 5;
  if (Month > 9) {
    Year += 1;
    Month -= 12;
  }
  Month += 3;
  tDateTime T;
  T.Year = static_cast<int32_t>(Year);
  T.Month = static_cast<int32_t>(Month);
  T.Day = static_cast<int32_t>(Day);
  return T;
}

int32_t DateTimeToUnix(const tDateTime& T) {
  int64_t S = (static_cast<int64_t>(DayNumber(T.Year, T.Month, T.Day)) - 2440588) * 86400 +
              static_cast<int64_t>(T.Hour) * 3600 + static_cast<int64_t>(T.Min) * 60 + T.Sec;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(S)));
}

tDateTime UnixToDateTime(int32_t Seconds) {
  tDateTime T = DayNumberToDate(Seconds / 86400 + 2440588);
  T.Hour = (Seconds % 86400) / 3600;
  T.Min = (Seconds % 3600) / 60;
  T.Sec = Seconds % 60;
  return T;
}

std::string_view MonthName(int32_t Month) {
  if (Month < 1 || Month > 12) return std::string_view();
  return MonthNames[Month - 1];
}

tShortString DateTimeToStr(const tDateTime& T) { return DateText(T, true); }

tDateTime CurrentDateTime() {
  tLocalTime L = GetLocalTime();
  tDateTime T;
  T.Year = L.Year;
  T.Month = L.Month;
  T.Day = L.Day;
  T.Hour = L.Hour;
  T.Min = L.Min;
  T.Sec = L.Sec;
  return T;
}

bool ParseDateStr(std::string_view Text, tDateTime& T) {
  T = tDateTime();
  tShortString S(Text);
  // Character N of the text, counted from 1; 0 past its end.
  auto At = [&S](size_t N) { return N <= S.Length() ? S[N - 1] : '\0'; };
  tShortString Month;
  // The form every writer stores, "07 Dec 26  19:05:08", taken in place;
  // what the general reading below would make of it.
  auto Digit = [&Text](size_t I) { return Text[I] >= '0' && Text[I] <= '9'; };
  auto Two = [&Text](size_t I) { return (Text[I] - '0') * 10 + (Text[I + 1] - '0'); };
  if (Text.size() == 19 && Digit(0) && Digit(1) && Text[2] == ' ' && Text[6] == ' ' && Digit(7) && Digit(8) &&
      Text[9] == ' ' && Text[10] == ' ' && Digit(11) && Digit(12) && Text[13] == ':' && Digit(14) && Digit(15) &&
      Text[16] == ':' && Digit(17) && Digit(18) && Text[3] != ' ' && Text[4] != ' ' && Text[5] != ' ') {
    T.Day = Two(0);
    Month = Text.substr(3, 3);
    T.Year = Two(7);
    T.Hour = Two(11);
    T.Min = Two(14);
    T.Sec = Two(17);
  } else if (At(3) == ' ') {
    // "07 Dec 26  19:05:08", or with one blank before the time.
    T.Day = WordInt(1, S, " ");
    Month = ExtractWord(2, S, " ");
    T.Year = WordInt(3, S, " ");
    S.Erase(0, At(11) == ' ' ? 11 : 10);
    T.Hour = WordInt(1, S, ":");
    T.Min = WordInt(2, S, ":");
    T.Sec = WordInt(3, S, ": ");
  } else if (At(4) == ' ') {
    // "Mon  7 Dec 26 19:05": a weekday first, no seconds.
    S.Erase(0, 4);
    T.Day = WordInt(1, S, " ");
    Month = ExtractWord(2, S, " ");
    T.Year = WordInt(3, S, " ");
    S.Erase(0, 10);
    T.Hour = WordInt(1, S, ":");
    T.Min = WordInt(2, S, ":");
  } else if (At(3) == '-') {
    // "07-12-26 19:05:08".
    for (size_t I = 0; I < S.Length(); ++I)
      if (S[I] == '-' || S[I] == ':') S[I] = ' ';
    T.Day = WordInt(1, S, " ");
    Month = MonthName(WordInt(2, S, " "));
    T.Year = WordInt(3, S, " ");
    T.Hour = WordInt(4, S, " ");
    T.Min = WordInt(5, S, " ");
    T.Sec = WordInt(6, S, " ");
  }
  if (T.Year < 80)
    T.Year += 2000;
  else if (T.Year < 1900)
    T.Year += 1900;
  for (int32_t M = 1; M <= 12; ++M)
    if (SameText866(Month, MonthName(M))) {
      T.Month = M;
      break;
    }
  if (T.Year == 2000 && T.Month == 0 && T.Day == 0 && T.Hour == 0 && T.Min == 0 && T.Sec == 0) {
    T = CurrentDateTime();
    return false;
  }
  return true;
}

}  // namespace kelvane
