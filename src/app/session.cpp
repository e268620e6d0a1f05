#include "app/session.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "link/frame.h"
#include "link/link_lock.h"
#include "link/trace.h"
#include "params/apply.h"
#include "params/refresh.h"

namespace vecta::app {
namespace {

using params::Answer;
using params::MessageButtons;
using params::MessageIcon;

constexpr int kConfigSwitchWaitMs = 1000;
constexpr int kRestoreDefaultsWaitMs = 5000;
constexpr std::size_t kBoardTypeLength = 8;

std::string Printf(const char* format, auto... args) {
  char buf[300];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}

// Enters the busy state for a scope when asked.
class BusyScope {
 public:
  BusyScope(SessionView& view, bool enter) : view_(view), entered_(enter) {
    if (entered_) view_.SetBusy(true);
  }
  ~BusyScope() {
    if (entered_) view_.SetBusy(false);
  }

 private:
  SessionView& view_;
  bool entered_;
};

// Takes the poll lock for a scope unless the caller already holds it.
class PollScope {
 public:
  explicit PollScope(bool alreadyHeld) : lock_(link::PollLock(), std::defer_lock) {
    if (!alreadyHeld) lock_.lock();
  }

 private:
  std::unique_lock<std::recursive_mutex> lock_;
};

}  // namespace

Session::Session(params::UnitContext& unit, SessionView& view) : unit_(unit), view_(view) {}

std::uint32_t Session::Send(const std::string& request, link::LinkReply& reply, int logLevel) {
  return link::Exchange(*unit_.link, request, reply, logLevel);
}

void Session::ShowError(const std::string& text) {
  if (unit_.prompter) unit_.prompter->Message("Error", text, MessageIcon::Exclamation);
}

bool Session::RequireConnection() {
  if (connected_) return true;
  ShowError("No connection currently");
  return false;
}

std::uint32_t Session::LearnUnitAddress() {
  link::LinkReply reply;
  const std::uint32_t rc = Send(Printf("%c9999rgadd;;", link::kStx), reply);
  // A unit that refuses the query has answered, but its value is no address.
  if (rc == 0 && reply.status == '1') {
    unit_.unitAddress = std::atoi(reply.value.c_str());
    view_.ShowUnitAddress(unit_.unitAddress);
  }
  return rc;
}

void Session::FullRefresh(bool pollLockHeld, bool refreshAdvanced, bool enterBusy) {
  BusyScope busy(view_, enterBusy);
  PollScope poll(pollLockHeld);

  link::LinkReply reply;
  if (Send(Printf("%c%04drgbty;;", link::kStx, unit_.unitAddress), reply) != 0) {
    unit_.boardType.clear();
  } else {
    unit_.boardType = reply.value.substr(0, kBoardTypeLength);
    view_.AdaptToBoard(unit_.boardType);
  }

  const int count = unit_.variant() == params::Variant::Other ? 8 : 16;
  if (count != configCount_) {
    configCount_ = count;
    view_.SetConfigCount(count);
  }

  const std::uint32_t rc = Send(Printf("%c%04drglod;;", link::kStx, unit_.unitAddress), reply);
  if (rc != 0) {
    ShowError(Printf("Error 0x%08x reading transmitter config", rc));
    return;
  }
  const int n = std::atoi(reply.value.c_str());
  // A K240 reports its configuration as it likes; the others within the tabs.
  if (!(unit_.variant() == params::Variant::K240 || (n >= 1 && n <= configCount_))) {
    ShowError(Printf("Invalid config number (%d) returned from transmitter", n));
    return;
  }
  if (n >= 1 && n <= configCount_) view_.SelectConfigTab(n - 1);
  currentConfig_ = n;

  params::Refresh(unit_, unit_.tables->main, view_.MainPage(),
                  refreshAdvanced ? view_.AdvancedWindow() : nullptr);

  const params::ParamRow* sver = unit_.tables->main.Find("sver");
  const auto version = sver ? sver->Text() : std::nullopt;
  view_.ShowSatmodButton(unit_.variant() == params::Variant::K240 && version && !version->empty());
  if (params::ControlHost* satmod = view_.SatmodWindow())
    params::Refresh(unit_, unit_.tables->satmod, *satmod);
}

void Session::ApplyRequest() {
  if (!RequireConnection()) return;
  BusyScope busy(view_, true);
  PollScope poll(false);
  if (params::Apply(unit_, unit_.tables->main, view_.MainPage()) != 0)
    params::Refresh(unit_, unit_.tables->main, view_.MainPage(), view_.AdvancedWindow());
}

void Session::ApplyAdvancedWindow(std::span<params::ControlHost* const> pages) {
  BusyScope busy(view_, true);
  PollScope poll(false);
  link::Trace("CTxDialog::Apply\r\n");
  unit_.rules.k610EncoderChoice.reset();
  int written = 0;
  for (auto it = pages.rbegin(); it != pages.rend(); ++it) {
    if (!*it) continue;
    if (params::Apply(unit_, unit_.tables->main, **it) != 0) {
      params::Refresh(unit_, unit_.tables->main, **it);
      ++written;
    }
  }
  if (written > 0) FullRefresh(/*pollLockHeld=*/true, /*refreshAdvanced=*/false, /*enterBusy=*/true);
}

void Session::ReadSatmodWindow(params::ControlHost& window) {
  PollScope poll(false);
  params::Refresh(unit_, unit_.tables->satmod, window);
}

void Session::ApplySatmodWindow(params::ControlHost& window) {
  BusyScope busy(view_, true);
  PollScope poll(false);
  link::Trace("CSatmodDialog::Apply\r\n");
  if (params::Apply(unit_, unit_.tables->satmod, window) != 0)
    params::Refresh(unit_, unit_.tables->satmod, window);
}

void Session::RefreshRequest() {
  if (!RequireConnection()) return;
  FullRefresh();
}

void Session::ChangeConfigTab(int k) {
  view_.SelectConfigTab(k);
  if (!connected_) return;
  {
    PollScope poll(false);
    currentConfig_ = k + 1;
    link::LinkReply reply;
    // A unit that refuses the switch ('E') stays where it was: that is a
    // failed load as much as a link error is.
    if (Send(Printf("%04dwglod;%d;", unit_.unitAddress, k + 1), reply) != 0 || reply.status == 'E') {
      ShowError(Printf("Unable to load config %d", k + 1));
      return;
    }
    unit_.clock->SleepMs(kConfigSwitchWaitMs);  // the unit switches
  }
  FullRefresh();
}

void Session::ChangeUnitAddress(int newAddress) {
  PollScope poll(false);
  if (connected_) {
    link::LinkReply reply;
    Send(Printf("%c%04dwgadd;%04d;", link::kStx, unit_.unitAddress, newAddress), reply);
  }
  unit_.unitAddress = newAddress;
  view_.ShowUnitAddress(newAddress);
}

void Session::RestoreDefaults() {
  if (!RequireConnection()) return;
  if (!unit_.prompter ||
      unit_.prompter->Message("Alert", "Are you sure you want to restore defaults", MessageIcon::Question,
                              MessageButtons::YesNo) != Answer::Yes)
    return;
  // Busy from the reset through the refresh that follows it, and left on
  // every way out.
  BusyScope busy(view_, true);
  {
    PollScope poll(false);
    link::LinkReply reply;
    Send(Printf("%c%04dwgdef;1;", link::kStx, unit_.unitAddress), reply);
    unit_.clock->SleepMs(kRestoreDefaultsWaitMs);
  }
  FullRefresh();
}

void Session::ToggleRfOutput() {
  if (!RequireConnection()) return;
  {
    std::lock_guard lock(link::LinkLock());
    const params::ParamRow* oout = unit_.tables->main.Find("oout");
    const auto stored = oout ? oout->Position() : std::nullopt;
    if (!stored) return;
    link::LinkReply reply;
    Send(Printf("%c%04dwoout;%d;", link::kStx, unit_.unitAddress, *stored == 1 ? 0 : 1), reply);
  }
  FullRefresh();
}

KeyType Session::InitialKeyType() const {
  // The position among the offered modes: Off, ABS, AES128, AES256, ...
  switch (unit_.tables->main.StoredListPosition("zscr")) {
    case 2: return KeyType::Aes128;
    case 3: return KeyType::Aes256;
    default: return KeyType::Abs;
  }
}

std::optional<std::string> Session::CheckKey(KeyType type, const std::string& first,
                                             const std::string& second) {
  auto hex = [](const std::string& s) {
    for (unsigned char c : s)
      if (!std::isxdigit(c)) return false;
    return true;
  };
  switch (type) {
    case KeyType::Abs:
      if (first.size() < 8) return "ABS key must be 8 hex digits";
      return hex(first.substr(0, 8)) ? std::nullopt : std::optional<std::string>("Invalid characters in hex field");
    case KeyType::Aes128:
      if (first.size() < 32) return "AES key must be 32 hex digits";
      return hex(first.substr(0, 32)) ? std::nullopt : std::optional<std::string>("Invalid characters in hex field");
    case KeyType::Aes256:
      if (first.size() < 32 || second.size() < 32) return "AES key must be 32 hex digits in each field";
      if (!hex(first.substr(0, 32)) || !hex(second.substr(0, 32))) return "Invalid characters in hex field";
      return std::nullopt;
  }
  return std::nullopt;
}

void Session::WriteKey(KeyType type, const std::string& first, const std::string& second) {
  if (!RequireConnection()) return;
  // The key fields hold 8 or 32 characters at most.
  const std::string key = first.substr(0, type == KeyType::Abs ? 8 : 32);
  link::LinkReply reply;
  Send(Printf("%04dw%s;%s;", unit_.unitAddress, type == KeyType::Abs ? "zkey" : "zkez", key.c_str()), reply, 2);
  if (type == KeyType::Aes256)
    Send(Printf("%04dwzkex;%s;", unit_.unitAddress, second.substr(0, 32).c_str()), reply, 2);
}

}  // namespace vecta::app
