// The operator's unapplied changes on the settings windows: the captions of
// the controls changed since the last refresh are shown in bold with the
// unit's value as their tooltip, each window counts them ("2 unapplied
// changes"), and before a config switch or a close would drop them the
// operator is asked whether to apply them, discard them or stay. An Apply
// there that leaves changes (the unit is gone) keeps the operator where
// they were: nothing is dropped without their word.
//
// Marks are worked out anew when the operator changes a control and after
// every operation on the unit; never while an operation runs, since it may
// hold a row's lock while it waits for the window thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <string>

#include "gui/settings_windows.h"
#include "params/prompter.h"
#include "params/unit_context.h"

namespace vecta::gui {

class UnappliedChanges : public QObject {
  Q_OBJECT

 public:
  // Which windows hold changes.
  struct Windows {
    bool mainPage = false;
    bool advanced = false;
    bool satmod = false;
    bool Any() const { return mainPage || advanced || satmod; }
  };

  // What the controller needs of the main window.
  struct Hooks {
    std::function<bool()> busy;     // an operation runs
    std::function<bool()> closing;  // the program is closing: nothing is asked
    // Starts the applies of `windows`; `then` runs on the window thread once
    // they are done. False when nothing could be started.
    std::function<bool(Windows windows, std::function<void()> then)> apply;
    // Tells the operator, in the status line, that an Apply left changes.
    std::function<void(const std::string& text)> report;
    params::Prompter* prompter = nullptr;
  };

  UnappliedChanges(params::UnitContext& unit, Hooks hooks, QObject* parent);

  void WatchMainPage(MainSettingsPage* page);
  void WatchAdvanced(AdvancedOptionsWindow* window);
  void WatchSatmod(SatmodWindow* window);

  // Marks every open window anew and returns the changes they hold.
  int UpdateAll();
  // The windows with changes and their number, counted anew.
  Windows Changed(int* count);

  // Before the config tabs move to `index` (0-based): `proceed` runs the
  // switch (at once, or after the applies), `stay` puts the tabs back.
  void BeforeConfigSwitch(int index, const std::function<void()>& proceed, const std::function<void()>& stay);
  // Before the main window closes: true to close now. After an Apply the
  // window is closed again through `closeAgain`, without asking.
  bool AllowMainClose(const std::function<void()>& closeAgain);

 private:
  enum class Choice { Apply, Discard, Stay };
  Choice Ask(int count, const std::string& where, const std::string& before);
  // Whether a question may be asked now: idle, not closing. Without a
  // connection too: the changes are the operator's all the same.
  bool MayAsk() const;
  // What runs when the applies of `windows` are done: `next` when they left
  // none of those windows changed; else `stay`, and the operator is told.
  std::function<void()> IfWritten(Windows windows, std::function<void()> next, std::function<void()> stay = {});
  int UpdateMainPage();
  int UpdateAdvanced();
  int UpdateSatmod();
  // The settings windows' close guards; `closeAgain` closes the window
  // after an Apply.
  bool AllowWindowClose(int count, const std::string& where, Windows windows,
                        const std::function<void()>& closeAgain);
  bool AllowAdvancedClose();
  bool AllowSatmodClose();

  params::UnitContext& unit_;
  Hooks hooks_;
  QPointer<MainSettingsPage> page_;
  QPointer<AdvancedOptionsWindow> advanced_;
  QPointer<SatmodWindow> satmod_;
  // Set once the operator chose to apply before a close: the close that
  // follows the applies asks nothing more.
  bool mainCloseApproved_ = false;
  bool advancedCloseApproved_ = false;
  bool satmodCloseApproved_ = false;
};

// The question before unapplied changes would be dropped: "There are 2
// unapplied changes. Apply them before loading config 3?"; `where` names
// the window ("" for every window): "There is 1 unapplied change in the
// Advanced options window. Apply it before closing the window?"
std::string UnappliedQuestion(int count, const std::string& where, const std::string& before);

}  // namespace vecta::gui
