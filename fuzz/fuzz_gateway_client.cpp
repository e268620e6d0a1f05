// What a client sends the gateway: arbitrary bytes, cut into reads where the
// first byte says, through the client decoder. Whatever comes, the decoder
// holds less than one envelope, every frame it passes on is a request frame
// that fits a TCP unit, and the same bytes in one read decode the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "gateway/client_decoder.h"
#include "link/link_cipher.h"

using namespace vecta;

namespace {

std::vector<gateway::ClientFrame> Decode(const std::uint8_t* data, std::size_t size, std::size_t piece) {
  static const link::LinkCipher cipher;
  gateway::ClientDecoder decoder(cipher);
  std::vector<gateway::ClientFrame> out;
  for (std::size_t at = 0; at < size; at += piece) {
    decoder.Feed(data + at, size - at < piece ? size - at : piece, out);
    if (decoder.Pending() >= 256) std::abort();
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = data[0] % 64 + 1;
  const auto split = Decode(data + 1, size - 1, piece);
  const auto whole = Decode(data + 1, size - 1, size);
  if (split.size() != whole.size()) std::abort();
  for (std::size_t i = 0; i < split.size(); ++i) {
    if (split[i].fault != whole[i].fault || split[i].frame != whole[i].frame) std::abort();
    const auto& f = split[i];
    if (f.fault == gateway::FrameFault::None) {
      if (f.frame.size() > link::kMaxTcpRequestFrame) std::abort();
      if (gateway::CheckRequestFrame(f.frame.data(), f.frame.size()) != gateway::FrameFault::None) std::abort();
    } else if (!f.frame.empty()) {
      std::abort();
    }
  }
  return 0;
}
