// Test support for the Squish tests: opening a base through the factory,
// numbered messages that differ in every field, the raw fields of the
// files, and a check of a base's files against each other that does not
// go through the library (index against header, frame chain against
// index, free chain).
#ifndef KELVANE_MSGBASE_SQUISH_TEST_UTIL_H_
#define KELVANE_MSGBASE_SQUISH_TEST_UTIL_H_

#include <memory>
#include <set>
#include <string>

#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/squish.h"
#include "msgbase/test_fs.h"
#include "runtime/coding.h"

namespace kelvane::testing {

inline uint32_t U32At(const std::string& Bytes, size_t Offset) {
  if (Offset + 4 > Bytes.size()) return 0xDEADBEEF;
  return GetU32(reinterpret_cast<const uint8_t*>(Bytes.data()) + Offset);
}
inline uint16_t U16At(const std::string& Bytes, size_t Offset) {
  if (Offset + 2 > Bytes.size()) return 0xDEAD;
  return GetU16(reinterpret_cast<const uint8_t*>(Bytes.data()) + Offset);
}

// The Squish base Path opened through OpenBase (created when missing).
inline std::unique_ptr<tSquishBase> OpenSquish(const std::string& Path, int32_t Mode = 0) {
  std::unique_ptr<tMsgBase> Base = OpenBase(Letter('S', Path), Mode);
  if (!dynamic_cast<tSquishBase*>(Base.get())) return nullptr;
  return std::unique_ptr<tSquishBase>(static_cast<tSquishBase*>(Base.release()));
}

// Message I: names, subject, addresses, dates, kludges and a body of about
// BodyBytes bytes (CP866 text among them) that differ from message to
// message.
inline void FillNumbered(tMessage& M, int I, size_t BodyBytes = 200) {
  M.Clear();
  const char* Names[] = {"All", "Sergey Ivanov", "\x88\xa2\xa0\xad \x8f\xa5\xe2\xe0\xae\xa2"};
  M.From = tShortString("Sender " + std::to_string(I));
  M.To = Names[I % 3];
  M.Subject = tShortString("Subject " + std::to_string(I));
  M.DateWritten = tDateTime{2024, 1 + I % 12, 1 + I % 28, I % 24, I % 60, (I * 7) % 60};
  M.DateArrived = tDateTime{2025, 1 + I % 12, 1 + I % 28, I % 24, I % 60, (I * 2) % 60};
  M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = static_cast<uint16_t>(I % 1000), M.OrigPoint = 0;
  M.DestZone = 2, M.DestNet = 5021, M.DestNode = static_cast<uint16_t>(I % 7), M.DestPoint = 0;
  M.MsgId = tShortString("2:5020/" + std::to_string(I % 1000) + " " + std::to_string(10000000 + I));
  M.Pid = "kelvane test";
  M.Kludges.Append("\x01" "CHRS: CP866 2");
  M.UtcOfs = static_cast<int16_t>(I % 5 * 60);
  std::string Line = "Line of message " + std::to_string(I) + ": \xaf\xe0\xa8\xa2\xa5\xe2\r";
  std::string Body;
  while (Body.size() + Line.size() <= BodyBytes || Body.empty()) Body += Line;
  M.Text.WriteStr(Body);
  M.RouteLines.Append("\x01" "Via 2:5020/1 @20240405.134744 test");
  M.AttrFlags[0] = I % 2;  // Pvt
}

// What is wrong with the files of the Squish base Path, read as bytes:
// empty when the header counts what the index holds, every index record
// leads to a message frame with its UMSGID, the frame chain runs through
// the index's frames in index order (previous links agreeing) from the
// first to the last frame, and the free chain holds free frames only, each
// once, from the first to the last free frame.
inline std::string SquishFileProblems(const std::string& Path) {
  std::string D = GetFile(Path + ".sqd"), I = GetFile(Path + ".sqi");
  std::string Problems;
  auto Problem = [&Problems](const std::string& What) { Problems += What + "\n"; };
  if (D.size() < SqBaseSize) return "data file shorter than its header\n";
  uint32_t Num = U32At(D, sbNumMsg);
  if (U16At(D, sbLength) != SqBaseSize || U16At(D, sbFrameSize) != SqFrameSize) Problem("header sizes");
  if (I.size() != Num * static_cast<size_t>(SqIdxSize)) Problem("index holds " + std::to_string(I.size() / 12));
  if (U32At(D, sbHighMsg) != Num) Problem("highest message");
  if (U32At(D, sbEndFrame) != D.size()) Problem("end of file");
  auto IsFrame = [&D](uint32_t At, uint16_t Type) {
    return At >= SqBaseSize && At + SqFrameSize + SqMsgSize <= D.size() && U32At(D, At) == SqFrameId &&
           U16At(D, At + sfType) == Type;
  };
  std::set<uint32_t> Messages;
  uint32_t Frame = U32At(D, sbFirstFrame), Prev = 0;
  for (uint32_t K = 0; K < Num && K * 12 + 12 <= I.size(); ++K) {
    uint32_t At = U32At(I, K * 12);
    Messages.insert(At);
    if (!IsFrame(At, sqMessageFrame)) {
      Problem("record " + std::to_string(K + 1) + " leads to no message frame");
      return Problems;
    }
    if (U32At(D, At + SqFrameSize + sxUmsgId) != U32At(I, K * 12 + 4)) Problem("UMSGID of " + std::to_string(K + 1));
    if (Frame != At) Problem("chain at " + std::to_string(K + 1));
    if (U32At(D, At + sfPrev) != Prev) Problem("previous link of " + std::to_string(K + 1));
    Prev = At;
    Frame = U32At(D, At + sfNext);
  }
  // A created base names 256 as its first frame before it holds one.
  if (Num == 0 && Frame == SqBaseSize && D.size() == SqBaseSize) Frame = 0;
  if (Frame != 0) Problem("chain goes on after the last message");
  if (U32At(D, sbLastFrame) != Prev) Problem("last frame");
  if (Num == 0 && U32At(D, sbFirstFrame) != 0 && U32At(D, sbFirstFrame) != SqBaseSize) Problem("first frame");
  std::set<uint32_t> Free;
  Frame = U32At(D, sbFirstFree), Prev = 0;
  while (Frame != 0) {
    if (!IsFrame(Frame, sqFreeFrame) || Messages.count(Frame) || !Free.insert(Frame).second) {
      Problem("free chain at " + std::to_string(Frame));
      break;
    }
    if (U32At(D, Frame + sfPrev) != Prev) Problem("free chain previous link at " + std::to_string(Frame));
    Prev = Frame;
    Frame = U32At(D, Frame + sfNext);
  }
  if (U32At(D, sbLastFree) != Prev) Problem("last free frame");
  return Problems;
}

}  // namespace kelvane::testing

#endif  // KELVANE_MSGBASE_SQUISH_TEST_UTIL_H_
