#include "app/control_file.h"

#include "msgbase/address.h"
#include "runtime/case866.h"
#include "text/control_reader.h"

namespace kelvane {

const char* const ControlKeywords[ckCount] = {
    "FastEchoConfig", "FromName", "FromAddr", "ToName",     "ToAddr",
    "Subject",        "MatchStr", "StopScanAfter", "RemoveBase", "IfFEBusy",
};

namespace {

void AddUpperCased(const tControlReader& R, tControlKeyword K, tSortedStrings& Set) {
  for (size_t I = 0; I < R.ValueCount(K); ++I) Set.Insert(UpperCase866(R.Value(K, static_cast<long>(I)).View()));
}

void AddNormalized(const tControlReader& R, tControlKeyword K, tSortedStrings& Set) {
  for (size_t I = 0; I < R.ValueCount(K); ++I) {
    tShortString Address = NormalizeAddress(R.Value(K, static_cast<long>(I)).View());
    if (!Address.Empty()) Set.Insert(Address);
  }
}

}  // namespace

tShortString NormalizeAddress(std::string_view Text) {
  // The point is the fourth word of zone:net/node.point@domain.
  long long Point = 0;
  if (!StrToInt(ExtractWord(4, Text, AddrDelims).View(), Point)) Point = 0;
  size_t Dot = Text.find('.');
  if (Point == 0 && Dot != std::string_view::npos) return tShortString(Text.substr(0, Dot));
  return tShortString(Text);
}

bool LoadControlFile(std::string_view FileName, tControlSettings& Settings, tCollection<long>& WrongLines) {
  tControlReader R;
  for (const char* K : ControlKeywords) R.AddKeyword(K);
  if (R.Read(FileName)) return true;

  Settings.ConfigPath = R.Value(ckFastEchoConfig, 0);
  AddUpperCased(R, ckFromName, Settings.FromNames);
  AddNormalized(R, ckFromAddr, Settings.FromAddrs);
  AddUpperCased(R, ckToName, Settings.ToNames);
  AddNormalized(R, ckToAddr, Settings.ToAddrs);
  AddUpperCased(R, ckSubject, Settings.Subjects);
  AddUpperCased(R, ckStopScanAfter, Settings.StopStrings);

  // "pattern | template": words between runs of "|"; the two lists stay
  // parallel, so an empty pattern or template is kept too.
  for (size_t I = 0; I < R.ValueCount(ckMatchStr); ++I) {
    tShortString Value = R.Value(ckMatchStr, static_cast<long>(I));
    Settings.MatchPatterns.Append(tShortString(TrimValue(ExtractWord(1, Value.View(), "|").View())));
    Settings.MatchTemplates.Append(tShortString(TrimValue(ExtractWord(2, Value.View(), "|").View())));
  }

  tShortString RemoveBase = UpperCase866(R.Value(ckRemoveBase, 0).View());
  Settings.RemoveBase = RemoveBase != "NO";

  tShortString IfFEBusy = UpperCase866(R.Value(ckIfFEBusy, 0).View());
  if (IfFEBusy == "QUIT")
    Settings.IfFEBusy = febQuit;
  else if (IfFEBusy == "POHER")
    Settings.IfFEBusy = febPoher;
  else
    Settings.IfFEBusy = febWait;

  for (size_t I = 0; I < R.WrongLineCount(); ++I) WrongLines.Append(R.WrongLine(static_cast<long>(I)));
  return false;
}

}  // namespace kelvane
