#include "app/control_file.h"

#include <algorithm>
#include <vector>

#include "msgbase/address.h"
#include "runtime/case866.h"
#include "text/control_reader.h"
#include "text/regexp.h"

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

bool LoadControlFile(std::string_view FileName, tControlSettings& Settings, tCollection<tWrongLine>& WrongLines) {
  tControlReader R;
  for (const char* K : ControlKeywords) R.AddKeyword(K);
  if (R.Read(FileName)) return true;

  std::vector<tWrongLine> Wrong;
  for (size_t I = 0; I < R.WrongLineCount(); ++I) Wrong.push_back({R.WrongLine(static_cast<long>(I)), {}});
  auto Report = [&](tControlKeyword K, long Index, std::initializer_list<std::string_view> Parts) {
    tWrongLine W{R.ValueLine(K, Index), {}};
    for (std::string_view P : Parts) W.Reason.Append(P);
    Wrong.push_back(W);
  };

  // A file name ends at its first NUL, as the system will read it: the
  // name that is printed must be the name that is used.
  Settings.ConfigPath = R.Value(ckFastEchoConfig, 0);
  Settings.ConfigPath.Truncate(Settings.ConfigPath.Find('\0'));
  AddUpperCased(R, ckFromName, Settings.FromNames);
  AddNormalized(R, ckFromAddr, Settings.FromAddrs);
  AddUpperCased(R, ckToName, Settings.ToNames);
  AddNormalized(R, ckToAddr, Settings.ToAddrs);
  AddUpperCased(R, ckSubject, Settings.Subjects);
  AddUpperCased(R, ckStopScanAfter, Settings.StopStrings);

  // "pattern | template": words between runs of "|"; the two lists stay
  // parallel, so an empty pattern or template is kept too. A pair that can
  // never name an area is reported once, here, rather than failing quietly
  // on every line of every request.
  for (size_t I = 0; I < R.ValueCount(ckMatchStr); ++I) {
    const long Index = static_cast<long>(I);
    tShortString Value = R.Value(ckMatchStr, Index);
    tShortString Pattern(TrimValue(ExtractWord(1, Value.View(), "|").View()));
    tShortString Template(TrimValue(ExtractWord(2, Value.View(), "|").View()));
    Settings.MatchPatterns.Append(Pattern);
    Settings.MatchTemplates.Append(Template);
    tRegExp Compiled;
    if (Pattern.Empty())
      Report(ckMatchStr, Index, {"MatchStr: no pattern"});
    else if (Compiled.Init(Pattern.CStr()))
      Report(ckMatchStr, Index, {"MatchStr [", Pattern, "]: ", Compiled.ErrorText});
    else if (Template.Empty())
      Report(ckMatchStr, Index, {"MatchStr [", Pattern, "]: no template"});
  }

  tShortString RemoveBase = UpperCase866(R.Value(ckRemoveBase, 0).View());
  Settings.RemoveBase = R.ValueCount(ckRemoveBase) == 0 || RemoveBase == "YES";
  if (R.ValueCount(ckRemoveBase) > 0 && RemoveBase != "YES" && RemoveBase != "NO")
    Report(ckRemoveBase, 0, {"RemoveBase [", R.Value(ckRemoveBase, 0), "]: not yes or no, bases are kept"});

  tShortString IfFEBusy = UpperCase866(R.Value(ckIfFEBusy, 0).View());
  if (IfFEBusy == "QUIT")
    Settings.IfFEBusy = febQuit;
  else if (IfFEBusy == "POHER")
    Settings.IfFEBusy = febPoher;
  else
    Settings.IfFEBusy = febWait;
  if (R.ValueCount(ckIfFEBusy) > 0 && IfFEBusy != "WAIT" && IfFEBusy != "QUIT" && IfFEBusy != "POHER")
    Report(ckIfFEBusy, 0, {"IfFEBusy [", R.Value(ckIfFEBusy, 0), "]: not wait, quit or poher, wait is used"});

  std::stable_sort(Wrong.begin(), Wrong.end(), [](const tWrongLine& A, const tWrongLine& B) { return A.Line < B.Line; });
  for (const tWrongLine& W : Wrong) WrongLines.Append(W);
  return false;
}

}  // namespace kelvane
