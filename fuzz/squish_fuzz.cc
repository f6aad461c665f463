// Fuzz target for Squish bases. The input is an index file and a data file:
// its first two bytes give the length of the index (cut to what follows),
// the index comes next and the data file is the rest. Whatever the bytes,
// the base must open or fail cleanly, every message must read or fail
// without reading past the files, and the link operations, a rewrite, a
// delete and an append must end cleanly; a message appended to a base that
// opened must read back with its subject.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "msgbase/message.h"
#include "msgbase/squish.h"
#include "runtime/stream.h"

using namespace kelvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 2) return 0;
  size_t IndexLength = static_cast<size_t>(Data[0] | (Data[1] << 8));
  std::string_view Rest(reinterpret_cast<const char*>(Data) + 2, Size - 2);
  if (IndexLength > Rest.size()) IndexLength = Rest.size();
  auto Index = std::make_unique<tMemoryStream>(), File = std::make_unique<tMemoryStream>();
  Index->WriteStr(Rest.substr(0, IndexLength));
  File->WriteStr(Rest.substr(IndexLength));

  tSquishBase Base;
  if (Base.OpenStreams(std::move(File), std::move(Index))) return 0;
  if (Base.Count < 0 || static_cast<size_t>(Base.Count) * SqIdxSize > IndexLength) std::abort();
  tMessage Msg;
  for (int32_t N = 1; N <= Base.Count; ++N) {
    if (!Base.ReadMessage(N, &Msg) && Msg.State != msRead) std::abort();
    Base.GetReplyTo(N);
    Base.GetReply1st(N);
    Base.GetReplyNext(N);
  }
  if (Base.Count >= 2) {
    Base.LinkReply(1, 2);
    Base.MarkRead(2);
    Base.WriteMessage(1, &Msg);
    Base.DeleteMessage(Base.Count);
  }
  Msg.Clear();
  Msg.Subject = "appended";
  Msg.To = "All";
  Msg.Text.WriteStr("body\r");
  if (!Base.WriteMessage(Base.Count + 1, &Msg)) {
    tMessage Back;
    if (Base.ReadMessage(Base.Count, &Back) || Back.Subject != "appended") std::abort();
  }
  return 0;
}
