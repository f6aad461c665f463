// Runs a fuzz target over every file of a corpus folder (or over the files
// named), so the corpus is checked by an ordinary test with any compiler.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

static int RunFile(const std::filesystem::path& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::vector<char> Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size());
  return 1;
}

int main(int Argc, char** Argv) {
  int Count = 0;
  for (int I = 1; I < Argc; ++I) {
    std::filesystem::path P(Argv[I]);
    if (std::filesystem::is_directory(P)) {
      for (const auto& E : std::filesystem::directory_iterator(P))
        if (E.is_regular_file()) Count += RunFile(E.path());
    } else {
      Count += RunFile(P);
    }
  }
  std::printf("replayed %d input(s)\n", Count);
  return Count > 0 ? 0 : 1;
}
