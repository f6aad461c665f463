// Fuzz target for packets. Whatever the bytes, a packet opens (or is
// refused for its type) and every message reads cleanly, whole and header
// only. A message appended to it reads back as it reads from a packet of
// its own, and leaves every message before the closing zeros as it was;
// cutting the first message leaves the others as they were.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/message.h"
#include "msgbase/pkt.h"
#include "msgbase/test_fs.h"
#include "msgbase/test_messages.h"
#include "runtime/stream.h"

using namespace kelvane;

namespace {

// Every message of Base described; with Heads, each also read head only,
// which must find what the whole read finds there.
std::vector<std::string> ReadAll(tPktBase& Base, bool Heads = false) {
  std::vector<std::string> Out;
  static tMessage M, H;  // reused, as a reader of a base reuses one message
  for (int32_t N = 1; N <= Base.Count; ++N) {
    if (Base.ReadMessage(N, &M) || M.State != msRead) std::abort();
    if (Heads && (Base.ReadHeader(N, &H) || Base.HeaderOnly)) std::abort();
    // (A MSGID made up from the addresses may differ: the head has no
    // origin line.)
    if (Heads && ((H.HadMsgId && H.MsgId != M.MsgId) || H.Area != M.Area || H.From != M.From || H.Text.GetSize() != 0))
      std::abort();
    Out.push_back(testing::Describe(M));
  }
  return Out;
}

std::string_view Image(tPktBase& Base) { return static_cast<tMemoryStream&>(*Base.DataStream).View(); }

// Whether a tosser reading P message by message from the header (type
// word 2, 32 fixed bytes, four strings a NUL ends) meets the type word 0
// that ends the packet in its last two bytes.
bool EndsAtItsZeros(std::string_view P) {
  size_t At = 58;
  while (At + 2 <= P.size()) {
    if (P[At] == 0 && P[At + 1] == 0) return At + 2 == P.size();
    if (P[At] != 2 || P[At + 1] != 0) return false;
    At += 34;
    for (int K = 0; K < 4; ++K) {
      size_t Nul = At < P.size() ? P.find('\0', At) : std::string_view::npos;
      if (Nul == std::string_view::npos) return false;
      At = Nul + 1;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  testing::tFixedClock Clock;
  std::string_view Bytes(reinterpret_cast<const char*>(Data), Size);
  tPktBase Base;
  if (Base.OpenImage(Bytes)) {
    if (Base.Closed != cbFailed) std::abort();
    return 0;
  }
  if (Base.Count < 0 || static_cast<size_t>(Base.Count) > Size / 35 + 1) std::abort();
  std::vector<std::string> Before = ReadAll(Base, true);
  // Only a whole type-2 header takes a message. Appending and cutting are
  // checked on packets of a few messages: each message costs the checks
  // below three more reads, and sixteen show all there is to see.
  if (Size < 60 || Base.PktHeader[phPacketType] != 2 || Base.PktHeader[phPacketType + 1] != 0 || Base.Count > 16)
    return 0;

  // Append what message 1 holds (or a message of its own when there is
  // none); it must read back as from a packet that holds only it.
  tMessage M;
  if (Base.Count == 0 || Base.ReadMessage(1, &M)) {
    M.From = "From";
    M.Area = "AREA.TAG";
    M.Text.WriteStr("\nbody");
  }
  tPktBase Alone;
  Alone.OpenImage(std::string(Bytes.substr(0, 58)) + std::string(2, '\0'));
  if (Alone.WriteMessage(0, &M)) std::abort();
  std::vector<std::string> Written = ReadAll(Alone);
  // The message goes to the closing zeros a tosser stops at: what the
  // search found behind them (bytes a writer cut off left) is no part of
  // the packet and goes; a packet that ends with its last message and the
  // closing zeros keeps every message.
  bool Clean = EndsAtItsZeros(Image(Base));
  if (Base.WriteMessage(0, &M)) std::abort();
  tPktBase After;
  if (After.OpenImage(Image(Base))) std::abort();
  std::vector<std::string> Now = ReadAll(After);
  if (Now.empty() || Now.size() > Before.size() + 1 || (Clean && Now.size() != Before.size() + 1) ||
      Now.back() != Written[0])
    std::abort();
  for (size_t K = 0; K + 1 < Now.size(); ++K)
    if (Now[K] != Before[K]) std::abort();

  // Cutting message 1 leaves the rest.
  if (After.DeleteMessage(1) || After.ApplyCuts()) std::abort();
  std::vector<std::string> Cut = ReadAll(After);
  if (Cut.size() + 1 != Now.size()) std::abort();
  for (size_t K = 0; K < Cut.size(); ++K)
    if (Cut[K] != Now[K + 1]) std::abort();
  return 0;
}
