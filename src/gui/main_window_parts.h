// What the files of the main window share: the core an operation works
// with, the session's view of the window for the operation thread, the
// notices of the poll thread and the link queued for the window thread, and
// the window's measures.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>

#include "app/unit_connection.h"
#include "gui/cross_thread.h"
#include "gui/dialog_units.h"
#include "gui/main_window.h"
#include "gui/q_string.h"

namespace vecta::gui {

using params::ControlHost;

namespace main_window_detail {

// The logo frame at the lower right, in dialog units.
constexpr QSize kLogoFrameUnits(120, 46);
// The sunken edge around the logo.
constexpr int kLogoEdge = 2;
constexpr int kLampSize = 24;
// How long closing waits for an interrupted operation before leaving it.
constexpr int kCloseWaitMs = 400;

// The logo frame in pixels at the window's font: the largest logo size.
inline QSize LogoFrameSize(const QWidget* window) { return DialogUnitsToPixels(kLogoFrameUnits, window->font()); }

// The caption is the application title as set, blank when it is empty: the
// window system puts the program's name on a window without a title, so an
// empty title goes out as a single space.
inline void SetCaption(QWidget* window, const QString& title) {
  window->setWindowTitle(title.isEmpty() ? QStringLiteral(" ") : title);
}

}  // namespace main_window_detail

// --------------------------------------------------------------- the core

// What an operation works with. Shared with the operation thread, so an
// operation left running when the window closes still finds it all.
struct MainWindow::Core {
  Core(std::shared_ptr<AbandonFlag> flag, std::unique_ptr<GuiThreadPrompter> guiPrompter,
       std::unique_ptr<WorkerView> workerView, app::UnitConnectionOptions options);

  std::shared_ptr<AbandonFlag> abandoned;
  std::unique_ptr<GuiThreadPrompter> prompter;
  std::unique_ptr<WorkerView> view;
  app::UnitConnection connection;
  // The connection's parts, by the names the operations use.
  const std::shared_ptr<link::CRavlenRemoteControl>& link = connection.SharedLink();
  const std::shared_ptr<params::ParamTables>& tables = connection.SharedTables();
  params::UnitContext& unit = connection.Unit();
  params::TransferControl& transfer = connection.Transfer();
  app::Session* const session = &connection.Session();
  app::Connector* const connector = &connection.Connector();
  // Where a network serial port a unit answered on is kept ("" for nowhere).
  std::string lastNetworkPortFile;
};

// The session's view of the window, for the operation thread: every call is
// carried out on the window thread.
class MainWindow::WorkerView final : public app::SessionView {
 public:
  WorkerView(MainWindow* window, std::shared_ptr<AbandonFlag> abandoned)
      : window_(window),
        abandoned_(abandoned),
        main_([window] { return window->page_ ? &window->page_->Host() : nullptr; }, abandoned),
        advanced_([window]() -> ControlHost* { return window->advanced_ ? &window->advanced_->Host() : nullptr; },
                  abandoned),
        satmod_([window]() -> ControlHost* { return window->satmod_ ? &window->satmod_->Host() : nullptr; },
                abandoned) {
    for (int i = 0; i < AdvancedOptionsWindow::kPageCount; ++i)
      pages_.push_back(std::make_unique<GuiThreadControlHost>(
          [window, i]() -> ControlHost* { return window->advanced_ ? &window->advanced_->PageHost(i) : nullptr; },
          abandoned));
  }

  // Runs `fn` with the window on the window thread, unless abandoned.
  void OnWindow(const std::function<void(MainWindow&)>& fn) {
    if (abandoned_->set) return;
    CallOnGuiThread([&] {
      if (!abandoned_->set) fn(*window_);
    });
  }

  void SetBusy(bool busy) override {
    OnWindow([busy](MainWindow& w) { w.SetBusy(busy); });
  }
  void SetConfigCount(int count) override {
    OnWindow([count](MainWindow& w) { w.SetConfigTabCount(count); });
  }
  void SelectConfigTab(int index) override {
    OnWindow([index](MainWindow& w) { w.SelectConfigTab(index); });
  }
  void AdaptToBoard(const std::string& boardType) override {
    OnWindow([&boardType](MainWindow& w) { w.ApplyVariantToPage(boardType); });
  }
  void ShowSatmodButton(bool visible) override {
    OnWindow([visible](MainWindow& w) {
      if (w.page_) w.page_->Host().Show(ids::kSatmod, visible);
    });
  }
  void RebuildSettingsWindows(const std::string&) override {
    OnWindow([](MainWindow& w) { w.RebuildAdvancedWindow(); });
  }
  void CloseSatmodWindow() override {
    OnWindow([](MainWindow& w) { w.CloseSatmodWithoutModulator(); });
  }
  ControlHost& MainPage() override { return main_; }
  ControlHost* AdvancedWindow() override {
    return IsOpen([](MainWindow& w) { return bool(w.advanced_); }) ? &advanced_ : nullptr;
  }
  ControlHost* SatmodWindow() override {
    return IsOpen([](MainWindow& w) { return bool(w.satmod_); }) ? &satmod_ : nullptr;
  }

  // The pages of the Advanced options window, in tab order; empty when it
  // is not open.
  std::vector<ControlHost*> AdvancedPages() {
    std::vector<ControlHost*> pages;
    if (AdvancedWindow())
      for (auto& p : pages_) pages.push_back(p.get());
    return pages;
  }
  ControlHost& SatmodHost() { return satmod_; }

 private:
  bool IsOpen(const std::function<bool(MainWindow&)>& test) {
    bool open = false;
    OnWindow([&](MainWindow& w) { open = test(w); });
    return open;
  }

  MainWindow* window_;
  std::shared_ptr<AbandonFlag> abandoned_;
  GuiThreadControlHost main_, advanced_, satmod_;
  std::vector<std::unique_ptr<GuiThreadControlHost>> pages_;
};

inline MainWindow::Core::Core(std::shared_ptr<AbandonFlag> flag, std::unique_ptr<GuiThreadPrompter> guiPrompter,
                              std::unique_ptr<WorkerView> workerView, app::UnitConnectionOptions options)
    : abandoned(std::move(flag)),
      prompter(std::move(guiPrompter)),
      view(std::move(workerView)),
      connection(std::move(options), *view, prompter.get()) {}

// The poll thread's and the link's notices, queued for the window thread.
// Never waits; once the window is gone the notices are dropped.
class MainWindow::Notifier final : public app::PollNotifier {
 public:
  explicit Notifier(MainWindow* window) : window_(window) {}
  void Detach() {
    std::lock_guard lock(m_);
    window_ = nullptr;
  }
  void SetLamp(int lamp, int icon) override {
    Post([lamp, icon](MainWindow& w) { w.OnSetLamp(lamp, icon); });
  }
  void ParameterPolled(std::string_view mnemonic) override {
    Post([mnemonic](MainWindow& w) { w.OnParameterPolled(mnemonic); });
  }
  void LinkLost() override {
    Post([](MainWindow& w) { w.OnLinkLost(); });
  }
  void ContactConfirmed() override {
    Post([](MainWindow& w) { w.OnContactConfirmed(); });
  }

 private:
  void Post(std::function<void(MainWindow&)> fn) {
    std::lock_guard lock(m_);
    if (!window_) return;
    QPointer<MainWindow> target(window_);
    PostToGuiThread(window_, [target, fn = std::move(fn)] {
      if (target) fn(*target);
    });
  }

  std::mutex m_;
  MainWindow* window_;
};

}  // namespace vecta::gui
