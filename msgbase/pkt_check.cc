// The check of a type-2 packet (doc/formats/packet.md): the header (the
// packet type; a capability word that claims type 2+ against its
// byte-swapped copy), then every packed message in file order (its type
// word, the packed header whole, the date, recipient, sender and subject
// each ended by a NUL within its field, the text ended by a NUL), the two
// closing zero bytes and nothing after them.
//
// The file is read front to back once, through a window of one block.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "msgbase/baseid.h"
#include "msgbase/pkt.h"
#include "runtime/coding.h"
#include "msgbase/base_check.h"
#include "msgbase/base_repair.h"
#include "runtime/replacing_file.h"

namespace kelvane {

namespace {

using std::to_string;

// The bytes of a file through a window that moves forward with the reads.
class tWindow {
 public:
  explicit tWindow(tCheckedFile& File) : File_(File), Block_(64 * 1024) {}

  // The first NUL at or after From; -1 when the file has none (or a read
  // fails before it).
  int64_t FindNul(int64_t From) {
    for (int64_t At = From; At < File_.Size;) {
      if (!Load(At)) return -1;
      const uint8_t* P = Block_.data() + (At - Start_);
      const size_t Left = static_cast<size_t>(Start_ + Length_ - At);
      if (const void* Nul = std::memchr(P, 0, Left)) return At + (static_cast<const uint8_t*>(Nul) - P);
      At += static_cast<int64_t>(Left);
    }
    return -1;
  }
  // Count bytes at At (at most a block), or nullptr when the file ends first.
  const uint8_t* Bytes(int64_t At, uint32_t Count) {
    if (At + Count > File_.Size) return nullptr;
    if (At < Start_ || At + Count > Start_ + Length_) {
      Length_ = 0;
      if (!Load(At)) return nullptr;
    }
    return Block_.data() + (At - Start_);
  }

 private:
  // The window holds At.
  bool Load(int64_t At) {
    if (At >= Start_ && At < Start_ + Length_) return true;
    Start_ = At;
    Length_ = static_cast<uint32_t>(std::min<int64_t>(static_cast<int64_t>(Block_.size()), File_.Size - At));
    if (File_.ReadAt(At, Block_.data(), Length_)) return true;
    Length_ = 0;
    return false;
  }

  tCheckedFile& File_;
  std::vector<uint8_t> Block_;
  int64_t Start_ = 0;
  uint32_t Length_ = 0;
};

class tPacketCheck {
 public:
  tPacketCheck(tCheckedFile& File, tFindings& Findings) : File_(File), Window_(File), Findings_(Findings) {}

  // Where the last whole message ends (where the closing zeros belong);
  // -1 when a message of another type makes it unsure.
  int64_t WholeEnd = PktHeaderSize;

  void Run(const uint8_t* Header) {
    const uint16_t Cap = GetU16(Header + phCapWord), Copy = GetU16(Header + phCapWordCopy);
    const uint16_t Swapped = static_cast<uint16_t>((Cap << 8) | (Cap >> 8));
    // A 2.2 header has its domains where 2+ has the capability words.
    if ((Cap & 1) && Copy != Swapped && !IsType22Header(Header))
      Add(phCapWordCopy, "the capability word " + Hex16(Cap) + " claims type 2+, but its byte-swapped copy is " +
                             Hex16(Copy) + ", not " + Hex16(Swapped));
    int64_t At = PktHeaderSize;
    for (uint32_t K = 1;; ++K) {
      if (WholeEnd >= 0) WholeEnd = At;
      const uint8_t* Type = Window_.Bytes(At, 2);
      if (!Type) {
        Add(At, "the packet ends without its two closing zero bytes");
        return;
      }
      if (GetU16(Type) == 0) {
        if (At + 2 < File_.Size)
          Add(At + 2, to_string(File_.Size - At - 2) + " bytes after the closing zeros");
        return;
      }
      if (GetU16(Type) != 2) {
        Add(At, "message " + to_string(K) + ": message type " + to_string(GetU16(Type)) + ", not 2");
        WholeEnd = -1;
        // Readers take it for the rest of the message before; the next
        // message begins after a text's NUL with its type word.
        At = NextMessage(At);
        if (At < 0) return;
        continue;
      }
      At = CheckMessage(At, K);
      if (At < 0) return;
    }
  }

 private:
  // Message K at At: the offset after its text, or -1 when the file ends
  // inside it.
  int64_t CheckMessage(int64_t At, uint32_t K) {
    const std::string Message = "message " + to_string(K);
    const uint8_t* Packed = Window_.Bytes(At + 2, PackedHeaderSize);
    if (!Packed) {
      Add(At, Message + " is cut short: the file ends inside its packed header");
      return -1;
    }
    if (!std::memchr(Packed + pmDate, 0, PackedDateWidth))
      Add(At + 2 + pmDate, Message + ": the date has no NUL within its 20 bytes");
    static const struct {
      const char* Name;
      uint32_t Max;  // characters, 0: any number
    } Fields[] = {{"recipient", PackedNameMax}, {"sender", PackedNameMax}, {"subject", PackedSubjectMax}, {"text", 0}};
    int64_t Field = At + 2 + PackedHeaderSize;
    for (const auto& F : Fields) {
      const int64_t Nul = Window_.FindNul(Field);
      if (Nul < 0) {
        Add(Field, Message + " is cut short: its " + F.Name + " has no closing NUL before the end of the file");
        return -1;
      }
      if (F.Max && Nul - Field > F.Max)
        Add(Field, Message + ": the " + F.Name + " has " + to_string(Nul - Field) + " characters, more than the " +
                       to_string(F.Max) + " a packet carries");
      Field = Nul + 1;
    }
    return Field;
  }

  // The offset of the type word of the next message after the bad type
  // word at At: after the first "00 02 00" past the place of a packed
  // header, as readers search; -1 when there is none.
  int64_t NextMessage(int64_t At) {
    for (int64_t Nul = Window_.FindNul(At + 2 + PackedHeaderSize); Nul >= 0; Nul = Window_.FindNul(Nul + 1)) {
      const uint8_t* Next = Window_.Bytes(Nul + 1, 2);
      if (!Next) return -1;
      if (GetU16(Next) == 2) return Nul + 1;
    }
    return -1;
  }

  static std::string Hex16(uint16_t V) { return "0x" + Hex32(V).substr(6); }
  void Add(int64_t At, const std::string& What) { Findings_.Add(File_.Name, At, What); }

  tCheckedFile& File_;
  tWindow Window_;
  tFindings& Findings_;
};

}  // namespace

tCheckResult CheckPacket(const tShortString& Path, tFindings& Findings, std::string& Why) {
  int64_t WholeEnd;
  return CheckPacketEnd(Path, Findings, Why, WholeEnd);
}

tCheckResult CheckPacketEnd(const tShortString& Path, tFindings& Findings, std::string& Why, int64_t& WholeEnd) {
  WholeEnd = -1;
  tCheckedFile File(Path);
  if (!File.Opened()) {
    Why = File.WhyNotOpened();
    return crUnreadable;
  }
  Findings.Looked();
  uint8_t Header[PktHeaderSize];
  if (!File.ReadAt(0, Header, PktHeaderSize)) {
    Findings.Add(Path, File.Size, "the file ends inside the 58-byte packet header");
    return crDamaged;
  }
  if (GetU16(Header + phPacketType) != 2) {
    Why = "packet type " + to_string(GetU16(Header + phPacketType)) + " at offset " + to_string(phPacketType) +
          ", not 2: no reader takes it for a type-2 packet";
    return crUnreadable;
  }
  const long Before = Findings.Count();
  tPacketCheck Check(File, Findings);
  Check.Run(Header);
  WholeEnd = Check.WholeEnd;
  return Findings.Count() > Before ? crDamaged : crClean;
}

tCheckResult RepairPacket(const tShortString& Path, int64_t WholeEnd, tRebuildReport& Report) {
  tRebuildLock Lock;
  if (!Lock.Take(Path, Report.Why)) return crDamaged;
  tReplacingFile New(Path);
  int64_t Size = 0;
  {
    tCheckedFile File(Path);
    Size = File.Size;
    uint8_t Zeros[2] = {1, 1};
    // Only what follows the last whole message is mended: bytes after the
    // closing zeros, a message cut short, zeros that are missing.
    if (WholeEnd < 0 || (File.Size == WholeEnd + 2 && File.ReadAt(WholeEnd, Zeros, 2) && GetU16(Zeros) == 0))
      return crClean;
    std::vector<uint8_t> Block(64 * 1024);
    for (int64_t At = 0; At < WholeEnd;) {
      const uint32_t Want = static_cast<uint32_t>(std::min<int64_t>(static_cast<int64_t>(Block.size()), WholeEnd - At));
      if (!File.ReadAt(At, Block.data(), Want)) {
        Report.Why = "reading " + Path.ToStdString() + " failed";
        return crDamaged;
      }
      New.Out().Write(Block.data(), Want);
      At += Want;
    }
  }
  New.Out().Write("\0\0", 2);
  Lock.Closing();
  if (!New.Commit()) {
    Report.Why = "the packet cannot be written anew";
    return crDamaged;
  }
  Report.Notes.push_back(to_string(Size - WholeEnd) + " bytes after the last whole message (at " +
                         to_string(WholeEnd) + ") dropped, the closing zeros put there");
  Report.Written = true;
  Report.BytesAfter = WholeEnd + 2;
  return crClean;
}

}  // namespace kelvane
