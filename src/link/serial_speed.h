// Line speeds beyond the standard termios constants (14400, 56000, 128000,
// 256000 and whatever else a driver can do), through the kernel's termios2
// interface. Kept apart from the termios code: the kernel's headers for it
// clash with <termios.h>.
#pragma once

#include <cstdint>

namespace vecta::link {

// The whole line state of a terminal, as the kernel holds it.
struct SavedLine {
  alignas(8) unsigned char bytes[64];
};

bool SaveLine(int fd, SavedLine& saved);
bool RestoreLine(int fd, const SavedLine& saved);

// Sets both speeds to `baud` bits per second, leaving every other setting as
// it is: by its standard constant `code` when it has one (nonzero), else as
// an arbitrary rate. False when the driver refuses the request.
bool SetLineSpeed(int fd, std::uint32_t baud, unsigned code);

// One of the terminal's standard rates (those with a termios constant);
// others go through the arbitrary-rate interface above.
bool IsStandardBaudRate(std::uint32_t baud);

// The speeds the driver reports, in bits per second.
bool ReadLineSpeeds(int fd, std::uint32_t& input, std::uint32_t& output);

}  // namespace vecta::link
