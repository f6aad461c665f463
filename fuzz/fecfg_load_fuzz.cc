// Fuzz target for loading FastEcho's configuration. Whatever the bytes,
// loading must end cleanly, and the reason given for a failure must agree
// with the load (and name a region within reach); when they load, writing
// the object back must give
// exactly the bytes that were read, all of them, and finding and removing areas must keep
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
  const bool Failed = Config.LoadFrom(In);
  In.Seek(0);
  const tFELoadReport Why = tFastEchoConfig::WhyLoadFromFails(In);
  if (Failed != (Why.Fault != flLoads)) std::abort();
  if (Why.Fault == flShort && (Why.At > static_cast<int64_t>(Size) || Why.At + Why.Needs <= static_cast<int64_t>(Size)))
    std::abort();
  if (Failed) return 0;

  tMemoryStream Out;
  Config.WriteTo(Out);
  if (Out.Status != stOk || static_cast<size_t>(Out.GetSize()) != Size || (Size && std::memcmp(Out.Bytes(), Data, Size) != 0))
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
