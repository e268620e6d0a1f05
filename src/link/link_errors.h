// Link error codes: 0 is success, every failure has the top bit set.
#pragma once

#include <cstdint>

namespace vecta::link {

inline constexpr std::uint32_t kLinkOk = 0;
inline constexpr std::uint32_t kErrOpenPort = 0x80000001;        // "Unable to open serial port"
inline constexpr std::uint32_t kErrCommState = 0x80000002;       // "Error accessing CommTimeouts"
inline constexpr std::uint32_t kErrTimeouts = 0x80000003;        // "Error setting timeouts"
inline constexpr std::uint32_t kErrNotConnected = 0x80000004;    // "Currently no connection"
inline constexpr std::uint32_t kErrInvalidAddress = 0x80000005;  // reserved
inline constexpr std::uint32_t kErrInvalidCommand = 0x80000006;  // request refused before sending
inline constexpr std::uint32_t kErrWrite = 0x80000007;
inline constexpr std::uint32_t kErrRead = 0x80000008;
inline constexpr std::uint32_t kErrTimedOut = 0x80000009;
inline constexpr std::uint32_t kErrInvalidReply = 0x8000000A;
inline constexpr std::uint32_t kErrBadChecksum = 0x8000000B;
inline constexpr std::uint32_t kErrLogExists = 0x8000000C;   // reserved
inline constexpr std::uint32_t kErrFileAccess = 0x8000000D;  // reserved
inline constexpr std::uint32_t kErrAlreadyConnected = 0x8000000E;
inline constexpr std::uint32_t kErrNoEtx = 0x8000000F;

// The operator's text for a nonzero code.
const char* LinkErrorText(std::uint32_t code);

}  // namespace vecta::link
