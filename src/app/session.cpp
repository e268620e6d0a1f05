#include "app/session.h"

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "app/config_review.h"
#include "app/format_text.h"
#include "link/link_lock.h"
#include "link/request.h"
#include "link/trace.h"
#include "params/apply.h"

namespace vecta::app {
namespace {

using params::Answer;
using params::MessageButtons;
using params::MessageIcon;

constexpr int kConfigSwitchWaitMs = 1000;
constexpr int kRestoreDefaultsWaitMs = 5000;
constexpr std::size_t kBoardTypeLength = 8;

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
  const std::uint32_t rc = Send(link::AddressQuery(), reply);
  // A unit that refuses the query has answered, but its value is no address.
  if (rc == 0 && reply.status == '1') {
    unit_.unitAddress = std::atoi(reply.value.c_str());
    view_.ShowUnitAddress(unit_.unitAddress);
  }
  return rc;
}

void Session::ForgetUnitValues() {
  for (params::ParamTable* table : unit_.tables->All()) table->ClearValues();
  unit_.firmware = {};
  unit_.rules = {};
  unit_.lastSetSave.reset();
}

void Session::NewConnection() {
  ForgetUnitValues();
  unit_.boardType.clear();
  newUnit_ = true;
}

bool Session::ReadBoardType() {
  link::LinkReply reply;
  const bool read = Send(link::ReadRequest(unit_.unitAddress, "gbty"), reply) == 0;
  if (!read) {
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
  // Another board type on the same connection is another unit as well.
  const bool otherBoard = read && windowsBoard_ && *windowsBoard_ != unit_.boardType;
  if (otherBoard && !newUnit_) ForgetUnitValues();
  if (read) windowsBoard_ = unit_.boardType;
  return newUnit_ || otherBoard;
}

std::optional<params::Answered> Session::ReadConfigAndPages(params::ControlHost* advanced) {
  link::LinkReply reply;
  const std::uint32_t rc = Send(link::ReadRequest(unit_.unitAddress, "glod"), reply);
  if (rc != 0) {
    ShowError(FormatText("Error 0x%08x reading transmitter config", rc));
    return std::nullopt;
  }
  const int n = std::atoi(reply.value.c_str());
  // A K240 reports its configuration as it likes; the others within the tabs.
  if (!(unit_.variant() == params::Variant::K240 || (n >= 1 && n <= configCount_))) {
    ShowError(FormatText("Invalid config number (%d) returned from transmitter", n));
    return std::nullopt;
  }
  if (n >= 1 && n <= configCount_) view_.SelectConfigTab(n - 1);
  currentConfig_ = n;
  return params::Refresh(unit_, unit_.tables->main, view_.MainPage(), advanced);
}

void Session::ShowSatmod(const params::Answered& answered) {
  // This refresh's answer decides: a version read before is no modulator now.
  const params::ParamRow* sver = unit_.tables->main.Find("sver");
  const auto version = sver && answered.count("sver") ? sver->Text() : std::nullopt;
  const bool modulator = unit_.variant() == params::Variant::K240 && version && !version->empty();
  view_.ShowSatmodButton(modulator);
  if (params::ControlHost* satmod = view_.SatmodWindow()) {
    if (modulator)
      params::Refresh(unit_, unit_.tables->satmod, *satmod);
    else
      view_.CloseSatmodWindow();
  }
}

void Session::FullRefresh(const FullRefreshOptions& options) {
  BusyScope busy(view_, options.enterBusy);
  std::optional<link::OperationLock> operation;
  if (!options.operationLockHeld) operation.emplace();

  const bool newUnit = ReadBoardType();
  if (newUnit) {
    // Nothing of the unit shown before stays on show.
    params::ClearShownValues(unit_.tables->main, view_.MainPage());
    view_.ShowSatmodButton(false);
    if (params::ControlHost* satmod = view_.SatmodWindow())
      params::ClearShownValues(unit_.tables->satmod, *satmod);
  }
  // A window built anew is filled from what was just read, as one that opens.
  const auto answered = ReadConfigAndPages(options.refreshAdvanced && !newUnit ? view_.AdvancedWindow() : nullptr);
  if (newUnit) {
    newUnit_ = false;
    view_.RebuildSettingsWindows(unit_.boardType);
  }
  if (answered) ShowSatmod(*answered);
}

void Session::ApplyRequest() {
  if (!RequireConnection()) return;
  BusyScope busy(view_, true);
  link::OperationLock operation;
  if (params::Apply(unit_, unit_.tables->main, view_.MainPage()) != 0)
    params::Refresh(unit_, unit_.tables->main, view_.MainPage(), view_.AdvancedWindow());
}

void Session::ApplyAdvancedWindow(std::span<params::ControlHost* const> pages) {
  // Without a connection the link may still lead somewhere (a unit that
  // never answered): nothing goes there.
  if (!RequireConnection()) return;
  BusyScope busy(view_, true);
  link::OperationLock operation;
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
  if (written > 0) FullRefresh({.operationLockHeld = true, .refreshAdvanced = false});
}

void Session::ReadSatmodWindow(params::ControlHost& window) {
  link::OperationLock operation;
  params::Refresh(unit_, unit_.tables->satmod, window);
}

void Session::ApplySatmodWindow(params::ControlHost& window) {
  if (!RequireConnection()) return;
  BusyScope busy(view_, true);
  link::OperationLock operation;
  link::Trace("CSatmodDialog::Apply\r\n");
  if (params::Apply(unit_, unit_.tables->satmod, window) != 0)
    params::Refresh(unit_, unit_.tables->satmod, window);
}

void Session::ApplyChangedWindows(const ChangedWindows& windows) {
  const bool advanced = !windows.advancedPages.empty();
  const int count = int(windows.mainPage) + int(advanced) + int(windows.satmod != nullptr);
  if (count == 0) return;
  if (count == 1) {
    if (windows.mainPage) ApplyRequest();
    if (advanced) ApplyAdvancedWindow(windows.advancedPages);
    if (windows.satmod) ApplySatmodWindow(*windows.satmod);
    return;
  }
  if (!RequireConnection()) return;
  BusyScope busy(view_, true);
  link::OperationLock operation;
  if (windows.satmod) {
    link::Trace("CSatmodDialog::Apply\r\n");
    if (params::Apply(unit_, unit_.tables->satmod, *windows.satmod) != 0)
      params::Refresh(unit_, unit_.tables->satmod, *windows.satmod);
  }
  // No window is read back before the last one is written: a read-back
  // would make the unchanged copy of a setting in another window differ
  // from the unit's value, and that window's apply would write it back.
  bool written = false;
  if (advanced) {
    link::Trace("CTxDialog::Apply\r\n");
    unit_.rules.k610EncoderChoice.reset();
    for (auto it = windows.advancedPages.rbegin(); it != windows.advancedPages.rend(); ++it)
      if (*it && params::Apply(unit_, unit_.tables->main, **it) != 0) written = true;
  }
  if (windows.mainPage && params::Apply(unit_, unit_.tables->main, view_.MainPage()) != 0) written = true;
  if (written) FullRefresh({.operationLockHeld = true});
}

void Session::ReadBackRows(std::span<const std::string> mnemonics) {
  bool held = false;
  for (const std::string& m : mnemonics) held = held || unit_.tables->main.Find(m) != nullptr;
  if (!held) return;
  link::OperationLock operation;
  params::RefreshRows(unit_, unit_.tables->main, mnemonics, view_.MainPage(), view_.AdvancedWindow());
}

void Session::RefreshRequest() {
  if (!RequireConnection()) return;
  FullRefresh();
}

void Session::ChangeConfigTab(int k) {
  view_.SelectConfigTab(k);
  if (!connected_) return;
  {
    link::OperationLock operation;
    currentConfig_ = k + 1;
    link::LinkReply reply;
    // A unit that refuses the switch ('E') stays where it was: that is a
    // failed load as much as a link error is.
    if (Send(link::WriteRequestNoStx(unit_.unitAddress, "glod", k + 1), reply) != 0 || reply.status == 'E') {
      ShowError(FormatText("Unable to load config %d", k + 1));
      return;
    }
    unit_.clock->SleepMs(kConfigSwitchWaitMs);  // the unit switches
  }
  FullRefresh();
}

void Session::ChangeUnitAddress(int newAddress) {
  link::OperationLock operation;
  if (connected_) {
    link::LinkReply reply;
    Send(link::WriteRequest(unit_.unitAddress, "gadd", link::UnitAddressText(newAddress)), reply);
  }
  unit_.unitAddress = newAddress;
  view_.ShowUnitAddress(newAddress);
}

void Session::RestoreDefaults() {
  if (!RequireConnection()) return;
  if (!unit_.prompter || unit_.prompter->Message("Alert", "Are you sure you want to restore defaults",
                                                 MessageIcon::Question, MessageButtons::YesNo) != Answer::Yes)
    return;
  // Busy from the reset through the refresh that follows it, and left on
  // every way out.
  BusyScope busy(view_, true);
  {
    link::OperationLock operation;
    link::LinkReply reply;
    Send(link::WriteRequest(unit_.unitAddress, "gdef", 1), reply);
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
    Send(link::WriteRequest(unit_.unitAddress, "oout", *stored == 1 ? 0 : 1), reply);
  }
  FullRefresh();
}

KeyType Session::InitialKeyType() const {
  // The position among the offered modes: Off, ABS, AES128, AES256, ...
  switch (unit_.tables->main.StoredListPosition("zscr")) {
    case 2:
      return KeyType::Aes128;
    case 3:
      return KeyType::Aes256;
    default:
      return KeyType::Abs;
  }
}

std::optional<std::string> Session::CheckKey(KeyType type, const std::string& first, const std::string& second) {
  auto hex = [](const std::string& s) {
    for (unsigned char c : s)
      if (!std::isxdigit(c)) return false;
    return true;
  };
  switch (type) {
    case KeyType::Abs:
      if (first.size() < 8) return "ABS key must be 8 hex digits";
      return hex(first.substr(0, 8)) ? std::nullopt
                                     : std::optional<std::string>("Invalid characters in hex field");
    case KeyType::Aes128:
      if (first.size() < 32) return "AES key must be 32 hex digits";
      return hex(first.substr(0, 32)) ? std::nullopt
                                      : std::optional<std::string>("Invalid characters in hex field");
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
  Send(link::WriteRequestNoStx(unit_.unitAddress, type == KeyType::Abs ? "zkey" : "zkez", key), reply, 2);
  if (type == KeyType::Aes256)
    Send(link::WriteRequestNoStx(unit_.unitAddress, "zkex", second.substr(0, 32)), reply, 2);
}

std::string TakeRefusedWritesText(params::UnitContext& unit) {
  const std::vector<const params::RowDescriptor*> rows = std::exchange(unit.refusedWrites, {});
  if (rows.empty()) return {};
  std::string text = "The unit refused: ";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::string caption = SettingCaption(*rows[i], unit.variant());
    // "Output frequency (MHz)" names the setting as "Output frequency".
    if (const auto unitAt = caption.rfind(" ("); unitAt != std::string::npos && caption.back() == ')')
      caption.erase(unitAt);
    text += (i ? ", " : "") + caption;
  }
  return text;
}

}  // namespace vecta::app
