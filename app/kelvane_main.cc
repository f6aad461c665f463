// kelvane: removes echo areas from FastEcho's configuration on request.
// It takes no arguments; everything comes from kelv.ctl. Given any, it
// prints its usage and changes nothing: "kelvane /?" must not do the job.
#include "app/application.h"
#include "runtime/console.h"
#include "runtime/heap.h"

namespace {
// The one application object, in static storage.
kelvane::tApplication App;
}  // namespace

int main(int Argc, char**) {
  using namespace kelvane;
  StartMemorySampler();
  SetUpConsole();
  App.Init();
  if (Argc > 1) App.Usage();
  App.Run();
  App.Done();
  return exitNormal;
}
