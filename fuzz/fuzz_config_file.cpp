// Feeds arbitrary bytes to the configuration file parser. Every input ends
// in a decoded file or an error, never a crash, a read past the buffer or an
// allocation beyond the input's size; a file that decodes is written again
// and must decode to the same records. Each input is parsed as it is and
// once more with its correct checksum appended, so the fuzzer reaches the
// record parser without having to find checksums itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "link/frame.h"
#include "params/config_file.h"

using namespace vecta::params;

namespace {

void Check(std::span<const std::uint8_t> bytes) {
  const ConfigParse parsed = ParseConfigFile(bytes);
  if (!parsed.ok()) {
    if (ConfigErrorText(parsed.error).empty()) std::abort();
    return;
  }
  if (parsed.data.images.size() != 1 || parsed.data.count > 1) std::abort();
  CheckRequestsFit(parsed.data.images, 1, vecta::link::kMaxSerialRequestFrame);
  const ConfigParse again = ParseConfigFile(BuildConfigFile(parsed.data.images.front()));
  if (!again.ok() || again.data.images != parsed.data.images) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Check(std::span(data, size));
  std::vector<std::uint8_t> sealed(data, data + size);
  const std::uint32_t sum = ConfigChecksum(sealed);
  for (int i = 0; i < 4; ++i) sealed.push_back(static_cast<std::uint8_t>(sum >> (8 * i)));
  Check(sealed);
  return 0;
}
