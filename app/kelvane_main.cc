// kelvane: removes echo areas from FastEcho's configuration on request.
// It takes no arguments; everything comes from kelv.ctl.
#include "app/application.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/heap.h"

namespace {
// The one application object, in static storage.
kelvane::tApplication App;
}  // namespace

int main() {
  using namespace kelvane;
  StartMemorySampler();
  SetUpConsole();
  // Let the sampler take a reading that includes the console's set-up, so
  // the start and end figures are measured the same way.
  RealClock().Sleep(66);
  App.Init();
  App.Run();
  App.Done();
  return exitNormal;
}
