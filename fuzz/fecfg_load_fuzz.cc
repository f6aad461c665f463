// Fuzz target for loading FastEcho's configuration. Whatever the bytes,
// loading must end cleanly; when they load, writing the object back must give
// exactly the bytes that were read, and finding and removing areas must keep
// the header's area count equal to the areas held.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fecfg/feconfig.h"
#include "runtime/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace kelvane;
  tMemoryStream In;
  In.Write(Data, static_cast<uint32_t>(Size));
  In.Seek(0);
  tFastEchoConfig Config;
  if (Config.LoadFrom(In)) return 0;

  const int64_t Used = In.GetPos();
  tMemoryStream Out;
  Config.WriteTo(Out);
  if (Out.Status != stOk || Out.GetSize() != Used || std::memcmp(Out.Bytes(), Data, static_cast<size_t>(Used)) != 0)
    std::abort();

  if (Config.Areas.Count() > 0) {
    const int32_t Index = Config.FindArea(Config.Areas[0].Tag());
    if (Index != 0) std::abort();
    (void)Config.AreaPath(Index);
    (void)Config.AreaBaseType(Index);
    Config.RemoveArea(Index);
    if (Config.Header.AreaCount() != Config.Areas.Count()) std::abort();
  }
  return 0;
}
