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

// Removes every occurrence of Word from S, including occurrences that a
// removal brings together.
void RemoveAll(std::string& S, std::string_view Word) {
  for (size_t At = S.find(Word); At != std::string::npos; At = S.find(Word)) S.erase(At, Word.size());
}

}  // namespace

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
  State = msEmpty;
}

void tMessage::Clear() {
  HadMsgId = 0;
  HadIntl = 0;
  // Keep the text's memory: one message object is reused for every read.
  Text.Reset();
  Text.Seek(0);
  Text.Truncate();
  RouteLines.Clear();
  Kludges.Clear();
  PathLines.Clear();
  SeenByLines.Clear();
  ClearHeader();
}

void tMessage::AddVia(std::string_view ViaText) {
  tShortString Line("\001Via ");
  Line.Append(ViaText);
  RouteLines.Append(Line);
}

void tMessage::SyncFlags(bool AfterRead) {
  if (AfterRead) {
    // Built in a std::string: a FLAGS value of 255 characters plus the
    // closing blank must not lose its last word to the 255-byte cut.
    std::string S(Flags.View());
    S += ' ';
    for (char& C : S) C = UpperCase866(C);
    for (int I = 0; I < NamedAttrCount; ++I)
      if (S.find(UpperAttrNames[I]) != std::string::npos) Attr |= AttrFlagBits[I];
    for (int I = 0; I < ExtFlagCount; ++I) ExtFlags[I] = S.find(UpperExtNames[I]) != std::string::npos;
    // "DUM" is known only in that it leaves FlagsRest.
    for (int I = 0; I < NamedAttrCount; ++I) RemoveAll(S, UpperAttrNames[I]);
    for (int I = 0; I < ExtFlagCount; ++I) RemoveAll(S, UpperExtNames[I]);
    RemoveAll(S, UpperDummyName);
    FlagsRest = TrimBlanks(S);
    for (int I = 0; I < AttrFlagCount; ++I) AttrFlags[I] = (Attr & AttrFlagBits[I]) != 0;
  } else {
    for (int I = 0; I < AttrFlagCount; ++I) SetAttr(AttrFlags[I] != 0, AttrFlagBits[I]);
  }
  // Flags: the set FLAGS-only names, upper case, in table order.
  tShortString NewFlags;
  for (int I = 0; I < ExtFlagCount; ++I) {
    if (ExtFlags[I]) NewFlags.Append(UpperExtNames[I]);
  }
  if (NewFlags.Last() == ' ') NewFlags.Truncate(NewFlags.Length() - 1);
  Flags = NewFlags;
}

}  // namespace kelvane
