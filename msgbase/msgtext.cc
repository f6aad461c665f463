// tMsgBase::ReadText: takes FidoNet message text apart. Control information
// travels in lines of its own at the two ends of the text: kludge lines
// (SOH, byte 1, then a name) at the head, and the tear line, origin line,
// SEEN-BY, PATH and routing lines at the tail. A forward scan over the head
// and a backward scan over the tail move them into the fields and line
// lists of tMessage and remove them from the body; the body between the two
// scans is never examined, so a long message costs only the copy of its
// body, and a caller that walks the body as it goes not even that (the
// text is reached through one block of memory, text_body.h). Layout and
// examples: doc/formats/message-text.md.
#include <algorithm>
#include <exception>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "msgbase/control_line.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "msgbase/text_body.h"
#include "runtime/collection.h"
#include "runtime/short_string.h"
#include "runtime/stream.h"

namespace kelvane {

namespace {

constexpr uint8_t Cr = 13;
constexpr uint8_t Lf = 10;

// A list takes at most MaxListLines lines from one text (message.h); a
// line that would exceed the cap is not consumed and stays in the body.

// Below this many entries a list is searched directly.
constexpr size_t IndexFrom = 16;

inline bool IsBreak(uint8_t C) { return C == Cr || C == Lf; }
inline uint8_t PartnerOf(uint8_t C) { return C == Cr ? Lf : Cr; }

// A decimal number from the rest of a TOPT or FMPT line, modulo 65536;
// 0 when it is no number. Blanks at both ends are allowed.
uint16_t PointNumber(std::string_view Text) {
  long long Value = 0;
  StrToInt(TrimBlanks(Text), Value);
  return static_cast<uint16_t>(static_cast<unsigned long long>(Value) & 0xFFFF);
}

// Exact, whole-string membership in one of the message's line lists, kept
// linear for short lists and hashed once a list grows, so that a text of
// many control lines is read in linear time. Every addition made while the
// text is read goes through Add; additions at the front (the backward scan
// meets the tail's lines last first) are gathered and put in place by
// Finish in one step.
class tListIndex {
 public:
  explicit tListIndex(tStringList& List) : List_(List) {}

  bool Contains(std::string_view Line) {
    if (!Built_) {
      if (List_.Count() + Front_.size() < IndexFrom) {
        for (const tShortString& Entry : List_)
          if (Entry.View() == Line) return true;
        for (const tShortString& Entry : Front_)
          if (Entry.View() == Line) return true;
        return false;
      }
      for (const tShortString& Entry : List_) Set_.insert(Entry.ToStdString());
      for (const tShortString& Entry : Front_) Set_.insert(Entry.ToStdString());
      Built_ = true;
    }
    return Set_.count(std::string(Line)) != 0;
  }

  bool Full() const { return List_.Count() + Front_.size() >= MaxListLines; }

  void Add(const tShortString& Entry, bool AtFront) {
    if (AtFront)
      Front_.push_back(Entry);
    else
      List_.Append(Entry);
    if (Built_) Set_.insert(Entry.ToStdString());
  }

  // The entries added at the front go before the others, the one added
  // last first.
  void Finish() {
    if (Front_.empty()) return;
    tStringList Joined;
    for (auto It = Front_.rbegin(); It != Front_.rend(); ++It) Joined.Append(*It);
    for (const tShortString& Entry : List_) Joined.Append(Entry);
    List_ = std::move(Joined);
    Front_.clear();
  }

 private:
  tStringList& List_;
  std::vector<tShortString> Front_;
  std::unordered_set<std::string> Set_;
  bool Built_ = false;
};

struct tIndexes {
  explicit tIndexes(tMessage& Msg)
      : Route(Msg.RouteLines), Kludges(Msg.Kludges), Path(Msg.PathLines), SeenBy(Msg.SeenByLines) {}
  void Finish() {
    Route.Finish();
    Kludges.Finish();
    Path.Finish();
    SeenBy.Finish();
  }
  tListIndex Route, Kludges, Path, SeenBy;
};

// Applies the control-line vocabulary to one line, in table order; the
// backward scan applies only the rows that also hold at the tail. Returns
// true when the line was consumed. A row whose prefix matches but whose
// condition fails (a second tear line, a Via line already listed) passes the
// line on, so an SOH line of that kind falls to the last row and is kept in
// Kludges.
bool ApplyRows(tMessage& Msg, std::string_view Line, bool Backward, tIndexes& Ix) {
  tControlLine C = ClassifyControlLine(Line);
  if (Backward && !IsTailKind(C.Kind)) return false;
  switch (C.Kind) {
    case ckIntl: Msg.Intl = C.Rest; return true;
    case ckTopt: Msg.DestPoint = PointNumber(C.Rest); return true;
    case ckFmpt: Msg.OrigPoint = PointNumber(C.Rest); return true;
    case ckMsgId: Msg.MsgId = C.Rest; return true;
    case ckReply: Msg.ReplyId = C.Rest; return true;
    case ckFlags: Msg.Flags = C.Rest; return true;
    case ckPid: Msg.Pid = C.Rest; return true;
    case ckTid: Msg.Tid = C.Rest; return true;
    case ckTearLine:
      if (!Msg.TearLine.Empty()) return false;
      Msg.TearLine = C.Rest.empty() ? std::string_view(" ") : C.Rest;
      Msg.AddTearLine = 1;
      return true;
    case ckOrigin:
      if (!Msg.Origin.Empty()) return false;
      Msg.Origin = C.Rest;
      Msg.AddOrigin = 1;
      return true;
    case ckVia:
    case ckRecd:
    case ckForwarded:
      // Routing lines are kept whole, with their prefix in its usual case.
      if (!Ix.Route.Full() && !Ix.Route.Contains(Line)) {
        Ix.Route.Add(ControlPrefix(C.Kind) + tShortString(C.Rest), Backward);
        return true;
      }
      break;
    case ckPath:
      if (!Ix.Path.Full() && !Ix.Path.Contains(Line)) {
        Ix.Path.Add(tShortString(C.Rest), Backward);
        return true;
      }
      break;
    case ckSeenBy:
      if (!Ix.SeenBy.Full() && !Ix.SeenBy.Contains(Line)) {
        Ix.SeenBy.Add(tShortString(C.Rest), Backward);
        return true;
      }
      return false;
    case ckKludge:
    case ckArea:
    case ckNone:
      break;
  }
  // Any SOH line that no row took: the kludge list, at the head only.
  if (!Backward && !Line.empty() && Line[0] == '\001' && !Ix.Kludges.Full() && !Ix.Kludges.Contains(Line)) {
    Ix.Kludges.Add(tShortString(Line), false);
    return true;
  }
  return false;
}

// Where the line break that holds the break character Bytes[I] begins,
// paired as the forward reading pairs it: in a run of alternating CR and LF
// two at a time from the run's start, so that "CR LF CR" is a CR LF and a
// CR, never a CR and an LF CR. Run caches the run last found (the backward
// scan moves down through it), so each run is measured once.
using tSpan = std::pair<size_t, size_t>;  // [first, second)
size_t BreakStart(tTextWindow& Bytes, size_t I, tSpan& Run) {
  if (I < Run.first || I >= Run.second) {
    size_t Start = I;
    while (Start > 0 && IsBreak(Bytes[Start - 1]) && Bytes[Start - 1] == PartnerOf(Bytes[Start])) --Start;
    Run = {Start, I + 1};
  }
  return Run.first + ((I - Run.first) & ~static_cast<size_t>(1));
}

// The line at Pos (at most 255 characters of it) into Line; returns the
// position after the line and its break, whose partner (LF after CR, CR
// after LF) belongs to the break.
size_t ReadLineForward(tTextWindow& Bytes, size_t Pos, size_t Limit, tShortString& Line) {
  size_t Break = Bytes.FindBreak(Pos, Limit);
  Line.Assign(Bytes.Piece(Pos, std::min(Break - Pos, tShortString::MaxLength)));
  Pos = Break;
  if (Pos < Limit) {
    uint8_t C = Bytes[Pos++];
    if (Pos < Limit && Bytes[Pos] == PartnerOf(C)) ++Pos;
  }
  return Pos;
}

// Lays out the text in Bytes: its control lines at the head and the tail
// go into Msg's fields and lists, and the layout tells what is left of it
// for the body. A forward scan takes the head, up to the first line that
// is neither empty nor a control line (the empty lines it passes stay in
// the body); a backward scan from the end takes the tail, down to that
// first body line at most, never a line the forward scan has taken.
tTextLayout LayOut(tMessage& Msg, tTextWindow& Bytes) {
  tIndexes Ix(Msg);
  tShortString Line;
  tTextLayout L;
  // A stored text ends at its first NUL, as every other reader takes it:
  // what an editor or a fixed-size record left behind it is not text.
  const size_t Limit = L.Limit = Bytes.CutAtNul();

  size_t Pos = 0;
  size_t BodyStart = Limit;  // where the first body line begins
  size_t HeadTaken = 0;      // the end of the last line the head scan took
  while (Pos < Limit) {
    size_t LineStart = Pos;
    Pos = ReadLineForward(Bytes, Pos, Limit, Line);
    bool Consumed = ApplyRows(Msg, Line.View(), false, Ix);
    if (Consumed) HeadTaken = Pos;
    if (!Line.Empty() && !Consumed) {
      BodyStart = LineStart;
      break;
    }
  }
  L.HeadEnd = BodyStart;

  // Each backward read covers a line and the break before it; consumed
  // lines and the empty lines between them form one trailing block. With
  // no body line at all, the scan goes down to the break that ends the
  // forward scan's last line: the empty lines after it are read (and go
  // while no origin or tear line has been seen), that line itself is not.
  size_t Floor = BodyStart;
  if (BodyStart == Limit) Floor = HeadTaken ? HeadTaken - 1 : 0;
  bool AnyTail = false;
  size_t TailStart = 0, TailEnd = 0;
  bool TailAtBreak = false;
  tSpan Run{0, 0};
  Pos = Limit;
  while (Pos > 1 && Pos > Floor) {
    size_t ReadStart = Pos;
    size_t LineBegin = Bytes.LineBegin(Pos);
    bool AtBreak = LineBegin > 0;
    Pos = AtBreak ? BreakStart(Bytes, LineBegin - 1, Run) : 0;
    Line.Assign(Bytes.Piece(LineBegin, std::min(ReadStart - LineBegin, tShortString::MaxLength)));
    bool Consumed = ApplyRows(Msg, Line.View(), true, Ix);
    if (!Consumed && Line.Empty()) Consumed = Msg.Origin.Empty() && Msg.TearLine.Empty();
    if (Consumed) {
      if (!AnyTail) TailEnd = ReadStart;
      AnyTail = true;
      TailStart = Pos;
      TailAtBreak = AtBreak;
    }
    if (!Consumed && !Line.Empty()) break;
  }
  Ix.Finish();
  if (AnyTail) {
    // The first character of the break that ends the last kept line stays
    // (the CR of a CR-ended or CR LF-ended line).
    if (TailAtBreak) ++TailStart;
    if (TailStart < TailEnd) {
      L.CutFrom = TailStart;
      L.CutTo = TailEnd;
    }
  }
  return L;
}

}  // namespace

void tMsgBase::ReadControlInfo(tMessage& Msg, int64_t From, int64_t To) {
  if (!DataStream) return;
  // Read where it lies, a block at a time: its length comes from the file.
  tTextWindow Info(*DataStream, From, To, TextBuffer_);
  const size_t Size = Info.CutAtNul();
  tIndexes Ix(Msg);
  tShortString Line;
  size_t Pos = 0;
  while (Pos < Size) {
    if (Info[Pos] == '\001') ++Pos;
    size_t End = Pos;
    while (End < Size && Info[End] != '\001') ++End;
    if (End > Pos) {
      Line = "\001";
      Line.Append(Info.Piece(Pos, std::min(End - Pos, tShortString::MaxLength)));
      ApplyRows(Msg, Line.View(), false, Ix);
    }
    Pos = End;
  }
  Ix.Finish();
}

bool tMsgBase::ReadText(tMessage* Msg, int64_t From, int64_t To) {
  if (!DataStream || !Msg || From < 0 || From >= To) return true;
  int64_t StreamSize = DataStream->GetSize();
  if (To > StreamSize) return true;
  ClearError();
  tIndexes Ix(*Msg);
  tShortString Line;

  if (HeaderOnly) {
    // Only the leading control lines, up to the first body line or NUL,
    // through the block; the rest of the text is not looked at.
    tTextWindow Bytes(*DataStream, From, To, TextBuffer_);
    const size_t Limit = Bytes.Size();
    size_t Pos = 0;
    while (Pos < Limit) {
      size_t End = Bytes.FindBreak(Pos, Limit);
      bool AtNul = End < Limit && Bytes[End] == 0;
      Pos = ReadLineForward(Bytes, Pos, AtNul ? End : Limit, Line);
      if ((!ApplyRows(*Msg, Line.View(), false, Ix) && !Line.Empty()) || AtNul) break;
    }
    DataStream->Reset();
    Ix.Finish();
    return false;
  }

  // The text is laid out where it lies, through one block of memory;
  // only the body is copied, into Text or, for a caller that walks it as
  // it goes, not at all (Body reads it from the file).
  tTextWindow Bytes(*DataStream, From, To, TextBuffer_);
  tTextLayout Layout = LayOut(*Msg, Bytes);
  if (StreamBody) {
    Body = std::make_unique<tTextBody>(*DataStream, From, Layout);
  } else {
    // The text ends where the copy ended, even when the memory failed part
    // way; nothing of an earlier message shows behind it.
    tMemoryStream& Text = Msg->Text;
    Text.Reset();
    Text.Seek(0);
    tTextBody Copy(Bytes, Layout);
    for (std::string_view Piece = Copy.Next(); !Piece.empty() && Text.Status == stOk; Piece = Copy.Next())
      Text.Write(Piece.data(), static_cast<uint32_t>(Piece.size()));
    int64_t Copied = Text.GetPos();
    Text.Reset();
    Text.Seek(Copied);
    Text.Truncate();
  }
  DataStream->Reset();
  return false;
}

}  // namespace kelvane
