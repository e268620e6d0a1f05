// The operations on a connected unit that span several windows: the full
// refresh after every connect, config change and unit-side change, the
// pages' Apply and Refresh requests, switching configurations, changing the
// unit's address, Restore defaults, the RF output toggle and writing
// scrambling keys. Qt-free: the desktop application's main window and the
// command-line tool drive the same code through a SessionView.
#pragma once

#include <atomic>
#include <optional>
#include <span>
#include <string>

#include "params/control_host.h"
#include "params/refresh.h"
#include "params/unit_context.h"

namespace vecta::app {

// What the main window shows for the session.
class SessionView {
 public:
  virtual ~SessionView() = default;
  // Busy: "Connect", "Save config set", "Load config set", the page buttons
  // and the Advanced options window's Refresh and Apply disabled.
  virtual void SetBusy(bool busy) = 0;
  // Config tabs "Config 1" .. "Config N" (8, or 16 on K240 and K610).
  virtual void SetConfigCount(int count) = 0;
  // Selects and highlights tab `index` (0-based).
  virtual void SelectConfigTab(int index) = 0;
  // The pages lay out their controls for the board type.
  virtual void AdaptToBoard(const std::string& boardType) = 0;
  virtual void ShowSatmodButton(bool visible) = 0;
  // The unit address shown on the main settings page.
  virtual void ShowUnitAddress(int /*address*/) {}
  virtual params::ControlHost& MainPage() = 0;
  // The Advanced options and satellite modulator windows, when open.
  virtual params::ControlHost* AdvancedWindow() = 0;
  virtual params::ControlHost* SatmodWindow() = 0;
  // Another unit than the windows were built for (a new connection, another
  // board type): the open Advanced options window is built anew for
  // `boardType` and filled from the values just read, as a window that
  // opens is.
  virtual void RebuildSettingsWindows(const std::string& /*boardType*/) {}
  // The unit has no satellite modulator: its window closes without asking
  // anything, and the status line says why.
  virtual void CloseSatmodWindow() {}
};

enum class KeyType { Abs = 0, Aes128 = 1, Aes256 = 2 };

// The writes the unit refused during the last Apply, named as the pages
// caption them without their unit ("The unit refused: Output frequency,
// Scrambling"); "" when it refused none. Clears the list.
std::string TakeRefusedWritesText(params::UnitContext& unit);

// How a full refresh runs. Every window action wants the defaults; an
// operation that refreshes between its own steps already holds the
// operation lock.
struct FullRefreshOptions {
  bool operationLockHeld = false;  // the caller holds it; the refresh takes nothing
  bool refreshAdvanced = true;     // the Advanced options window, when open, is read too
  bool enterBusy = true;           // the busy state while it runs
};

// The windows whose unapplied changes are to be written before they would
// be lost (a config switch, closing the program).
struct ChangedWindows {
  bool mainPage = false;
  std::span<params::ControlHost* const> advancedPages;  // in tab order; empty: none
  params::ControlHost* satmod = nullptr;
};

class Session {
 public:
  Session(params::UnitContext& unit, SessionView& view);

  params::UnitContext& Unit() { return unit_; }
  bool Connected() const { return connected_; }
  void SetConnected(bool connected) { connected_ = connected; }
  int CurrentConfig() const { return currentConfig_; }
  int ConfigCount() const { return configCount_; }

  // A unit was taken on a new connection (another unit, another board type
  // or the same one again) or came back after the link was lost: nothing
  // read before is kept (the stored values, board type, firmware, what the
  // page rules remember, the last set saved), and the next full refresh
  // empties the windows and builds them for the unit before it fills them.
  void NewConnection();

  // Asks the attached unit for its address with the broadcast query; an
  // accepted reply becomes the unit address everywhere, a refused one
  // leaves it as it was. Returns the link result.
  std::uint32_t LearnUnitAddress();

  // Board type, config tabs, current config, then the main table into the
  // main settings page (and the Advanced options window when asked and
  // open), the satellite modulator button and window (closed when this
  // refresh finds no modulator). For another unit than the windows show (a
  // new connection, another board type) the windows are emptied first and
  // the Advanced options window is built anew last.
  void FullRefresh(const FullRefreshOptions& options = {});
  // The full refresh a config file or config set operation runs between
  // its steps: that operation holds the operation lock.
  void FullRefreshWithinOperation() { FullRefresh({.operationLockHeld = true}); }

  // The main settings page's Apply and Refresh.
  void ApplyRequest();
  void RefreshRequest();

  // The Advanced options window's Apply: each page from the last ("Unit
  // parameters") to the first is applied and, when it wrote something, read
  // back; then, if any page wrote, the full refresh without that window.
  // All of it in the busy state and under the poll lock; without a
  // connection "No connection currently" and nothing else.
  void ApplyAdvancedWindow(std::span<params::ControlHost* const> pages);

  // The satellite modulator window: read from the unit when it opens, and
  // its Apply (busy state, poll lock, read back when something was written;
  // without a connection, as the Advanced options window's).
  void ReadSatmodWindow(params::ControlHost& window);
  void ApplySatmodWindow(params::ControlHost& window);

  // Writes the changes of the windows named. One window: that window's own
  // Apply. Several, in the busy state and under the poll lock: the
  // satellite modulator window first (read back at once: its table is its
  // own), then the Advanced options pages from the last to the first and
  // the main settings page, all compared with the values last read, and
  // one full refresh of every window when anything was written.
  void ApplyChangedWindows(const ChangedWindows& windows);

  // Another window wrote these mnemonics to the unit (the engineering
  // options): those the main table holds are read back into the main
  // settings page and the open Advanced options window, under the poll lock.
  void ReadBackRows(std::span<const std::string> mnemonics);

  // The operator moved to config tab k (0-based).
  void ChangeConfigTab(int k);

  // The engineering options changed the unit's address.
  void ChangeUnitAddress(int newAddress);

  // Restore defaults, after asking the operator.
  void RestoreDefaults();

  // The RF output button.
  void ToggleRfOutput();

  // Scrambling keys: the type the key dialog opens with (from zscr), the
  // dialog's checks (the message to show, or none when the key is good),
  // and the requests, masked in the communication log.
  KeyType InitialKeyType() const;
  static std::optional<std::string> CheckKey(KeyType type, const std::string& first, const std::string& second);
  void WriteKey(KeyType type, const std::string& first, const std::string& second);

 private:
  bool RequireConnection();
  // The board type and the config tabs; true when the unit is another one
  // than the windows show.
  bool ReadBoardType();
  // The current config, then the main table into the main settings page
  // (and `advanced`); none when the config could not be read.
  std::optional<params::Answered> ReadConfigAndPages(params::ControlHost* advanced);
  // The "Satellite modulator" button and window, by this refresh's sver.
  void ShowSatmod(const params::Answered& answered);
  void ForgetUnitValues();
  std::uint32_t Send(const std::string& request, link::LinkReply& reply, int logLevel = 1);
  void ShowError(const std::string& text);

  params::UnitContext& unit_;
  SessionView& view_;
  // Read by the window thread while an operation runs on another thread.
  std::atomic<bool> connected_{false};
  int currentConfig_ = -1;
  int configCount_ = 8;
  // The next full refresh shows another unit than the windows do.
  bool newUnit_ = false;
  // The board type the windows were last built for; none before the first.
  std::optional<std::string> windowsBoard_;
};

}  // namespace vecta::app
