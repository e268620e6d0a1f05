// Feeds arbitrary bytes to the configuration-set parser: the first byte is
// the unit's configuration count to check against (0 to 16), the rest the
// file. A set that decodes is written again and must decode to the same
// images. The file is parsed as it is and once more with its correct
// checksum appended, so the fuzzer reaches the image parser.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "link/frame.h"
#include "params/config_set.h"

using namespace vecta::params;

namespace {

void Check(std::span<const std::uint8_t> bytes, std::uint32_t minConfigs) {
  const ConfigParse parsed = ParseConfigSet(bytes, minConfigs);
  if (!parsed.ok()) {
    if (ConfigErrorText(parsed.error).empty()) std::abort();
    return;
  }
  if (parsed.data.images.size() != parsed.data.count || parsed.data.count < minConfigs ||
      parsed.data.count > kMaxConfigs)
    std::abort();
  CheckRequestsFit(parsed.data.images, 9999, vecta::link::kMaxTcpRequestFrame);
  const ConfigParse again = ParseConfigSet(BuildConfigSetFile(parsed.data.images), minConfigs);
  if (!again.ok() || again.data.images != parsed.data.images) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint32_t minConfigs = data[0] % (kMaxConfigs + 1);
  Check(std::span(data + 1, size - 1), minConfigs);
  std::vector<std::uint8_t> sealed(data + 1, data + size);
  const std::uint32_t sum = ConfigChecksum(sealed);
  for (int i = 0; i < 4; ++i) sealed.push_back(static_cast<std::uint8_t>(sum >> (8 * i)));
  Check(sealed, minConfigs);
  return 0;
}
