// tMessage: clearing, the attribute table with its one-byte mirrors, and
// the FLAGS kludge. FLAGS carries attribute names as words ("PVT K/S DIR
// IMM"); some of them have an Attr bit, others (ExtFlags) live only there.
// SyncFlags is the one place where the three representations meet.
#include "msgbase/message.h"

#include <string>

#include "runtime/case866.h"

namespace kelvane {

const uint32_t AttrFlagBits[AttrFlagCount] = {
    maPrivate, maCrash, maReceived,   maSent,        maFileAttached, maInTransit, maOrphan,   maKillSent, maLocal,
    maHold,    maFileRequest, maReceiptReq, maIsReceipt, maAuditReq, maUpdateReq, maHigh16, maHigh17, maDeleted,
};

const char* const AttrFlagNames[AttrFlagCount] = {
    "Pvt ", "Cra ", "Rcv ", "Snt ", "Att ", "Trs ", "Orp ", "K/s ", "Loc ",
    "Hld ", "FRq ", "RRq ", "RRc ", "ARq ", "URq ", "",     "",     "",
};

const char* const ExtFlagNames[ExtFlagCount] = {
    "A/s ", "Dir ", "Zon ", "Hub ", "Imm ", "Xma ", "Kfs ", "Tfs ", "Lok ", "Cfm ",
};

namespace {

// The names as SyncFlags compares them: upper-cased, with their blank, in
// table order.
constexpr std::string_view UpperAttrNames[NamedAttrCount] = {
    "PVT ", "CRA ", "RCV ", "SNT ", "ATT ", "TRS ", "ORP ", "K/S ", "LOC ", "HLD ", "FRQ ", "RRQ ", "RRC ", "ARQ ", "URQ ",
};
constexpr std::string_view UpperExtNames[ExtFlagCount] = {
    "A/S ", "DIR ", "ZON ", "HUB ", "IMM ", "XMA ", "KFS ", "TFS ", "LOK ", "CFM ",
};
constexpr std::string_view UpperDummyName = "DUM ";

// Every mirrored bit of Attr.
constexpr uint32_t MirroredBits = 0x8003FBFF;

// Whether Word is Name without its trailing blank.
bool IsName(std::string_view Word, std::string_view Name) { return Word == Name.substr(0, Name.size() - 1); }

}  // namespace

tMessageKind KindOf(const tMessage& Msg) {
  if (Msg.Kind != mkUnknown) return static_cast<tMessageKind>(Msg.Kind);
  return Msg.Area.Empty() ? mkNetmail : mkEchomail;
}

const char* KindName(uint8_t Kind) {
  switch (Kind) {
    case mkNetmail: return "netmail";
    case mkEchomail: return "echomail";
    case mkLocal: return "local";
    default: return "";
  }
}

tMessage::tMessage() : Text(tMemoryStream::DefaultBlockSize) { Clear(); }

tMessage::~tMessage() {
  Clear();
  State = msEmpty;
}

void tMessage::ClearHeader() {
  From.Clear();
  To.Clear();
  Subject.Clear();
  DateStr.Clear();
  TimesRead = 0;
  DateWritten = tDateTime();
  DateArrived = tDateTime();
  ReplyTo = 0;
  MsgId.Clear();
  ReplyId.Clear();
  Intl.Clear();
  Pid.Clear();
  Tid.Clear();
  TearLine.Clear();
  AddTearLine = 0;
  Origin.Clear();
  AddOrigin = 0;
  Area.Clear();
  Kind = mkUnknown;
  Flags.Clear();
  FlagsRest.Clear();
  OrigZone = DestZone = OrigNode = DestNode = OrigNet = DestNet = OrigPoint = DestPoint = UnsetWord;
  OrigDomain.Clear();
  DestDomain.Clear();
  Cost = 0;
  Attr = 0;
  MsgNum = 0;
  UtcOfs = 0;
  for (int32_t& R : Replies) R = 0;
  NextUid = 0;
  for (uint8_t& F : AttrFlags) F = 0;
  for (uint8_t& F : ExtFlags) F = 0;
  MirroredAttr_ = 0;
  State = msEmpty;
}

void tMessage::Clear() {
  HadMsgId = 0;
  HadIntl = 0;
  OriginAddr.Clear();
  Completed = 0;
  // Keep the memory of the text and the lists: one message object is
  // reused for every read.
  Text.Reset();
  Text.Seek(0);
  Text.Truncate();
  RouteLines.RemoveAll();
  Kludges.RemoveAll();
  PathLines.RemoveAll();
  SeenByLines.RemoveAll();
  ClearHeader();
}

void tMessage::AddVia(std::string_view ViaText) {
  tShortString Line("\001Via ");
  Line.Append(ViaText);
  RouteLines.Append(Line);
}

void tMessage::SetAttr(bool On, uint32_t Mask) {
  Attr = On ? (Attr | Mask) : (Attr & ~Mask);
  for (int I = 0; I < AttrFlagCount; ++I)
    if (Mask & AttrFlagBits[I]) AttrFlags[I] = On;
}

void tMessage::SyncFlags(bool AfterRead) {
  if (AfterRead) {
    // Word by word: a name is a flag only as a whole word, so "XPVT" is
    // an unknown word and no private flag.
    std::string_view S = Flags.View();
    tShortString Rest;
    for (uint8_t& F : ExtFlags) F = 0;
    size_t I = 0;
    while (I < S.size()) {
      while (I < S.size() && (S[I] == ' ' || S[I] == '\t')) ++I;
      size_t Start = I;
      while (I < S.size() && S[I] != ' ' && S[I] != '\t') ++I;
      if (I == Start) break;
      tShortString Word = UpperCase866(S.substr(Start, I - Start));
      bool Known = IsName(Word, UpperDummyName);
      for (int N = 0; N < NamedAttrCount && !Known; ++N)
        if (IsName(Word, UpperAttrNames[N])) {
          Attr |= AttrFlagBits[N];
          Known = true;
        }
      for (int N = 0; N < ExtFlagCount && !Known; ++N)
        if (IsName(Word, UpperExtNames[N])) {
          ExtFlags[N] = 1;
          Known = true;
        }
      if (Known) continue;
      if (!Rest.Empty()) Rest += ' ';
      Rest += Word;
    }
    FlagsRest = Rest;
    for (int N = 0; N < AttrFlagCount; ++N) AttrFlags[N] = (Attr & AttrFlagBits[N]) != 0;
  } else {
    // Whichever side the caller changed since the two last agreed wins:
    // a bit set with SetAttr or straight in Attr stays, and so does a
    // mirror set or cleared by hand.
    for (int N = 0; N < AttrFlagCount; ++N) {
      uint32_t Bit = AttrFlagBits[N];
      bool Mirror = AttrFlags[N] != 0;
      if (Mirror != ((MirroredAttr_ & Bit) != 0))
        Attr = Mirror ? (Attr | Bit) : (Attr & ~Bit);
      else
        AttrFlags[N] = (Attr & Bit) != 0;
    }
  }
  MirroredAttr_ = Attr & MirroredBits;
  // Flags: the set FLAGS-only names, upper case, in table order.
  tShortString NewFlags;
  for (int N = 0; N < ExtFlagCount; ++N) {
    if (ExtFlags[N]) NewFlags.Append(UpperExtNames[N]);
  }
  if (NewFlags.Last() == ' ') NewFlags.Truncate(NewFlags.Length() - 1);
  Flags = NewFlags;
}

}  // namespace kelvane
