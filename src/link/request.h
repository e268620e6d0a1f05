// Request texts: what every caller hands to SendCommand. A request names the
// unit by its four-digit address, says 'r' (read) or 'w' (write), names the
// four-character mnemonic and carries the value, each of the last two closed
// by ';'. The link frames the text (the STX in front when it has none, the
// checksum, ETX).
//
// Most requests lead with STX themselves; a few have always been sent
// without it (the configuration switch, the scrambling keys, the
// engineering pages, the link's probe of a new connection). Both frame to
// the same bytes, but the communication log and the diagnostic transcript
// show the text as it was handed over, so each caller keeps its form.
#pragma once

#include <string>
#include <string_view>

namespace vecta::link {

// The unit address as the requests write it: "%04d" (0001, 0042, 9999).
std::string UnitAddressText(int address);

// STX, the address, 'r', the mnemonic, ";;".
std::string ReadRequest(int address, std::string_view mnemonic);
// STX, the address, 'w', the mnemonic, ';', the value, ';'. The value goes
// in as it is (the link ends the frame at a zero byte, should it hold one).
std::string WriteRequest(int address, std::string_view mnemonic, std::string_view value);
// The same with a whole number as the value ("%d").
std::string WriteRequest(int address, std::string_view mnemonic, long long value);

// The same texts without the leading STX.
std::string ReadRequestNoStx(int address, std::string_view mnemonic);
std::string WriteRequestNoStx(int address, std::string_view mnemonic, std::string_view value);
std::string WriteRequestNoStx(int address, std::string_view mnemonic, long long value);

// The broadcast address query, a read of gadd at address 9999: the attached
// unit answers with its own address. With and without the leading STX.
std::string AddressQuery();
std::string AddressQueryNoStx();

// STX and the address in front of the rest of a request as the operator
// typed it ("rgbty;;"): the command-line tool's raw request.
std::string AddressedRequest(int address, std::string_view rest);

}  // namespace vecta::link
