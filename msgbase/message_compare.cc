// The comparison of a message with its copy, and what each format has no
// place for (see message_compare.h).
#include "msgbase/message_compare.h"

#include <cstdio>
#include <iterator>
#include <string_view>

#include "msgbase/address.h"
#include "msgbase/control_line.h"
#include "msgbase/fts_writer.h"
#include "msgbase/squish.h"

namespace kelvane {

namespace {

const char* const PartNames[mpPartCount] = {
    "From",    "FromAddr", "To",     "ToAddr",   "Subject", "Written", "Arrived", "Attr",      "Flags", "Area",
    "Kind",    "MsgId",   "ReplyId",  "Intl",   "Pid",      "Tid",     "TimesRead", "Cost",  "ReplyTo",   "Reply", "UtcOfs",
    "TearLine", "Origin",  "Kludge", "Route",    "SeenBy",  "Path",    "Text",
};

std::string Quoted(std::string_view S) {
  std::string Q(1, '"');
  Q += S;
  Q += '"';
  return Q;
}

std::string Number(long long V) { return IntToStr(V).ToStdString(); }

std::string DateText(const tDateTime& T) {
  if (T == tDateTime()) return "none";
  char Buf[48];
  std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(T.Year), static_cast<int>(T.Month),
                static_cast<int>(T.Day), static_cast<int>(T.Hour), static_cast<int>(T.Min), static_cast<int>(T.Sec));
  return Buf;
}

std::string AddressText(const tShortString& Addr, const tShortString& Domain) {
  std::string S = Addr.ToStdString();
  if (!Domain.Empty()) {
    S += '@';
    S += Domain.View();
  }
  return S;
}

std::string ReplyList(const tMessage& M) {
  std::string S;
  for (int I = 1; I <= ReplyCount; ++I)
    if (M.Replies[I] != 0) {
      if (!S.empty()) S += ' ';
      S += Number(M.Replies[I]);
    }
  return S;
}

// The FLAGS of a message wherever it keeps them: its flags fields, then
// the words of any FLAGS line kept whole among its kludges (JAM keeps the
// line so, the other formats take it into the fields). Kludges gets the
// other kludge lines.
std::string AllFlags(const tMessage& M, tStringList& Kludges) {
  std::string Flags = FlagsToWrite(M).ToStdString();
  for (const tShortString& K : M.Kludges) {
    tControlLine C = ClassifyControlLine(K.View());
    if (C.Kind != ckFlags) {
      Kludges.Append(K);
      continue;
    }
    if (!Flags.empty() && !C.Rest.empty()) Flags += ' ';
    Flags += C.Rest;
  }
  return Flags;
}

class tComparer {
 public:
  explicit tComparer(std::vector<tPartChange>& Out) : Out_(Out) {}

  void Add(tMessagePart Part, std::string Detail) { Out_.push_back({Part, std::move(Detail)}); }

  // Text fields: cut, dropped or changed. What Sent did not have is
  // nothing lost, whatever came back in its place.
  void Text(tMessagePart Part, std::string_view Sent, std::string_view Back) {
    if (Sent == Back || Sent.empty()) return;
    if (Back.empty())
      Add(Part, "not kept (" + Quoted(Sent) + ")");
    else if (Sent.substr(0, Back.size()) == Back)
      Add(Part, "cut to " + Number(static_cast<long long>(Back.size())) + " of " +
                    Number(static_cast<long long>(Sent.size())) + " characters");
    else
      Add(Part, Quoted(Sent) + " came back as " + Quoted(Back));
  }

  // Values shown as text: dates, addresses, numbers.
  void Value(tMessagePart Part, const std::string& Sent, const std::string& Back, const std::string& None) {
    if (Sent == Back || Sent == None) return;
    if (Back == None)
      Add(Part, "not kept (" + Sent + ")");
    else
      Add(Part, Sent + " came back as " + Back);
  }

  void Lines(tMessagePart Part, const tStringList& Sent, const tStringList& Back) {
    bool Same = Sent.Count() == Back.Count();
    for (size_t I = 0; Same && I < Sent.Count(); ++I) Same = Sent[I] == Back[I];
    if (Same || Sent.Count() == 0) return;
    std::string Lines = Number(static_cast<long long>(Sent.Count())) + (Sent.Count() == 1 ? " line" : " lines");
    if (Back.Count() == 0)
      Add(Part, Lines + " not kept");
    else if (Back.Count() != Sent.Count())
      Add(Part, Lines + " came back as " + Number(static_cast<long long>(Back.Count())));
    else
      Add(Part, Lines + " came back different");
  }

  void Body(std::string_view Sent, std::string_view Back) {
    if (Sent == Back) return;
    auto Bytes = [](std::string_view S) { return Number(static_cast<long long>(S.size())); };
    if (Back.size() < Sent.size() && Sent.substr(0, Back.size()) == Back)
      Add(mpText, "cut after " + Bytes(Back) + " of " + Bytes(Sent) + " bytes");
    else
      Add(mpText, Bytes(Sent) + " bytes came back as " + Bytes(Back) + " bytes, not the same");
  }

 private:
  std::vector<tPartChange>& Out_;
};

}  // namespace

const char* MessagePartName(tMessagePart Part) { return Part < mpPartCount ? PartNames[Part] : ""; }

void CompareMessages(const tMessage& Sent, const tMessage& Back, std::vector<tPartChange>& Changes) {
  tComparer C(Changes);
  auto Num = [](long long V) { return Number(V); };
  C.Text(mpFrom, Sent.From, Back.From);
  C.Value(mpFromAddr, AddressText(OrigAddrStr(Sent), Sent.OrigDomain), AddressText(OrigAddrStr(Back), Back.OrigDomain),
          "");
  C.Text(mpTo, Sent.To, Back.To);
  C.Value(mpToAddr, AddressText(DestAddrStr(Sent), Sent.DestDomain), AddressText(DestAddrStr(Back), Back.DestDomain),
          "");
  C.Text(mpSubject, Sent.Subject, Back.Subject);
  // A date the read made up (the message had none) is nothing to keep.
  if (!(Sent.Completed & cvDate)) C.Value(mpWritten, DateText(Sent.DateWritten), DateText(Back.DateWritten), "none");
  C.Value(mpArrived, DateText(Sent.DateArrived), DateText(Back.DateArrived), "none");
  if (Sent.Attr != Back.Attr) {
    char Buf[64];
    std::snprintf(Buf, sizeof Buf, "0x%08lx came back as 0x%08lx", static_cast<unsigned long>(Sent.Attr),
                  static_cast<unsigned long>(Back.Attr));
    C.Add(mpAttr, Buf);
  }
  tStringList SentKludges, BackKludges;
  C.Text(mpFlags, AllFlags(Sent, SentKludges), AllFlags(Back, BackKludges));
  C.Text(mpArea, Sent.Area, Back.Area);
  // A base that records no kind gives its messages the kind of what they
  // name: netmail, unless they name an area.
  C.Value(mpKind, KindName(Sent.Kind),
          KindName(Back.Kind == mkUnknown && KindOf(Back) == Sent.Kind ? Sent.Kind : Back.Kind), "");
  // A MSGID or INTL is compared only where Sent carried one; one that Back
  // made up is none.
  auto Carried = [](const tShortString& Value, const tMessage& M, uint8_t Bit) {
    return (M.Completed & Bit) ? std::string_view() : Value.View();
  };
  if (!(Sent.Completed & cvMsgId)) C.Text(mpMsgId, Sent.MsgId, Carried(Back.MsgId, Back, cvMsgId));
  C.Text(mpReplyId, Sent.ReplyId, Back.ReplyId);
  if (!(Sent.Completed & cvIntl)) C.Text(mpIntl, Sent.Intl, Carried(Back.Intl, Back, cvIntl));
  C.Text(mpPid, Sent.Pid, Back.Pid);
  C.Text(mpTid, Sent.Tid, Back.Tid);
  C.Value(mpTimesRead, Num(Sent.TimesRead), Num(Back.TimesRead), "0");
  C.Value(mpCost, Num(Sent.Cost), Num(Back.Cost), "0");
  C.Value(mpReplyTo, Num(Sent.ReplyTo), Num(Back.ReplyTo), "0");
  C.Value(mpReplies, ReplyList(Sent), ReplyList(Back), "");
  C.Value(mpUtcOfs, Num(Sent.UtcOfs), Num(Back.UtcOfs), "0");
  if (Sent.AddTearLine && !Sent.TearLine.Empty())
    C.Text(mpTearLine, Sent.TearLine, Back.AddTearLine ? Back.TearLine : tShortString());
  if (Sent.AddOrigin && (!Sent.Origin.Empty() || !Sent.OriginAddr.Empty())) {
    tShortString Origin = Sent.Origin + Sent.OriginAddr;
    tShortString Came = Back.AddOrigin ? Back.Origin + (Sent.OriginAddr.Empty() ? tShortString() : Back.OriginAddr)
                                       : tShortString();
    C.Text(mpOrigin, Origin, Came);
  }
  C.Lines(mpKludges, SentKludges, BackKludges);
  C.Lines(mpRoute, Sent.RouteLines, Back.RouteLines);
  C.Lines(mpSeenBy, Sent.SeenByLines, Back.SeenByLines);
  C.Lines(mpPath, Sent.PathLines, Back.PathLines);
  C.Body(Sent.Text.View(), Back.Text.View());
}

namespace {

struct tLimit {
  tMessagePart Part;
  const char* Text;
};

// *.MSG: the 190-byte header and the FTS text (doc/formats/msg.md).
const tLimit MsgDirLimits[] = {
    {mpFrom, "keeps 35 characters"},
    {mpTo, "keeps 35 characters"},
    {mpSubject, "keeps 71 characters"},
    {mpFromAddr, "has zones, points and domains only in kludge lines (for echomail: MSGID and origin line)"},
    {mpToAddr, "has zones, points and domains only in kludge lines (for echomail: none)"},
    {mpIntl, "writes no INTL line for echomail"},
    {mpArrived, "has no arrival date"},
    {mpAttr, "keeps the 16 FTS attribute bits"},
    {mpArea, "stores no area tag: the folder is the area"},
    {mpKind, "records no message kind: the folder is the area"},
    {mpCost, "stores no cost"},
    {mpReplyTo, "stores no reply-to link"},
    {mpReplies, "keeps one reply number, below 65536"},
    {mpUtcOfs, "has no UTC offset"},
    {mpText, "ends a text at its first NUL"},
};

// Squish: a fixed header with its own attribute bits, the control
// information and the text (doc/formats/squish.md).
const tLimit SquishLimits[] = {
    {mpFrom, "keeps 35 characters"},
    {mpTo, "keeps 35 characters"},
    {mpSubject, "keeps 71 characters"},
    {mpArea, "stores no area tag: the base is the area"},
    {mpKind, "records no message kind: the base is the area"},
    {mpIntl, "writes no INTL line for echomail"},
    {mpTimesRead, "keeps only whether a message was read"},
    {mpAttr, "marks a message that was read with an attribute bit of its own (0x00080000)"},
    {mpCost, "stores no cost"},
    {mpReplies, "keeps 9 reply links"},
    {mpArrived, "keeps the arrival time in even seconds"},
    {mpText, "ends a text at its first NUL"},
};

// JAM: a header with subfields for names, addresses and kludges, the
// text apart (doc/formats/jam.md).
const tLimit JamLimits[] = {
    {mpArea, "stores no area tag: the base is the area"},
    {mpAttr, "keeps the attribute bits it has a bit of its own for"},
    {mpIntl, "stores no INTL line: a read makes it from the two address subfields"},
    {mpTid, "keeps a TID as one of its other kludge lines"},
    {mpKludges, "holds a TID line among the other kludge lines"},
    {mpReplies, "keeps the first reply link; the others are in the replies themselves"},
    {mpUtcOfs, "has no UTC offset"},
    {mpText, "ends a text at its first NUL"},
};

// Type-2 packets: the packed message header, its strings and the FTS
// text (doc/formats/packet.md). A text with a NUL in it is not written.
const tLimit PacketLimits[] = {
    {mpFrom, "keeps 35 characters"},
    {mpTo, "keeps 35 characters"},
    {mpSubject, "keeps 71 characters"},
    {mpFromAddr, "has zones, points and domains only in kludge lines (for echomail: MSGID and origin line)"},
    {mpToAddr, "has zones, points and domains only in kludge lines (for echomail: none)"},
    {mpArrived, "has no arrival date"},
    {mpAttr, "keeps the 16 FTS attribute bits"},
    {mpIntl, "writes no INTL line for echomail"},
    {mpKind, "carries netmail and echomail, echomail only with its area tag (--area), and no local mail"},
    {mpTimesRead, "has no times-read count"},
    {mpReplyTo, "stores no reply links"},
    {mpReplies, "stores no reply links"},
    {mpUtcOfs, "has no UTC offset"},
};

// One row a format; a format with no row has no entry yet.
struct tFormatLimits {
  tBaseKind Kind;
  const tLimit* Begin;
  const tLimit* End;
};
const tFormatLimits Formats[] = {
    {bkMsgDir, std::begin(MsgDirLimits), std::end(MsgDirLimits)},
    {bkSquish, std::begin(SquishLimits), std::end(SquishLimits)},
    {bkJam, std::begin(JamLimits), std::end(JamLimits)},
    {bkPacket, std::begin(PacketLimits), std::end(PacketLimits)},
};

}  // namespace

const char* FormatLimit(tBaseKind Kind, tMessagePart Part) {
  for (const tFormatLimits& F : Formats) {
    if (F.Kind != Kind) continue;
    for (const tLimit* L = F.Begin; L != F.End; ++L)
      if (L->Part == Part) return L->Text;
    // The lines after the body go with a text cut short before them.
    bool Tail = Part == mpTearLine || Part == mpOrigin || Part == mpSeenBy || Part == mpPath || Part == mpRoute;
    return Tail ? FormatLimit(Kind, mpText) : nullptr;
  }
  return nullptr;
}

int32_t LinkedNumber(tMsgBase& Base, tBaseKind Kind, int32_t Value) {
  if (Kind == bkSquish) return static_cast<tSquishBase&>(Base).NumberOfUid(static_cast<uint32_t>(Value));
  return Kind == bkPacket ? 0 : Value;
}

int32_t LinkValue(tMsgBase& Base, tBaseKind Kind, int32_t N) {
  if (Kind == bkSquish) return static_cast<int32_t>(static_cast<tSquishBase&>(Base).UmsgIdOf(N));
  return Kind == bkPacket ? 0 : N;
}

void MapLinks(tMessage& M, const std::function<int32_t(int32_t)>& F) {
  if (M.ReplyTo != 0) M.ReplyTo = F(M.ReplyTo);
  for (int I = 1; I <= ReplyCount; ++I)
    if (M.Replies[I] != 0) M.Replies[I] = F(M.Replies[I]);
}

}  // namespace kelvane
