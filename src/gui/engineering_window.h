// The "Engineering options" window: a top-level window with the tabs
// "Diagnostic" (raw requests and their bytes), "Power calibration" (four or
// eight points), "IQ trim" (three-point or eleven-point page) and "Advanced
// options" (the unit address and the serial line settings). The page
// variants follow the board type the window was opened with.
//
// Every exchange with the unit runs as one operation of the OperationRunner
// (app/engineering.h does the talking), so a silent unit never freezes the
// window; a press while another operation runs is ignored. The window
// deletes itself when closed and says so with Closed().
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/engineering.h"
#include "app/engineering_ids.h"
#include "app/settings.h"
#include "gui/qt_control_host.h"
#include "link/remote_control.h"
#include "params/prompter.h"

class QComboBox;
class QGridLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QTabWidget;

namespace vecta::gui {

class OperationRunner;

// Control ids of the window and its pages (Qt-free, shared with the core).
namespace eng = app::eng;

class EngineeringWindow : public QWidget {
  Q_OBJECT

 public:
  enum class Page { Diagnostic, PowerCalibration, IqTrim, Advanced, General, SerialControl };

  EngineeringWindow(std::shared_ptr<link::CRavlenRemoteControl> link, std::string boardType,
                    app::AppSettings& settings, params::Prompter& prompter, std::function<bool()> connected,
                    std::function<int()> unitAddress, OperationRunner& runner, const QIcon& icon);
  ~EngineeringWindow() override;

  QTabWidget* Tabs() const { return tabs_; }
  QTabWidget* AdvancedTabs() const { return advancedTabs_; }
  QWidget* PageWidget(Page page) const;
  QtControlHost& Host(Page page) const;
  // The variants chosen from the board type.
  bool EightPointPowerCal() const { return eightPoint_; }
  bool ElevenPointTrim() const { return elevenPoint_; }
  // The trims the IQ trim page holds now.
  int ITrim() const { return trim_[0]; }
  int QTrim() const { return trim_[1]; }
  // The baud rate the Serial control page would apply.
  std::uint32_t SelectedBaudRate() const { return selectedBaud_; }

  // Runs on the operation thread after a step that wrote parameters of the
  // settings pages (the output frequency), so the pages read them back.
  void SetReadBack(std::function<void(const std::vector<std::string>&)> readBack) {
    readBack_ = std::move(readBack);
  }

  // What the buttons and keys do, for callers without a mouse.
  void SendDiagnostic();
  void ApplyPowerCal();
  void ApplyAdvanced();

 signals:
  // The window is going away: its owner forgets it.
  void Closed();
  // The General page's Apply: the main window writes and adopts it.
  void UnitAddressChanged(int address);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QWidget* BuildDiagnostic();
  QWidget* BuildPowerCal();
  QWidget* BuildIqTrim();
  QWidget* BuildAdvanced();
  QWidget* BuildGeneral();
  QWidget* BuildSerialControl();
  void AddTrimRow(QWidget* page, QGridLayout* grid, int row, int which);

  // Starts `work` on the operation thread and `done` on this thread after
  // it (not when the window is gone by then). False while another runs.
  bool Run(std::function<void()> work, std::function<void()> done = {});
  void RunOpeningReads();
  void ShowPowerCal(const std::vector<std::optional<std::string>>& texts);
  void ShowIqView(const app::IqTrimView& view);
  void RunIqStep(std::function<app::IqTrimView(link::CRavlenRemoteControl&, int)> step);
  void SetTrim(int which, int trim);  // slider and edit follow; Apply enabled
  void TrimEntered(int which);
  void ApplyTrim(int which);
  void ApplyFrequency();
  void SelectPoint();

  std::shared_ptr<link::CRavlenRemoteControl> link_;
  std::string boardType_;
  app::AppSettings& settings_;
  params::Prompter& prompter_;
  std::function<bool()> connected_;
  std::function<int()> unitAddress_;
  std::function<void(const std::vector<std::string>&)> readBack_;
  OperationRunner& runner_;
  bool eightPoint_ = false;
  bool elevenPoint_ = false;
  bool openingReadsPending_ = false;

  QTabWidget* tabs_ = nullptr;
  QTabWidget* advancedTabs_ = nullptr;
  std::array<QWidget*, 6> pages_{};
  std::array<std::unique_ptr<QtControlHost>, 6> hosts_;

  // Diagnostic
  QLineEdit* sendAddress_ = nullptr;
  QLineEdit* command_ = nullptr;
  QPlainTextEdit* replyBox_ = nullptr;
  // Power calibration: the edits in list order
  std::vector<QLineEdit*> powerCalEdits_;
  QPushButton* powerCalApply_ = nullptr;
  // IQ trim: index 0 is I, 1 is Q
  int trim_[2] = {0, 0};
  QSlider* trimSlider_[2] = {};
  QLineEdit* trimEdit_[2] = {};
  QPushButton* trimApply_[2] = {};
  QLineEdit* frequency_ = nullptr;
  QPushButton* frequencyApply_ = nullptr;
  QComboBox* pointList_ = nullptr;
  // Advanced options
  QPushButton* advancedApply_ = nullptr;
  QLineEdit* unitAddressEdit_ = nullptr;
  QComboBox* baudList_ = nullptr;
  std::array<QLineEdit*, app::kTimeoutCount> timeoutEdits_{};
  std::uint32_t selectedBaud_ = 9600;
};

}  // namespace vecta::gui
