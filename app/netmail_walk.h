// The walk of a run over FastEcho's netmail: every message from number 0
// to Count, whether it is a request, the lines of each request with the
// areas they name, and each named area removed from the configuration in
// memory with the fate of its base noted. The decisions are
// tRemovalRules'; the walk is one piece of code for kelvane, which prints
// its lines and later stores and deletes, and for kelvutil plan, which
// prints what kelvane would do and changes nothing. What either shows is
// told to a tScanListener as the walk goes.
//
// The walk only reads the netmail, and changes no file.
#ifndef KELVANE_APP_NETMAIL_WALK_H_
#define KELVANE_APP_NETMAIL_WALK_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "app/removal_rules.h"
#include "msgbase/msgdir.h"
#include "runtime/short_string.h"

namespace kelvane {

class tFastEchoConfig;
class tMessage;
class tMsgBase;

// A request the walk read: its number and the header of its file as read,
// by which marking it later tells that the file is still that message.
struct tRequestRead {
  int32_t Number = 0;
  uint8_t Header[MsgHeaderSize] = {};
};

class tScanListener {
 public:
  virtual ~tScanListener();
  // FastEcho's netmail folder Dir was opened as Base, whose messages are
  // walked next.
  virtual void NetmailOpened(const tShortString& Dir, const tMsgBase& Base);
  // Dir is not there or cannot be opened: no message is walked.
  virtual void NetmailUnopened(const tShortString& Dir);
  // Message N was read; Failed is the first condition it fails, rcRequest
  // for a request (whose lines follow).
  virtual void MessageRead(int64_t N, const tMessage& Msg, tCondition Failed);
  // Message N is there, but it could not be read; the walk goes on.
  virtual void MessageUnreadable(int64_t N);
  // A line of the request N, before the areas it names.
  virtual void RequestLine(int64_t N, const tRequestLine& Line);
  // Tag, named by the last line, is the tag of area Index of the
  // configuration (-1: of none). Told while Index is still that area's,
  // before it is removed; Base is what becomes of its base.
  virtual void AreaNamed(const tShortString& Tag, int32_t Index, const tBaseToGo& Base);
  // The walk is through with every number below N (of Count).
  virtual void Passed(int64_t N, int32_t Count);
};

// Opens the netmail folder of Config ("F" + NetmailPath, for reading,
// others may read and write; a folder that is not there is not made) into
// Netmail and walks it, reading each message into Msg. Every area a
// request names is removed from Config, its base noted in BasesToGo (which
// starts empty) unless nothing is to be deleted; once every request is
// through, the bases that an area still in Config also uses are marked
// kept. Each request read is noted in Requests (which starts empty), in
// the order of the walk. Returns whether Config changed. Netmail and Msg
// stay with the caller, as kelvane holds them to the end of its run.
bool WalkNetmail(tFastEchoConfig& Config, const tRemovalRules& Rules, std::unique_ptr<tMsgBase>& Netmail,
                 tMessage& Msg, std::vector<tBaseToGo>& BasesToGo, std::vector<tRequestRead>& Requests,
                 tScanListener& Listener);

// Gives each of Requests the Received attribute in its file of the netmail
// folder Dir, changing no other byte (tMsgDirBase::SetAttrBits), and
// returns the numbers of those that could not be marked: a file that is
// gone, held by another program or no longer the message read, a folder
// that is not there. A run calls it only once it has stored what the
// requests asked for, or found nothing to store.
std::vector<int32_t> MarkReceived(std::string_view Dir, const std::vector<tRequestRead>& Requests);

}  // namespace kelvane

#endif  // KELVANE_APP_NETMAIL_WALK_H_
