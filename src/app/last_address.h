// The IP address of the last unit reached over Ethernet, offered again in the
// address field at the next start. It is kept in a small file of its own in
// the configuration folder (AppPaths::lastAddressFile), never in the settings
// file, whose layout is fixed: one line with the dotted address, written
// whole or not at all. A missing, unreadable or malformed file means there is
// no address to offer.
#pragma once

#include <optional>
#include <string>

namespace vecta::app {

inline constexpr const char* kLastAddressFileName = "vecta_tx_ctrl.last-ip";

// The address as "a.b.c.d" (each part 0 to 255, written without leading
// zeros), or nullopt when `text` is anything else. Surrounding blanks and
// line ends are ignored.
std::optional<std::string> ParseLastAddress(const std::string& text);

// The address kept in `path`; nullopt when there is none that is usable.
std::optional<std::string> LoadLastAddress(const std::string& path);

// Replaces `path` atomically with `address` and a line end. False, leaving
// the file as it was, when `address` is no dotted address or the file cannot
// be replaced (`error` says why, if given).
bool SaveLastAddress(const std::string& path, const std::string& address, std::string* error = nullptr);

}  // namespace vecta::app
