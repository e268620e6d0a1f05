#include "link/link_errors.h"

namespace vecta::link {

const char* LinkErrorText(std::uint32_t code) {
  switch (code) {
    case kErrOpenPort:
      return "Unable to open serial port";
    case kErrCommState:
      return "Error accessing CommTimeouts";
    case kErrTimeouts:
      return "Error setting timeouts";
    case kErrNotConnected:
      return "Currently no connection";
    case kErrInvalidAddress:
      return "Attempting to read an invalid address";
    case kErrInvalidCommand:
      return "Invalid command sent";
    case kErrWrite:
      return "An error occurred trying to write to the serial port";
    case kErrRead:
      return "An error occurred trying to read from the serial port";
    case kErrTimedOut:
      return "Timed out trying to read a response message";
    case kErrInvalidReply:
      return "Invalid response message received from unit";
    case kErrBadChecksum:
      return "Bad checksum in response message";
    case kErrLogExists:
      return "Log file already exists";
    case kErrFileAccess:
      return "File access error";
    case kErrAlreadyConnected:
      return "Already connected";
    case kErrNoEtx:
      return "Invalid response message received from unit";
    default:
      return "Error occurred sending message";
  }
}

}  // namespace vecta::link
