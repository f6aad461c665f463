// kelvutil pack BASEID... and kelvutil repair BASEID...: the packs and
// repairs of msgbase/base_repair.h run base by base; this file only parses
// the arguments and prints what each did.
#include <string>
#include <vector>

#include "msgbase/base_repair.h"
#include "tools/kelvutil.h"

namespace kelvane {

#define KELV_REBUILD_HELP                                                            \
  "Both take the base's lock (the one tossers take) for the whole run, write\n"     \
  "the new files beside the old ones (NAME.$pk), flush them to the disk, and\n"     \
  "only then put them in place, the file that carries the lock last. A crash\n"     \
  "or a full disk leaves the old base or the new one: a pack cut off before\n"     \
  "its new files were whole leaves the old base (its NAME.$pk files are\n"         \
  "removed by the next run); one cut off while they took their names is\n"          \
  "finished by the next pack or repair of the base (the marker BASE.$pk says\n"     \
  "so). A failure is told, with the base as it was.\n"                               \
  "\n"                                                                               \
  "Per base: a line \"note BASEID TEXT\" for each thing the rewrite could not\n"   \
  "keep as it was (a message cut or dropped, a UMSGID given); the findings a\n"   \
  "check still has, as check prints them; then one line\n"                        \
  "\n"

extern const char PackHelp[] =
    "Writes each Squish or JAM base anew without its dead space, keeping\n"
    "every number a reader relies on. Squish: the data file without free\n"
    "frames, every message's UMSGID, reply links, attributes and bytes as they\n"
    "were, the index and the recipient hashes rebuilt; the last-read file\n"
    "(.sql, UMSGIDs) stays right as it is. JAM: .jhr and .jdt without deleted\n"
    "headers and texts no header points at; message numbers stay (a deleted\n"
    "message keeps its number in .jdx), so reply links and .jlr stay right;\n"
    "ActiveMsgs and the CRCs right. Damage a check finds is mended on the way,\n"
    "as repair mends it. *.MSG folders and packets keep no dead space: they\n"
    "are left alone.\n"
    "\n" KELV_REBUILD_HELP
    "  packed BASEID BEFORE -> AFTER bytes N messages kept K findings mended\n"
    "\n"
    "(or \"nothing to pack\", \"failed: WHY\", \"cannot be read: WHY\").\n"
    "\n" KELV_BASEID_HELP
    "\n"
    "Exit code 0 when every base is done, 1 when one failed (it is as it was)\n"
    "or still has findings, 2 when one cannot be read at all.\n";

extern const char RepairHelp[] =
    "Mends what kelvutil check finds in each base, and names what it cannot\n"
    "mend; a base in which check finds nothing is not written. Squish: the\n"
    "index rebuilt from the chain of message frames (where the chain is\n"
    "broken, from the frames found by their identifiers), the counts, the\n"
    "chains and the hashes right, UMSGIDs kept; the base is written anew as\n"
    "pack writes it. JAM: ActiveMsgs, the CRCs (crashmail's wrong ones too),\n"
    "the index records from the headers, SubfieldLen cut to the whole\n"
    "subfields, a text that runs past the end of .jdt cut where readers stop\n"
    "(there, or where the next message's text begins), links to messages the\n"
    "base does not have cleared; written anew as pack writes it. A pack cut\n"
    "off while its new files took their names (check names its marker) is\n"
    "finished. Packets: bytes after the last whole message, and a last\n"
    "message cut short, dropped (and told); other findings are named. *.MSG\n"
    "folders: findings are named, nothing is written.\n"
    "\n" KELV_REBUILD_HELP
    "  repaired BASEID BEFORE -> AFTER bytes N messages kept K findings mended\n"
    "\n"
    "(or \"clean, not written\", \"failed: WHY\", \"cannot be read: WHY\").\n"
    "\n" KELV_BASEID_HELP
    "\n"
    "Exit code 0 when every base checks clean afterwards, 1 when one failed\n"
    "(it is as it was) or still has findings, 2 when one cannot be read.\n";

namespace {

int RunRebuild(const char* Name, const char* Done, bool Repair, int Argc, char** Args) {
  if (Argc < 2) return Fail(Name, std::string("usage: kelvutil ") + Name + " BASEID...");
  int Worst = 0;
  for (int I = 1; I < Argc; ++I) {
    tShortString Id, Path;
    tBaseKind Kind;
    tRebuildReport Report;
    tCheckResult Result = crUnreadable;
    tFindings Left([](std::string_view File, int64_t Offset, std::string_view What) {
      Out().Record({File, IntToStr(Offset), What});
    });
    if (ResolveBaseArgument(Args[I], Id, Kind, Path, Report.Why))
      Result = Repair ? RepairBase(Kind, Path, Report, Left) : PackBase(Kind, Path, Report, Left);
    if (Report.FinishedEarlier)
      Out().Record({"note", Args[I], "the new files of a pack cut off earlier were put in place first"});
    for (const std::string& Note : Report.Notes) Out().Record({"note", Args[I], Note});
    std::vector<std::string> Line{Done, Args[I]};
    if (Result == crUnreadable) {
      Line.push_back("cannot be read: " + Report.Why);
    } else if (!Report.Why.empty()) {
      Line.push_back("failed: " + Report.Why + (Report.Partly ? "" : "; the base is as it was"));
      Result = crDamaged;
    } else if (Report.NothingToPack) {
      Line.push_back(std::string("nothing to pack: ") + (Kind == bkMsgDir ? "a *.MSG folder" : "a packet") +
                     " keeps no dead space");
    } else if (!Report.Written) {
      Line.push_back(Left.Count() ? Counted(Left.Count(), "finding") + " that cannot be mended, not written"
                                  : Report.FinishedEarlier ? "clean" : "clean, not written");
    } else {
      Line.push_back(IntToStr(Report.BytesBefore).ToStdString() + " -> " + IntToStr(Report.BytesAfter).ToStdString() +
                     " bytes");
      Line.push_back(Counted(Report.MessagesKept, "message") + " kept");
      Line.push_back(Counted(Report.FindingsMended, "finding") + " mended");
      if (Left.Count()) Line.push_back(Counted(Left.Count(), "finding") + " left");
    }
    Out().Record(Line);
    if (Result > Worst) Worst = Result;
  }
  return Worst;
}

}  // namespace

int RunPackCommand(int Argc, char** Args) { return RunRebuild("pack", "packed", false, Argc, Args); }
int RunRepairCommand(int Argc, char** Args) { return RunRebuild("repair", "repaired", true, Argc, Args); }

}  // namespace kelvane
