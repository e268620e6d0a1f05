// Feeds arbitrary bytes to the settings loader as a settings file image. Any
// input gives a record (never a crash, a read past the data or an allocation
// beyond the data's own size), and the file that record is written as loads
// back to it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "app/settings.h"

using namespace vecta::app;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const AppSettings s = ParseSettings(data, size);
  // The two paths have no default text, so whatever they hold came out of
  // the input.
  const std::size_t paths = (s.iconPath ? s.iconPath->size() : 0) + (s.logoPath ? s.logoPath->size() : 0);
  if (paths > size) std::abort();

  std::vector<std::uint8_t> image;
  if (!SerializeSettings(s, image)) std::abort();
  if (image.size() != kSettingsFixedBytes + (s.iconPath ? s.iconPath->size() : 0) +
                          (s.appTitle ? s.appTitle->size() : 0) + (s.logoPath ? s.logoPath->size() : 0))
    std::abort();
  // Loading that file gives the same record, except that a string not set
  // (written as the count 0) comes back set and empty; writing it again
  // gives the same bytes.
  AppSettings expected = s;
  for (auto* str : {&expected.iconPath, &expected.appTitle, &expected.logoPath})
    if (!*str) str->emplace();
  const AppSettings back = ParseSettings(image.data(), image.size());
  if (!(back == expected)) std::abort();
  std::vector<std::uint8_t> again;
  if (!SerializeSettings(back, again) || again != image) std::abort();
  return 0;
}
