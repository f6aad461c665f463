// kelvutil copy SRC DST [FIRST [LAST]]: messages of one base appended to
// another of any format, through the library's own ReadMessage and
// WriteMessage. Every copy is read back from DST and compared with what
// was written, part by part, so that whatever DST's format has no place
// for (a name longer than it keeps, an arrival date, reply links) is
// reported for that message and counted: a copy never loses data without
// a word. What each format cannot hold, in words, is its row in
// msgbase/message_compare.cc.
#include <algorithm>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/jam.h"
#include "msgbase/message.h"
#include "msgbase/message_compare.h"
#include "msgbase/msgbase.h"
#include "runtime/file_lock.h"
#include "runtime/file_system.h"
#include "tools/kelvutil.h"

namespace kelvane {

extern const char CopyHelp[] =
    "Appends every message of the base SRC, or those numbered FIRST to LAST\n"
    "(LAST: to the end), to the base DST, which is made when it is not there.\n"
    "SRC is only read. Options, anywhere after copy:\n"
    "\n"
    "  --pkt-from ADDR   into a packet: the packet's origin address\n"
    "  --pkt-to ADDR     its destination address (zone:net/node[.point]);\n"
    "                    a new packet needs both\n"
    "  --password PW     its password, at most 8 characters\n"
    "  --area TAG        into a packet or a JAM base: the echo area of the\n"
    "                    messages whose source names none and does not keep\n"
    "                    them as netmail or local (those of a *.MSG folder or\n"
    "                    a Squish base, where the base is the area, and JAM\n"
    "                    echomail); without it they go as they are, those of\n"
    "                    a *.MSG folder or a Squish base as netmail\n"
    "\n"
    "Each message keeps its kind (netmail, echomail, local) where SRC and DST\n"
    "both record it (JAM, packets; a packet takes no local mail). FMPT, TOPT\n"
    "and INTL lines go only into netmail. Each message gives one line: its\n"
    "number in SRC and its number in DST, then, a field each, every part of\n"
    "it that did not come back as it went in when the copy was read back from\n"
    "DST: \"From: cut to 35 of 40 characters\", \"Arrived: not kept (...)\".\n"
    "The part names are those of kelvutil show. A message that cannot be\n"
    "read gives \"N<tab>not read\", one DST does not take \"N<tab>not\n"
    "written\" (a packet takes no text with a NUL in it), one written but not\n"
    "read back says so; the others still go. A JAM message marked deleted in\n"
    "its header gives \"N<tab>deleted, not copied\". Reply links follow the\n"
    "messages to their numbers in DST; a link to a message that is not copied\n"
    "along cannot be kept: \"Links: not kept (to message N, which was not\n"
    "copied)\". What a JAM message holds that no field of a message takes\n"
    "whole is told too: subfields by their ids, \"Subfields: not read\n"
    "(9000)\" (ids no field holds) or \"Subfields: cut to 255 characters\n"
    "(6)\", and a text that runs past the end of .jdt, read up to there or to\n"
    "the next message's text, \"Text: cut in SRC to K of L bytes\". At the\n"
    "end:\n"
    "\n"
    "  copied K of T messages   (T: those in the range but the deleted)\n"
    "  lost PART M WHY          for each part that did not come back, in how\n"
    "                           many messages, and what DST's format has no\n"
    "                           place for\n"
    "\n" KELV_BASEID_HELP
    "\n"
    "Each message goes into DST under the base's lock (as tossers take it);\n"
    "another program that keeps the lock for 5 seconds stops the copy. DST is\n"
    "on the disk before the last line is printed.\n"
    "\n"
    "Exit code 0 when every message was copied, whatever was lost on the way;\n"
    "1 when a message could not be read or written, or nothing could start.\n";

namespace {

struct tCopyArgs {
  std::string Src, Dst;
  long long First = 1, Last = std::numeric_limits<int32_t>::max();
  bool Packet = false;  // an option for a packet destination was given
  tShortString PktFrom, PktTo, Password, Area;
  bool HasFrom = false, HasTo = false, HasPassword = false, HasArea = false;
};

// zone:net/node or zone:net/node.point, each a number below 65536, as
// AddrStr writes it.
bool PacketAddress(std::string_view Text, tShortString& Canonical) {
  uint16_t Words[4] = {};
  int Count = 0;
  size_t Start = 0;
  const char Delims[] = ":/.";
  for (size_t I = 0; I <= Text.size(); ++I) {
    if (I < Text.size() && (Count >= 3 || Text[I] != Delims[Count])) continue;
    long long V = 0;
    if (Count >= 4 || !ParseNumber(Text.substr(Start, I - Start), 0, 65535, V)) return false;
    Words[Count++] = static_cast<uint16_t>(V);
    Start = I + 1;
  }
  if (Count < 3) return false;
  Canonical = AddrStr(Words[0], Words[1], Words[2], Words[3]);
  return true;
}

// Parses the arguments; prints why and returns false when they are wrong.
bool ParseCopyArgs(int Argc, char** Args, tCopyArgs& A) {
  std::vector<std::string> Plain;
  for (int I = 1; I < Argc; ++I) {
    std::string Arg = Args[I];
    bool Option = Arg == "--pkt-from" || Arg == "--pkt-to" || Arg == "--password" || Arg == "--area";
    if (!Option) {
      if (Arg.size() > 2 && Arg.compare(0, 2, "--") == 0) return !Fail("copy", "unknown option " + Arg);
      Plain.push_back(Arg);
      continue;
    }
    if (I + 1 >= Argc) return !Fail("copy", Arg + " expects a value");
    std::string Value = Args[++I];
    A.Packet = A.Packet || Arg != "--area";
    if (Arg == "--password") {
      if (Value.size() > 8) return !Fail("copy", "a packet password has at most 8 characters");
      A.Password = tShortString(Value);
      A.HasPassword = true;
    } else if (Arg == "--area") {
      // One word, as the AREA line and the SEEN-BY of others take it.
      bool Word = !Value.empty() && Value.size() <= tShortString::MaxLength;
      for (char C : Value) Word = Word && static_cast<unsigned char>(C) > ' ';
      if (!Word) return !Fail("copy", "--area expects an area tag: one word, no blanks");
      A.Area = tShortString(Value);
      A.HasArea = true;
    } else if (!PacketAddress(Value, Arg == "--pkt-from" ? A.PktFrom : A.PktTo)) {
      return !Fail("copy", Arg + " expects an address zone:net/node[.point]");
    } else {
      (Arg == "--pkt-from" ? A.HasFrom : A.HasTo) = true;
    }
  }
  if (Plain.size() < 2 || Plain.size() > 4) return !Fail("copy", "usage: kelvutil copy SRC DST [FIRST [LAST]]");
  A.Src = Plain[0];
  A.Dst = Plain[1];
  const long long Top = std::numeric_limits<int32_t>::max();
  if (Plain.size() > 2 && !ParseNumber(Plain[2], 1, Top, A.First)) return !Fail("copy", "FIRST must be a message number");
  if (Plain.size() > 3 && !ParseNumber(Plain[3], 1, Top, A.Last)) return !Fail("copy", "LAST must be a message number");
  if (A.First > A.Last) return !Fail("copy", "FIRST is above LAST");
  return true;
}

}  // namespace

int RunCopyCommand(int Argc, char** Args) {
  tCopyArgs A;
  if (!ParseCopyArgs(Argc, Args, A)) return 1;
  tShortString SrcId, DstId, Path, DstPath;
  tBaseKind SrcKind, DstKind;
  std::string Why;
  if (!ResolveBaseArgument(A.Src, SrcId, SrcKind, Path, Why) || !ResolveBaseArgument(A.Dst, DstId, DstKind, DstPath, Why))
    return Fail("copy", Why);
  if (A.Packet && DstKind != bkPacket) return Fail("copy", "--pkt-from, --pkt-to and --password are for a packet DST");
  if (A.HasArea && DstKind != bkPacket && DstKind != bkJam)
    return Fail("copy", "--area is for a packet or JAM DST: " + BasesOf(DstKind) + " record no area and no message kind");
  if (SameBase(SrcId, DstId)) return Fail("copy", "SRC and DST are the same base");
  // A packet's addresses are the hop it travels, this node to the next,
  // which no message tells (an echomail message names the node that wrote
  // it, a netmail message its last destination): a new packet is not made
  // without them.
  if (DstKind == bkPacket && !FileExists(DstPath) && !(A.HasFrom && A.HasTo))
    return Fail("copy", "a new packet needs its addresses: --pkt-from (this node) and --pkt-to (the node it goes to)");
  auto Src = OpenBaseForReading("copy", A.Src);
  if (!Src) return 1;

  // A packet's addresses and password go into its header when it is made;
  // an existing packet keeps its own, and a copy that asks for others is
  // refused rather than sent with the wrong ones.
  auto Dst = OpenBase(DstId, 0, [&A](tMsgBase& Base) {
    if (A.HasFrom) Base.SetOrigAddr(A.PktFrom);
    if (A.HasTo) Base.SetDestAddr(A.PktTo);
    if (A.HasPassword) Base.SetPassword(A.Password);
  });
  if (!Dst) return Fail("copy", "cannot open or make the base " + DstId.ToStdString());
  if ((A.HasFrom && Dst->GetOrigAddr() != A.PktFrom) || (A.HasTo && Dst->GetDestAddr() != A.PktTo) ||
      (A.HasPassword && Dst->GetPassword() != A.Password))
    return Fail("copy", "the packet " + DstId.ToStdString() + " is there already with other addresses or password");

  std::vector<int32_t> Numbers;
  for (int32_t N : MessageNumbers(*Src))
    if (N >= A.First && N <= A.Last) Numbers.push_back(N);
  // Messages a JAM base marks deleted in their headers are gone; each is
  // told where it stands, and none is copied.
  std::set<int32_t> Deleted;
  if (SrcKind == bkJam)
    for (int64_t N = A.First; N <= std::min<int64_t>(A.Last, Src->Count); ++N)
      if (static_cast<tJamBase&>(*Src).IsMarkedDeleted(static_cast<int32_t>(N))) Deleted.insert(static_cast<int32_t>(N));
  const size_t Total = Numbers.size();
  Numbers.insert(Numbers.end(), Deleted.begin(), Deleted.end());
  std::sort(Numbers.begin(), Numbers.end());

  // Reply links are taken to the numbers the messages get in DST (see
  // LinkedNumber); a link to a message that is not copied with it, or to
  // none, cannot be kept and is reported. A packet keeps no links: its
  // messages go as they are and the comparison reports the links.
  std::map<int32_t, int32_t> Copies;  // SRC number -> DST number
  std::set<int32_t> InRange;
  for (int32_t N : Numbers)
    if (!Deleted.count(N)) InRange.insert(N);
  bool Links = DstKind != bkPacket;
  // Msg's links in DST's terms; false when one of them names a message of
  // the range that is not written yet (its number in DST is to come).
  auto Translate = [&](tMessage& M, std::string& Dropped) {
    bool Complete = true;
    MapLinks(M, [&](int32_t Value) {
      int32_t N = LinkedNumber(*Src, SrcKind, Value);
      auto It = Copies.find(N);
      if (It != Copies.end()) return LinkValue(*Dst, DstKind, It->second);
      if (InRange.count(N)) {
        Complete = false;
      } else {
        if (!Dropped.empty()) Dropped += ' ';
        Dropped += IntToStr(N ? N : Value).View();
      }
      return 0;
    });
    return Complete;
  };

  // The threads as SRC numbers them, child to parent: a message's own
  // ReplyTo first, then the replies its parent names. JAM and Squish link
  // both ways in place (LinkReply), once every message has its number: a
  // link forward, and one the source keeps one way only (*.MSG keeps the
  // reply, not what it answers), needs no second write of the message.
  std::map<int32_t, int32_t> ParentOf;
  bool InPlace = DstKind == bkJam || DstKind == bkSquish;
  auto Threads = [&](const tMessage& M, int32_t N) {
    if (int32_t P = LinkedNumber(*Src, SrcKind, M.ReplyTo); P > 0 && P != N) ParentOf[N] = P;
    for (int I = 1; I <= ReplyCount; ++I)
      if (int32_t C = LinkedNumber(*Src, SrcKind, M.Replies[I]); C > 0 && C != N) ParentOf.emplace(C, N);
  };

  // --area names the area of the messages whose source names none and
  // does not record them as netmail or local (a *.MSG folder or a Squish
  // base is the area; JAM keeps no tag for its echomail). The tag is the
  // sysop's, not the message's: what is compared after the write is the
  // message as it was, of the kind the tag made it.
  auto GiveArea = [&A](tMessage& M) {
    if (!A.HasArea || !M.Area.Empty() || M.Kind == mkNetmail || M.Kind == mkLocal) return false;
    M.Area = A.Area;
    return true;
  };
  auto AsItWas = [](tMessage& M, bool Given) {
    if (!Given) return;
    M.Area.Clear();
    M.Kind = mkEchomail;
  };

  tMessage Msg, Back;
  std::vector<tPartChange> Changes;
  std::map<std::pair<int, bool>, long> Lost;  // by part, and whether a link not copied
  std::vector<std::vector<std::string>> Lines(Numbers.size());
  std::vector<size_t> Pending;  // messages whose links are written after the others
  long Copied = 0, UnreadMessages = 0, CutMessages = 0, CutTexts = 0;
  bool Failed = false;
  size_t Tried = Numbers.size();  // fewer when another program's lock stopped the copy
  // Reads message Target of DST back and compares it with Msg as written:
  // the rest of line I.
  // Which parts: every one, all but the links (they are still to be
  // made), or the links alone (made since the rest was compared).
  enum tParts { cpAll, cpNotLinks, cpLinks };
  auto Check = [&](size_t I, int32_t Target, const std::string& Dropped, tParts Parts) {
    std::vector<std::string>& Line = Lines[I];
    if (Dst->ReadMessage(Target, &Back)) {
      Line.push_back("written, but it cannot be read back");
      Failed = true;
      return;
    }
    Changes.clear();
    CompareMessages(Msg, Back, Changes);
    for (const tPartChange& C : Changes) {
      bool Link = C.Part == mpReplyTo || C.Part == mpReplies;
      if ((Parts == cpNotLinks && Link) || (Parts == cpLinks && !Link)) continue;
      Line.push_back(std::string(MessagePartName(C.Part)) + ": " + C.Detail);
      ++Lost[{C.Part, false}];
    }
    if (!Dropped.empty()) {
      bool One = Dropped.find(' ') == std::string::npos;
      Line.push_back("Links: not kept (to message" + std::string(One ? " " : "s ") + Dropped +
                     (One ? ", which was not copied)" : ", which were not copied)"));
      ++Lost[{mpReplyTo, true}];
    }
    if (Parts != cpLinks) ++Copied;
  };
  // The lines in SRC's order, each as soon as it and those before it are
  // told in full.
  size_t Shown = 0;
  auto Show = [&](size_t UpTo) {
    for (; Shown < UpTo; ++Shown) {
      Out().Record(Lines[Shown]);
      std::vector<std::string>().swap(Lines[Shown]);
    }
  };
  for (size_t I = 0; I < Numbers.size(); ++I) {
    if (Pending.empty()) Show(I);
    int32_t N = Numbers[I];
    Lines[I].push_back(IntToStr(N).ToStdString());
    if (Deleted.count(N)) {
      Lines[I].push_back("deleted, not copied");
      continue;
    }
    if (Src->ReadMessage(N, &Msg)) {
      Lines[I].push_back("not read");
      Failed = true;
      continue;
    }
    // What the read of a JAM message could not take whole cannot go along:
    // subfields no field holds, or longer than it holds, a text that runs
    // past .jdt.
    std::vector<std::string> SrcLosses;
    if (SrcKind == bkJam) {
      const tJamBase::tReadLosses& L = static_cast<tJamBase&>(*Src).Losses();
      auto Ids = [](const std::vector<uint32_t>& V) {
        std::string S;
        for (uint32_t Id : V) {
          if (!S.empty()) S += ' ';
          S += IntToStr(Id).View();
        }
        return S;
      };
      if (!L.Skipped.empty()) SrcLosses.push_back("Subfields: not read (" + Ids(L.Skipped) + ")");
      if (!L.Cut.empty()) SrcLosses.push_back("Subfields: cut to 255 characters (" + Ids(L.Cut) + ")");
      if (L.TextCut)
        SrcLosses.push_back("Text: cut in SRC to " + IntToStr(L.TextKept).ToStdString() + " of " +
                            IntToStr(L.TextLen).ToStdString() + " bytes (it runs past the end of .jdt)");
      UnreadMessages += !L.Skipped.empty();
      CutMessages += !L.Cut.empty();
      CutTexts += L.TextCut;
    }
    bool AreaGiven = GiveArea(Msg);
    if (InPlace) Threads(Msg, N);
    std::string Dropped;
    bool Complete = !Links || Translate(Msg, Dropped);
    // Appended: after the highest number DST holds, never over a message.
    int64_t Target = int64_t{Dst->Count} + 1;
    while (Target <= std::numeric_limits<int32_t>::max() && Dst->Exists(static_cast<int32_t>(Target))) ++Target;
    // A message DST cannot take (a packet takes no text with a NUL in it)
    // is told and passed over; the others still go.
    if (Target > std::numeric_limits<int32_t>::max() || Dst->WriteMessage(static_cast<int32_t>(Target), &Msg)) {
      Lines[I].push_back("not written");
      Failed = true;
      // Another program keeps DST's lock: the messages after this one would
      // each wait as long in vain.
      if (Dst->Busy) {
        Tried = I + 1;
        break;
      }
      continue;
    }
    // Its number: the last of DST, which another writer may have added to
    // since Count was read.
    Target = Dst->Count;
    Copies[N] = static_cast<int32_t>(Target);
    Lines[I].push_back(IntToStr(Target).ToStdString());
    Lines[I].insert(Lines[I].end(), SrcLosses.begin(), SrcLosses.end());
    AsItWas(Msg, AreaGiven);
    // Read back now, all of it unless links are still to come: in JAM
    // and Squish they are made in place below, in *.MSG the message is
    // written again with them.
    if (Complete) {
      Check(I, static_cast<int32_t>(Target), Dropped, cpAll);
      continue;
    }
    Pending.push_back(I);
    if (InPlace) Check(I, static_cast<int32_t>(Target), "", cpNotLinks);
  }
  if (Tried < Numbers.size()) {
    ParentOf.clear();
    for (size_t I : Pending) Lines[I].push_back("written, but its reply links could not be");
    Pending.clear();
  }
  // A child's own link wins over a parent's; ParentOf holds each child once.
  for (const auto& [Child, Parent] : ParentOf)
    if (Copies.count(Child) && Copies.count(Parent)) Dst->LinkReply(Copies[Parent], Copies[Child]);
  // The others, their links complete now.
  InRange.clear();  // every message of the range that was written has its number now
  for (size_t I : Pending) {
    int32_t Target = Copies[Numbers[I]];
    std::string Dropped;
    bool AreaGiven = false;
    if (Src->ReadMessage(Numbers[I], &Msg) ||
        (Translate(Msg, Dropped), AreaGiven = GiveArea(Msg), !InPlace && Dst->WriteMessage(Target, &Msg))) {
      Lines[I].push_back("written, but its reply links could not be");
      Failed = true;
      continue;
    }
    AsItWas(Msg, AreaGiven);
    Check(I, Target, Dropped, InPlace ? cpLinks : cpAll);
  }
  Show(Tried);
  // What was written is on the disk before the copy says it is done.
  Dst.reset();
  bool Unsynced = SyncBase(DstId);

  Out().Record({"copied " + IntToStr(Copied).ToStdString() + " of " + IntToStr(static_cast<long long>(Total)).ToStdString() +
                " messages"});
  for (const auto& [Key, Count] : Lost) {
    auto Part = static_cast<tMessagePart>(Key.first);
    const char* Why = FormatLimit(DstKind, Part);
    std::string Reason = Key.second ? "links to messages that were not copied"
                         : Why      ? std::string(FormatName(DstKind)) + " " + Why
                                    : std::string("not a known limit of ") + FormatName(DstKind);
    Out().Record({"lost", Key.second ? "Links" : MessagePartName(Part), IntToStr(Count), Reason});
  }
  if (UnreadMessages)
    Out().Record({"lost", "Subfields", IntToStr(UnreadMessages),
                  "JAM subfields of SRC that no message field holds (kelvutil show lists them)"});
  if (CutMessages)
    Out().Record({"lost", "Subfields", IntToStr(CutMessages),
                  "JAM subfields of SRC longer than the 255 characters a message field holds"});
  if (CutTexts)
    Out().Record({"lost", "Text", IntToStr(CutTexts), "JAM texts of SRC that run past the end of .jdt"});
  if (Tried < Numbers.size())
    Fail("copy", "another program held the lock of " + DstId.ToStdString() + " for " +
                     IntToStr(LockWaitMs / 1000).ToStdString() + " seconds; the copy stopped at message " +
                     IntToStr(Numbers[Tried - 1]).ToStdString() + " of SRC");
  if (Unsynced) return Fail("copy", "the base " + DstId.ToStdString() + " could not be put on the disk");
  return Failed ? 1 : 0;
}

}  // namespace kelvane
