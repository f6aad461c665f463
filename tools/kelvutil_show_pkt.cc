// kelvutil show on a packet: the packet header's own fields, before the
// message, so that what a link sent (its address, our address, the
// password, the program that made the packet) can be checked too.
#include "msgbase/pkt.h"
#include "runtime/coding.h"
#include "tools/kelvutil.h"

namespace kelvane {

void PrintPacketHeader(tTextOut& Out, tMsgBase& Base) {
  auto* Pkt = dynamic_cast<tPktBase*>(&Base);
  if (!Pkt) return;
  const uint8_t* H = Pkt->PktHeader;
  Out.Printf("PacketFrom\t%s\n", Pkt->GetOrigAddr().CStr());
  Out.Printf("PacketTo\t%s\n", Pkt->GetDestAddr().CStr());
  Out.Printf("PacketPassword\t%s\n", Escaped(Pkt->GetPassword()).c_str());
  if (IsType22Header(H)) {
    // A 2.2 header has domains where 2+ has its date and capability words.
    Out.Put("PacketType\t2.2\n");
    Out.Printf("PacketFromDomain\t%s\n", Escaped(GetTextField(H + p22OrigDomain, PktDomainWidth)).c_str());
    Out.Printf("PacketToDomain\t%s\n", Escaped(GetTextField(H + p22DestDomain, PktDomainWidth)).c_str());
    Out.Printf("PacketProduct\t0x%02x\n", H[phProductLow]);
    Out.Printf("PacketRevision\t%u\n", H[phRevisionMajor]);
    return;
  }
  // The month is stored from 0.
  Out.Printf("PacketDate\t%04u-%02u-%02u %02u:%02u:%02u\n", GetU16(H + phYear), GetU16(H + phMonth) + 1u,
               GetU16(H + phDay), GetU16(H + phHour), GetU16(H + phMinute), GetU16(H + phSecond));
  Out.Printf("PacketProduct\t0x%02x%02x\n", H[phProductHigh], H[phProductLow]);
  Out.Printf("PacketRevision\t%u.%u\n", H[phRevisionMajor], H[phRevisionMinor]);
  Out.Printf("PacketCapWord\t0x%04x\n", GetU16(H + phCapWord));
  Out.Printf("PacketCapCopy\t0x%04x\n", GetU16(H + phCapWordCopy));
}

}  // namespace kelvane
