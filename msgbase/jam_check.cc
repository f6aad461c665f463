// The check of a JAM base (doc/formats/jam.md): the fixed header (its
// signature, ActiveMsgs against the messages not deleted), every index
// record against the header it points at (a header inside .jhr with its
// signature and revision, the record's UserCRC against the recipient),
// each header's subfields against SubfieldLen and the file, its text
// against .jdt, its MsgIdCRC and ReplyCRC against the MSGID and REPLY
// subfields, and its reply links against the messages the base has.
//
// Other writers' known faults are told as such: wrong CRCs leave every
// message readable, and only a lookup through the CRC (mail for a user,
// the message a REPLY names) misses it; they are told once a field with
// the number of messages that have them, as crashmail's only where the
// base bears crashmail's mark (its JAM code writes such CRCs); and a
// SubfieldLen 8 bytes a subfield too large (jamnntpd's 64-bit build) ends
// at the next header, where every reader stops. The base reads either way;
// the finding says so.
//
// One pass over the index, each header read once; no buffer is sized by a
// length the files give beyond what they hold.
#include <algorithm>
#include <string>
#include <unordered_map>

#include "msgbase/baseid.h"
#include "msgbase/jam.h"
#include "runtime/coding.h"
#include "msgbase/base_check.h"

namespace kelvane {

namespace {

using std::to_string;

constexpr uint32_t DeletedOffset = 0xFFFFFFFF;
// Subfield data longer than this is not read for a CRC: no name or MSGID
// is anywhere near it, and readers skip anything above 255 bytes.
constexpr uint32_t CrcDataMax = 64 * 1024;

const char CrcCost[] = "the base reads as it is, only a lookup through the CRC misses the message";

// Whether the fixed header's PasswordCRC is as crashmail leaves it: it
// writes 0xFFFFFFFF, and its every rewrite of the header takes the upper
// three bytes down together (0xFEFEFEFF, 0xF8F8F8FF); no CRC of a password
// is likely to look so.
bool CrashmailMark(uint32_t PasswordCrc) {
  uint8_t B = static_cast<uint8_t>(PasswordCrc >> 8);
  return (PasswordCrc & 0xFF) == 0xFF && B != 0xFF && PasswordCrc >> 8 == (B * 0x10101u);
}

// The subfields a check looks at, taken up to a NUL as readers take them.
struct tNamedFields {
  std::string To, MsgId, ReplyId;
};

class tJamCheck {
 public:
  tJamCheck(tCheckedFile& Jhr, tCheckedFile& Jdt, tCheckedFile& Jdx, tFindings& Findings)
      : Jhr_(Jhr), Jdt_(Jdt), Jdx_(Jdx), Findings_(Findings) {}

  void Run() {
    uint8_t Fixed[24];
    Jhr_.ReadAt(0, Fixed, sizeof Fixed);
    PasswordCrc_ = GetU32(Fixed + fhPasswordCrc);
    if (std::string_view(reinterpret_cast<const char*>(Fixed), 4) != std::string_view("JAM\0", 4))
      Findings_.Add(Jhr_.Name, fhSignature, "the fixed header's signature is not JAM and a zero byte");
    if (Jdx_.Size % JamIndexRecSize != 0)
      Findings_.Add(Jdx_.Name, Jdx_.Size - Jdx_.Size % JamIndexRecSize,
                    "the index ends in a part record of " + to_string(Jdx_.Size % JamIndexRecSize) + " bytes");
    Count_ = Jdx_.Size / JamIndexRecSize;
    uint32_t Active = 0;
    for (int64_t K = 0; K < Count_; ++K) Active += CheckMessage(K);
    TellWrongCrcs();
    if (GetU32(Fixed + fhActiveMsgs) != Active)
      Findings_.Add(Jhr_.Name, fhActiveMsgs, "ActiveMsgs " + to_string(GetU32(Fixed + fhActiveMsgs)) + ", but " +
                                                 to_string(Active) + " messages are not deleted");
  }

 private:
  // Index record K (message K + 1); 1 when it is a message not deleted.
  int CheckMessage(int64_t K) {
    uint8_t R[JamIndexRecSize];
    Jdx_.ReadAt(K * JamIndexRecSize, R, JamIndexRecSize);
    const uint32_t Offset = GetU32(R + 4);
    if (Offset == DeletedOffset) return 0;
    const std::string Message = "message " + to_string(K + 1);
    if (Offset < JamFixedHeaderSize || int64_t{Offset} + JamHeaderSize > Jhr_.Size) {
      AddIndex(K * JamIndexRecSize + 4, Message + ": header offset " + to_string(Offset) +
                                            (Offset < JamFixedHeaderSize ? " lies inside the fixed header"
                                                                         : " runs past the end of .jhr (" +
                                                                               to_string(Jhr_.Size) + " bytes)"));
      return 0;
    }
    auto [Earlier, Fresh] = Headers_.emplace(Offset, K + 1);
    if (!Fresh) {
      AddIndex(K * JamIndexRecSize + 4, Message + ": the header at " + to_string(Offset) + " is message " +
                                            to_string(Earlier->second) + "'s already");
      return 0;
    }
    uint8_t H[JamHeaderSize];
    Jhr_.ReadAt(Offset, H, JamHeaderSize);
    const bool Signed = std::string_view(reinterpret_cast<const char*>(H), 4) == std::string_view("JAM\0", 4);
    if (!Signed)
      AddHeader(Offset, Message + ": the index points at offset " + to_string(Offset) +
                            ", where no header begins (no JAM signature)");
    if (GetU16(H + jhRevision) != 1) {
      AddHeader(Offset + jhRevision, Message + ": revision " + to_string(GetU16(H + jhRevision)) + ", not 1");
      if (!Signed) return 0;  // no reader takes it for a header
    }
    tNamedFields Named;
    const bool Whole = CheckSubfields(Offset, H, Message, Named);
    const uint32_t TxtOffset = GetU32(H + jhTxtOffset), TxtLen = GetU32(H + jhTxtLen);
    if (int64_t{TxtOffset} + TxtLen > Jdt_.Size)
      AddHeader(Offset + jhTxtOffset, Message + ": the text at " + to_string(TxtOffset) + ", " + to_string(TxtLen) +
                                          " bytes, runs past the end of .jdt (" +
                                          to_string(Jdt_.Size) + " bytes)");
    if (Whole) {  // else the names are not known
      CheckCrc(Crcs_[0], Jdx_, K * JamIndexRecSize, GetU32(R), Named.To, Message + ": UserCRC", "the recipient");
      CheckCrc(Crcs_[1], Jhr_, Offset + jhMsgIdCrc, GetU32(H + jhMsgIdCrc), Named.MsgId, Message + ": MsgIdCRC",
               "the MSGID");
      CheckCrc(Crcs_[2], Jhr_, Offset + jhReplyCrc, GetU32(H + jhReplyCrc), Named.ReplyId, Message + ": ReplyCRC",
               "the REPLY");
    }
    static const struct {
      uint32_t Field;
      const char* Name;
    } Links[] = {{jhReplyTo, "ReplyTo"}, {jhReply1st, "Reply1st"}, {jhReplyNext, "ReplyNext"}};
    for (const auto& L : Links) {
      const uint32_t To = GetU32(H + L.Field);
      if (To > Count_)
        AddHeader(Offset + L.Field, Message + ": " + L.Name + " names message " + to_string(To) + ", the base has " +
                                        to_string(Count_));
    }
    return (GetU32(H + jhAttribute) & jaDeleted) ? 0 : 1;
  }

  // Walks the subfields as far as SubfieldLen and the file hold them;
  // false when a subfield runs past them (what follows is not known).
  bool CheckSubfields(uint32_t Offset, const uint8_t* H, const std::string& Message, tNamedFields& Named) {
    const int64_t Start = int64_t{Offset} + JamHeaderSize, Claimed = GetU32(H + jhSubfieldLen);
    const int64_t End = std::min(Start + Claimed, Jhr_.Size);
    int64_t At = Start;
    uint32_t Subfields = 0;
    std::string Fault;  // empty while the walk goes well
    while (At < End) {
      uint8_t S[JamSubfieldHdrSize];
      if (At + JamSubfieldHdrSize > End) {
        Fault = "a subfield header at " + to_string(At) + " is cut off";
        break;
      }
      Jhr_.ReadAt(At, S, JamSubfieldHdrSize);
      if (std::string_view(reinterpret_cast<const char*>(S), 4) == std::string_view("JAM\0", 4)) break;  // the next header
      const uint32_t Id = GetU32(S), Len = GetU32(S + 4);
      if (Len > End - At - JamSubfieldHdrSize) {
        Fault = "the subfield at " + to_string(At) + " (id " + to_string(Id) + ", DatLen " + to_string(Len) + ") runs past " +
                (Start + Claimed > Jhr_.Size ? "the end of the file" : "SubfieldLen");
        break;
      }
      std::string* Into = Id == sfReceiverName ? &Named.To : Id == sfMsgId ? &Named.MsgId : Id == sfReplyId ? &Named.ReplyId : nullptr;
      if (Into && Len <= CrcDataMax) {
        Into->resize(Len);
        Jhr_.ReadAt(At + JamSubfieldHdrSize, Into->data(), Len);
        Into->resize(std::min(Into->find('\0'), Into->size()));
      }
      ++Subfields;
      At += JamSubfieldHdrSize + Len;
    }
    const int64_t Excess = Start + Claimed - At;
    if (Excess == 0) return true;
    if (Fault.empty() && Excess == int64_t{8} * Subfields)
      AddHeader(Offset + jhSubfieldLen, Message + ": SubfieldLen " + to_string(Claimed) + " is 8 bytes a subfield too large, " +
                                            to_string(Excess) + " bytes past its subfields (jamnntpd's 64-bit build is known "
                                            "to write it so; readers stop at the next header, the base reads as it is)");
    else if (Fault.empty())
      AddHeader(Offset + jhSubfieldLen, Message + ": SubfieldLen " + to_string(Claimed) + " runs " + to_string(Excess) +
                                            " bytes past its subfields" +
                                            (Start + Claimed > Jhr_.Size ? ", past the end of the file" : ""));
    else
      AddHeader(Offset + jhSubfieldLen, Message + ": SubfieldLen " + to_string(Claimed) + ": " + Fault);
    return Fault.empty();
  }

  // The wrong CRCs of one field: the first is told, the others counted
  // with it (a base crashmail wrote has them in every message).
  struct tWrongCrcs {
    int64_t Count = 0;
    tCheckedFile* File = nullptr;
    int64_t At = 0;
    std::string First;
  };

  void CheckCrc(tWrongCrcs& Wrong, tCheckedFile& File, int64_t At, uint32_t Stored, const std::string& Text,
                const std::string& What, const char* Of) {
    const uint32_t Want = JamCrc(Text);
    if (Stored == Want || Wrong.Count++ > 0) return;
    Wrong.File = &File;
    Wrong.At = At;
    Wrong.First = What + " " + Hex32(Stored) + ", but the CRC of " + Of + " \"" + Text + "\" is " + Hex32(Want);
  }

  void TellWrongCrcs() {
    const std::string Why = CrashmailMark(PasswordCrc_) ? " (crashmail's JAM code is known to write wrong CRCs, and the "
                                                          "base bears its mark, the fixed header's PasswordCRC " +
                                                              Hex32(PasswordCrc_) + "; " + CrcCost + ")"
                                                        : std::string(" (") + CrcCost + ")";
    for (const tWrongCrcs& W : Crcs_)
      if (W.Count)
        Findings_.Add(W.File->Name, W.At,
                      W.First + (W.Count == 1   ? std::string()
                                 : W.Count == 2 ? ", and 1 more message has this CRC wrong"
                                                : ", and " + to_string(W.Count - 1) + " more messages have this CRC wrong") +
                          Why);
  }

  void AddHeader(int64_t At, const std::string& What) { Findings_.Add(Jhr_.Name, At, What); }
  void AddIndex(int64_t At, const std::string& What) { Findings_.Add(Jdx_.Name, At, What); }

  tCheckedFile& Jhr_;
  tCheckedFile& Jdt_;
  tCheckedFile& Jdx_;
  tFindings& Findings_;
  int64_t Count_ = 0;
  uint32_t PasswordCrc_ = 0;  // of the fixed header
  tWrongCrcs Crcs_[3];  // UserCRC, MsgIdCRC, ReplyCRC
  std::unordered_map<uint32_t, int64_t> Headers_;  // header offset: the message whose it is
};

}  // namespace

tCheckResult CheckJam(const tShortString& Path, tFindings& Findings, std::string& Why) {
  tShortString Names[3];
  const char* Extensions[3] = {".jhr", ".jdt", ".jdx"};
  for (int I = 0; I < 3; ++I)
    if (!WholeName(Names[I], {Path, Extensions[I]})) {
      Why = "the file names do not fit 255 characters";
      return crUnreadable;
    }
  tCheckedFile Jhr(Names[0]), Jdt(Names[1]), Jdx(Names[2]);
  for (tCheckedFile* F : {&Jhr, &Jdt, &Jdx})
    if (!F->Opened()) {
      Why = F->WhyNotOpened();
      return crUnreadable;
    }
  for (int I = 0; I < 3; ++I) Findings.Looked();
  if (Jhr.Size < JamFixedHeaderSize) {
    Why = Jhr.Name.ToStdString() + " ends inside its 1024-byte fixed header";
    return crUnreadable;
  }
  const long Before = Findings.Count();
  CheckPackMarker(Path, Findings);
  tJamCheck(Jhr, Jdt, Jdx, Findings).Run();
  return Findings.Count() > Before ? crDamaged : crClean;
}

}  // namespace kelvane
