#include "link/serial_speed.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cstring>

// <sys/ioctl.h> would bring in definitions that clash with the kernel's.
extern "C" int ioctl(int fd, unsigned long request, ...);

namespace vecta::link {

static_assert(sizeof(termios2) <= sizeof(SavedLine::bytes));

bool SaveLine(int fd, SavedLine& saved) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  std::memcpy(saved.bytes, &t, sizeof t);
  return true;
}

bool RestoreLine(int fd, const SavedLine& saved) {
  termios2 t{};
  std::memcpy(&t, saved.bytes, sizeof t);
  return ioctl(fd, TCSETS2, &t) == 0;
}

bool SetLineSpeed(int fd, std::uint32_t baud, unsigned code) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  const tcflag_t bits = code != 0 ? static_cast<tcflag_t>(code) & CBAUD : BOTHER;
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= bits | (bits << IBSHIFT);
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  return ioctl(fd, TCSETS2, &t) == 0;
}

bool ReadLineSpeeds(int fd, std::uint32_t& input, std::uint32_t& output) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  input = t.c_ispeed;
  output = t.c_ospeed;
  return true;
}

}  // namespace vecta::link
