// Writes the Squish base that tests/squish_reader_test.py decodes with a
// reader of its own: 30 netmail messages made by one recipe (the script
// knows it too), reply links, two deletes and one rewrite. Usage:
// squish_writer BASEPATH (without extension; the base must not exist).
#include <cstdio>
#include <string>

#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"

using namespace kelvane;

namespace {

// Message I of the recipe.
void Recipe(tMessage& M, int I) {
  const char* Names[] = {"All", "Sergey Ivanov", "\x88\xa2\xa0\xad \x8f\xa5\xe2\xe0\xae\xa2"};
  std::string N = std::to_string(I);
  M.Clear();
  M.From = tShortString("Sender " + N);
  M.To = Names[I % 3];
  M.Subject = tShortString("Subject " + N);
  M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = static_cast<uint16_t>(I), M.OrigPoint = static_cast<uint16_t>(I % 3);
  M.DestZone = 1, M.DestNet = static_cast<uint16_t>(100 + I), M.DestNode = static_cast<uint16_t>(I % 5);
  M.DestPoint = static_cast<uint16_t>(I % 2);
  M.DateWritten = tDateTime{2024, I % 12 + 1, I % 28 + 1, I % 24, I % 60, (2 * I) % 60};
  M.DateArrived = tDateTime{2025, I % 12 + 1, I % 28 + 1, I % 24, I % 60, (4 * I) % 60};
  M.UtcOfs = static_cast<int16_t>(I * 10);
  if (I % 2) M.SetAttr(true, maPrivate);
  if (I % 3 == 0) M.SetAttr(true, maLocal);
  M.TimesRead = I % 4 == 0 ? 1 : 0;
  M.Intl = tShortString("1:" + std::to_string(100 + I) + "/" + std::to_string(I % 5) + " 2:5020/" + N);
  M.MsgId = tShortString("2:5020/" + N + " " + std::string(8 - N.size(), '0') + N);
  M.Pid = "writer";
  M.Kludges.Append("\x01" "CHRS: CP866 2");
  M.Text.WriteStr("Line 1 of " + N + "\rLine 2 \xaf\xe0\xa8\r");
  M.RouteLines.Append("\x01" "Via 2:5020/1 @20240405.134744 writer");
}

}  // namespace

int main(int Argc, char** Argv) {
  if (Argc != 2) {
    std::fprintf(stderr, "usage: squish_writer BASEPATH\n");
    return 2;
  }
  std::unique_ptr<tMsgBase> Base = OpenBase(std::string("S") + Argv[1], 0);
  if (!Base) return 1;
  tMessage M;
  bool Failed = false;
  for (int I = 1; I <= 30; ++I) {
    Recipe(M, I);
    Failed |= Base->WriteMessage(I, &M);
  }
  Base->LinkReply(1, 2);
  Base->LinkReply(1, 3);
  Base->LinkReply(2, 4);
  Failed |= Base->DeleteMessage(10);
  Failed |= Base->DeleteMessage(5);
  Recipe(M, 107);
  Failed |= Base->WriteMessage(6, &M);  // message 7 of the recipe, now number 6
  return Failed ? 1 : 0;
}
