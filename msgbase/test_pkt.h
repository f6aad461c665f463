// Test support for the packet tests: type-2 packets laid out by hand, byte
// by byte from the format's description, so that the tests check the
// library against the bytes and not against itself.
#ifndef KELVANE_MSGBASE_TEST_PKT_H_
#define KELVANE_MSGBASE_TEST_PKT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/coding.h"

namespace kelvane::testing {

struct tPktAddr {
  uint16_t Zone = 2, Net = 5020, Node = 1, Point = 0;
};

// A packet header of type 2+ (capability word 1 and its byte-swapped copy),
// as crashmail writes them: the date 9 December 2026, 03:04:05.
inline std::string PktHeaderBytes(const tPktAddr& From, const tPktAddr& To, const std::string& Password = "",
                                  uint16_t Type = 2) {
  uint8_t H[58] = {};
  const uint16_t Words[] = {From.Node, To.Node, 2026, 11, 9, 3, 4, 5, 0, Type, From.Net, To.Net};
  for (int I = 0; I < 12; ++I) PutU16(H + 2 * I, Words[I]);
  H[24] = 0xFE;
  H[25] = 1;
  PutTextField(H + 26, 8, Password, 8);
  PutU16(H + 34, From.Zone);
  PutU16(H + 36, To.Zone);
  PutU16(H + 40, 0x0100);
  H[43] = 7;
  PutU16(H + 44, 0x0001);
  PutU16(H + 46, From.Zone);
  PutU16(H + 48, To.Zone);
  PutU16(H + 50, From.Point);
  PutU16(H + 52, To.Point);
  return std::string(reinterpret_cast<char*>(H), sizeof H);
}

// A type 2.2 header (FSC-0045): points where 2+ has its date, sub-version
// 2 where it has the baud rate, the domains where it has its capability
// words and zone copies.
inline std::string PktHeader22Bytes(const tPktAddr& From, const tPktAddr& To, const std::string& FromDomain,
                                    const std::string& ToDomain) {
  std::string H = PktHeaderBytes(From, To, "pw");
  uint8_t* P = reinterpret_cast<uint8_t*>(H.data());
  const uint16_t Words[] = {From.Point, To.Point, 0, 0, 0, 0, 2};
  for (int I = 0; I < 7; ++I) PutU16(P + 4 + 2 * I, Words[I]);
  PutTextField(P + 38, 8, FromDomain, 8);
  PutTextField(P + 46, 8, ToDomain, 8);
  PutU32(P + 54, 0);
  return H;
}

struct tPackedMsg {
  uint16_t Type = 2;
  uint16_t OrigNode = 2, DestNode = 1, OrigNet = 5020, DestNet = 5020, Attr = 0, Cost = 0;
  std::string Date = "09 Dec 26  03:04:05";
  std::string To = "Test Sysop", From = "Ivan Petrov", Subject = "subject";
  std::string Text = "\1MSGID: 2:5020/2 12345678\rHello\r";
};

// One packed message from its type word to the NUL that ends its text.
inline std::string PackedMsgBytes(const tPackedMsg& M) {
  uint8_t H[34] = {};
  const uint16_t Words[] = {M.Type, M.OrigNode, M.DestNode, M.OrigNet, M.DestNet, M.Attr, M.Cost};
  for (int I = 0; I < 7; ++I) PutU16(H + 2 * I, Words[I]);
  PutTextField(H + 14, 20, M.Date, 19);
  std::string Out(reinterpret_cast<char*>(H), sizeof H);
  for (const std::string* S : {&M.To, &M.From, &M.Subject, &M.Text}) Out += *S + std::string(1, '\0');
  return Out;
}

// A header, the messages, and the closing zeros.
inline std::string PacketBytes(const std::string& Header, const std::vector<tPackedMsg>& Messages,
                               const std::string& Closing = std::string(2, '\0')) {
  std::string Out = Header;
  for (const tPackedMsg& M : Messages) Out += PackedMsgBytes(M);
  return Out + Closing;
}

// Three messages that differ in every field: netmail, echomail, and a
// netmail to a point with CP866 text.
inline std::vector<tPackedMsg> ThreeMessages() {
  std::vector<tPackedMsg> M(3);
  M[0].Subject = "first";
  M[1].To = "All";
  M[1].From = "Echo Writer";
  M[1].Subject = "second";
  M[1].OrigNode = 0, M[1].DestNode = 0, M[1].OrigNet = 0, M[1].DestNet = 0;
  M[1].Text = "AREA:FIDO.TEST\r\1MSGID: 2:5020/3 00000002\rEcho body\r--- tear\r * Origin: Station (2:5020/3)\r"
              "SEEN-BY: 5020/1 3\r\1PATH: 5020/3\r";
  M[2].From = "\x8f\xe0\xa8\xa2\xa5\xe2";
  M[2].Subject = "third";
  M[2].OrigNode = 4;
  M[2].Attr = 0x0101;
  M[2].Cost = 7;
  M[2].Text = "\1INTL 2:5020/1 2:5020/4\r\1TOPT 3\r\1MSGID: 2:5020/4 00000003\r\x8f\xe0\xa8\xa2\xa5\xe2 body\r";
  return M;
}

}  // namespace kelvane::testing

#endif  // KELVANE_MSGBASE_TEST_PKT_H_
