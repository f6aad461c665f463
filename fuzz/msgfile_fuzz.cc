// Fuzz target for reading a *.MSG file. Whatever the bytes, the read must
// end cleanly with the message filled, and writing what was read must give
// a file that reads back with the same names (cut to their fields).
// Addresses, attributes and the body are not compared: a body may hold
// lines that look like control lines (a quoted origin line, a second FLAGS
// line behind a stray tear line), and which of them count depends on what
// surrounds them, so the written text may legitimately parse differently.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "msgbase/message.h"
#include "msgbase/msgdir.h"
#include "runtime/stream.h"

namespace {

using namespace kelvane;

// The bytes of a *.MSG file holding Msg, as WriteMessage stores them.
std::string Image(tMsgDirBase& Base, tMessage& Msg) {
  Msg.SyncFlags(false);
  Base.ConvertHeader(false, &Msg);
  auto Mem = std::make_unique<tMemoryStream>();
  tMemoryStream* M = Mem.get();
  Base.DataStream = std::move(Mem);
  M->Write(Base.HeaderBuf, MsgHeaderSize);
  Base.WriteFtsText(&Msg, static_cast<int32_t>(M->GetPos()));
  std::string Out(M->View());
  Base.DataStream.reset();
  return Out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  tMsgDirBase Base;
  tMessage First;
  std::string_view Bytes(reinterpret_cast<const char*>(Data), Size);
  if (Base.ReadImage(Bytes, &First) || First.State != msRead) std::abort();

  std::string Written = Image(Base, First);
  tMessage Second;
  Base.ReadImage(Written, &Second);
  if (Second.From != First.From.Sub(0, 35) || Second.To != First.To.Sub(0, 35) ||
      Second.Subject != First.Subject.Sub(0, 71))
    std::abort();

  return 0;
}
