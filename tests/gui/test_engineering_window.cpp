// The "Engineering options" window on the offscreen platform, over a
// scripted unit on a fake serial line: the page variants per board type,
// the controls with their ids and captions, Enter and Escape, the
// diagnostic console's transcript and messages, the Advanced options
// Apply on each sub-tab, the IQ trim and power calibration pages, and the
// rule that nothing runs while another operation holds the runner.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <atomic>
#include <map>
#include <set>

#include "gui/engineering_window.h"
#include "gui/operation_runner.h"
#include "link/frame.h"
#include "support/fake_link.h"
#include "support/recording_ui.h"

using namespace vecta;
using namespace vecta::test;
using gui::EngineeringWindow;
using Page = gui::EngineeringWindow::Page;
namespace eng = gui::eng;

namespace {

// A unit on the fake line: reads answer from `values` (a missing mnemonic
// gets silence), writes are stored and echoed. Requests are recorded as the
// text between STX and checksum.
struct FakeUnit {
  std::map<std::string, std::string> values;
  std::vector<std::string> requests;

  void Attach(FakeSerialState& line) {
    line.responder = [this](const Bytes& frame) -> std::optional<Bytes> {
      const std::string text(frame.begin() + 1, frame.end() - 2);
      requests.push_back(text);
      const int address = std::atoi(text.substr(0, 4).c_str());
      const std::string m = text.substr(5, 4);
      const auto first = text.find(';');
      const std::string value = text.substr(first + 1, text.find(';', first + 1) - first - 1);
      if (text[4] == 'w') {
        values[m] = value;
        return ReplyFrame(address, '1', value);
      }
      const auto it = values.find(m);
      if (it == values.end()) return std::nullopt;
      return ReplyFrame(address, '1', it->second);
    };
  }
};

QStringList TabTexts(QTabWidget* tabs) {
  QStringList t;
  for (int i = 0; i < tabs->count(); ++i) t << tabs->tabText(i);
  return t;
}

QStringList Labels(QWidget* page) {
  QStringList t;
  for (QLabel* l : page->findChildren<QLabel*>()) t << l->text();
  return t;
}

class EngWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
    unit.Attach(f.line());
    unit.values = {{"gbty", "K240"}, {"ciqi", "3"},     {"ciqq", "252"}, {"ofre", "474"},  {"cflo", "400"},
                   {"cfhi", "500"},  {"cfl1", "420.5"}, {"cpl1", "637"}, {"cpl4", "1274"}, {"cpl2", "2542"}};
  }
  void TearDown() override {
    runner.Wait(5000);
    delete window.data();
  }

  EngineeringWindow* Open(const std::string& board) {
    window = new EngineeringWindow(
        link, board, settings, prompter, [this] { return connected; }, [this] { return address; }, runner,
        QIcon());
    window->show();
    EXPECT_TRUE(runner.Wait(5000));
    return window;
  }
  gui::QtControlHost& H(Page p) { return window->Host(p); }
  template <class W>
  W* Find(Page p, int id) {
    return qobject_cast<W*>(H(p).Find(id));
  }
  void Click(Page p, int id) {
    auto* b = Find<QAbstractButton>(p, id);
    ASSERT_NE(b, nullptr) << id;
    ASSERT_TRUE(b->isEnabled()) << id;  // a click on a disabled button proves nothing
    b->click();
    ASSERT_TRUE(runner.Wait(5000));
  }
  void EnterIn(Page p, int id, const QString& text) {
    auto* e = Find<QLineEdit>(p, id);
    ASSERT_NE(e, nullptr) << id;
    e->setText(text);
    QTest::keyClick(e, Qt::Key_Return);
    ASSERT_TRUE(runner.Wait(5000));
  }

  FakeLink f;
  // The fixture owns the controller; the window shares it.
  std::shared_ptr<link::CRavlenRemoteControl> link{f.link.get(), [](link::CRavlenRemoteControl*) {}};
  FakeUnit unit;
  app::AppSettings settings;
  RecordingPrompter prompter;
  gui::OperationRunner runner;
  bool connected = true;
  int address = 42;
  QPointer<EngineeringWindow> window;
};

TEST_F(EngWindow, K240HasEightPowerPointsAndElevenTrimPoints) {
  Open("K240");
  EXPECT_TRUE(window->EightPointPowerCal());
  EXPECT_TRUE(window->ElevenPointTrim());
  for (int id : {eng::kMinimumFreq, eng::kIntermediateFreq1, eng::kIntermediateFreq2, eng::kMaximumFreq,
                 eng::kMinimumFreqLevel, eng::kIntermediateFreq1Level, eng::kIntermediateFreq2Level,
                 eng::kMaximumFreqLevel, eng::kIntermediateFreq3, eng::kIntermediateFreq4, eng::kIntermediateFreq5,
                 eng::kIntermediateFreq6, eng::kIntermediateFreq3Level, eng::kIntermediateFreq4Level,
                 eng::kIntermediateFreq5Level, eng::kIntermediateFreq6Level})
    EXPECT_TRUE(H(Page::PowerCalibration).HasControl(id)) << id;
  EXPECT_EQ(H(Page::IqTrim).EntryCount(eng::kPointList), 12);
  EXPECT_EQ(H(Page::IqTrim).EntryText(eng::kPointList, 0), "Normal operation");
  EXPECT_EQ(H(Page::IqTrim).EntryText(eng::kPointList, 11), "11");
  EXPECT_EQ(H(Page::IqTrim).Selected(eng::kPointList), -1);
  // No point named until one is chosen: the list asks for one.
  EXPECT_EQ(Find<QComboBox>(Page::IqTrim, eng::kPointList)->placeholderText(), "Choose a point");
  EXPECT_EQ(H(Page::IqTrim).Text(eng::kSelectPoint), "Select point");
  EXPECT_FALSE(H(Page::IqTrim).HasControl(eng::kSinglePoint));
  EXPECT_TRUE(Labels(window->PageWidget(Page::PowerCalibration)).contains("Intermediate freq 6"));

  // Opening read the whole table in list order, then the trims and frequency.
  std::vector<std::string> expected;
  for (const char* m : {"cflo", "cfl1", "cfl2", "cfl3", "cfl4", "cfl5", "cfl6", "cfhi", "cpl1", "cpl2", "cpl3",
                        "cpl5", "cpl6", "cpl7", "cpl8", "cpl4"})
    expected.push_back(std::string("0042r") + m + ";;");
  for (const char* r : {"0042rciqi;;", "0042rciqq;;", "0042rofre;;"}) expected.push_back(r);
  // Missing values meet silence, tried three times once the unit has answered.
  std::vector<std::string> once;
  for (const auto& r : unit.requests)
    if (once.empty() || once.back() != r) once.push_back(r);
  EXPECT_EQ(once, expected);
  EXPECT_EQ(H(Page::PowerCalibration).Text(eng::kMinimumFreq), "400.00");
  EXPECT_EQ(H(Page::PowerCalibration).Text(eng::kIntermediateFreq1), "420.50");
  EXPECT_EQ(H(Page::PowerCalibration).Text(eng::kMinimumFreqLevel), "6.02");
  EXPECT_EQ(H(Page::PowerCalibration).Text(eng::kIntermediateFreq1Level), "-6.00");
  EXPECT_EQ(H(Page::PowerCalibration).Text(eng::kMaximumFreqLevel), "0.00");
  EXPECT_EQ(H(Page::PowerCalibration).Text(eng::kIntermediateFreq3), "");  // its read failed
  EXPECT_EQ(H(Page::IqTrim).Text(eng::kFrequency), "474.00");
  EXPECT_EQ(H(Page::IqTrim).Text(eng::kIEdit), "3");
  EXPECT_EQ(H(Page::IqTrim).Text(eng::kQEdit), "-4");
  EXPECT_EQ(Find<QSlider>(Page::IqTrim, eng::kQSlider)->value(), 124);
  EXPECT_FALSE(H(Page::IqTrim).IsEnabled(eng::kFrequencyApply));
  EXPECT_FALSE(H(Page::IqTrim).IsEnabled(eng::kIApply));
  EXPECT_FALSE(H(Page::IqTrim).IsEnabled(eng::kQApply));
}

TEST_F(EngWindow, K610HasFourPowerPointsAndElevenTrimPoints) {
  Open("K610");
  EXPECT_FALSE(window->EightPointPowerCal());
  EXPECT_TRUE(window->ElevenPointTrim());
  EXPECT_TRUE(H(Page::PowerCalibration).HasControl(eng::kMaximumFreqLevel));
  EXPECT_FALSE(H(Page::PowerCalibration).HasControl(eng::kIntermediateFreq3));
  EXPECT_FALSE(H(Page::PowerCalibration).HasControl(eng::kIntermediateFreq6Level));
  EXPECT_EQ(H(Page::IqTrim).EntryCount(eng::kPointList), 12);
}

TEST_F(EngWindow, OtherBoardsHaveFourPowerPointsAndThreeTrimPoints) {
  for (const char* board : {"K100", ""}) {
    Open(board);
    EXPECT_FALSE(window->EightPointPowerCal()) << board;
    EXPECT_FALSE(window->ElevenPointTrim()) << board;
    EXPECT_FALSE(H(Page::PowerCalibration).HasControl(eng::kIntermediateFreq3));
    EXPECT_FALSE(H(Page::IqTrim).HasControl(eng::kPointList));
    const std::pair<int, const char*> buttons[] = {{eng::kNormalOperation, "Normal Operation"},
                                                   {eng::kSinglePoint, "Single point trim"},
                                                   {eng::kLowerPoint, "3 point trim - lower point"},
                                                   {eng::kMidPoint, "3 point trim - mid point"},
                                                   {eng::kUpperPoint, "3 point trim - upper point"}};
    for (const auto& [id, caption] : buttons) EXPECT_EQ(H(Page::IqTrim).Text(id), caption);
    const QStringList rows = Labels(window->PageWidget(Page::PowerCalibration));
    EXPECT_TRUE(rows.contains("Maximum freq"));
    EXPECT_FALSE(rows.contains("Intermediate freq 3"));
    delete window.data();
  }
}

TEST_F(EngWindow, ControlsAndCaptions) {
  Open("K240");
  EXPECT_EQ(window->windowTitle(), "Engineering options");
  QTabWidget* tabs = window->Tabs();
  EXPECT_EQ(gui::ControlIdOf(tabs), eng::kTabs);
  EXPECT_EQ(TabTexts(tabs), (QStringList{"Diagnostic", "Power calibration", "IQ trim", "Advanced options"}));
  EXPECT_EQ(tabs->currentIndex(), 0);

  EXPECT_NE(Find<QLineEdit>(Page::Diagnostic, eng::kSendAddress), nullptr);
  EXPECT_NE(Find<QLineEdit>(Page::Diagnostic, eng::kCommand), nullptr);
  EXPECT_EQ(H(Page::Diagnostic).Text(eng::kSend), "Send command");
  auto* box = Find<QPlainTextEdit>(Page::Diagnostic, eng::kReplyBox);
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isReadOnly());
  EXPECT_TRUE(Labels(window->PageWidget(Page::Diagnostic)).contains("Send address"));
  EXPECT_TRUE(Labels(window->PageWidget(Page::Diagnostic)).contains("Command and data"));

  const QStringList power = Labels(window->PageWidget(Page::PowerCalibration));
  for (const char* c : {"Freq (MHz)", "Level (dB)", "Minimum freq", "Intermediate freq 1", "Maximum freq"})
    EXPECT_TRUE(power.contains(c)) << c;
  EXPECT_EQ(H(Page::PowerCalibration).Text(eng::kPowerCalApply), "Apply");

  const QStringList iq = Labels(window->PageWidget(Page::IqTrim));
  for (const char* c : {"Frequency (MHz)", "I trim", "Q trim", "Calibration point"})
    EXPECT_TRUE(iq.contains(c)) << c;
  const std::pair<int, const char*> iqButtons[] = {
      {eng::kFrequencyApply, "Apply"}, {eng::kIMinus, "-"}, {eng::kIPlus, "+"},
      {eng::kIApply, "Apply"},         {eng::kQMinus, "-"}, {eng::kQPlus, "+"},
      {eng::kQApply, "Apply"}};
  for (const auto& [id, caption] : iqButtons) EXPECT_EQ(H(Page::IqTrim).Text(id), caption) << id;
  auto* slider = Find<QSlider>(Page::IqTrim, eng::kISlider);
  ASSERT_NE(slider, nullptr);
  EXPECT_EQ(slider->minimum(), 0);
  EXPECT_EQ(slider->maximum(), 255);
  EXPECT_NE(Find<QSlider>(Page::IqTrim, eng::kQSlider), nullptr);

  QTabWidget* sub = window->AdvancedTabs();
  EXPECT_EQ(gui::ControlIdOf(sub), eng::kAdvancedTabs);
  EXPECT_EQ(TabTexts(sub), (QStringList{"General", "Serial control"}));
  EXPECT_EQ(sub->currentIndex(), 0);
  EXPECT_EQ(H(Page::Advanced).Text(eng::kAdvancedApply), "Apply");
  EXPECT_FALSE(H(Page::Advanced).IsEnabled(eng::kAdvancedApply));
  EXPECT_TRUE(Labels(window->PageWidget(Page::General)).contains("Unit address"));
  EXPECT_EQ(H(Page::General).Text(eng::kUnitAddress), "0042");

  auto* rates = Find<QComboBox>(Page::SerialControl, eng::kBaudRate);
  ASSERT_NE(rates, nullptr);
  EXPECT_TRUE(rates->isEditable());
  ASSERT_EQ(rates->count(), 15);
  EXPECT_EQ(rates->itemText(0), "110");
  EXPECT_EQ(rates->itemText(14), "256000");
  EXPECT_EQ(rates->currentIndex(), 6);  // the link's 9600
  const char* timeouts[] = {"500", "1", "2500", "1", "1000"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(H(Page::SerialControl).Text(eng::kFirstTimeout + i), timeouts[i]);
  const QStringList serial = Labels(window->PageWidget(Page::SerialControl));
  for (const char* c :
       {"Baudrate", "Read interval timeout (ms)", "Read total timeout multiplier",
        "Read total timeout constant (ms)", "Write total timeout multiplier", "Write total timeout constant (ms)"})
    EXPECT_TRUE(serial.contains(c)) << c;
  // The time-out edits take digits only, seven of them.
  auto* e = Find<QLineEdit>(Page::SerialControl, eng::kFirstTimeout);
  e->clear();
  QTest::keyClicks(e, "12a345678");
  EXPECT_EQ(e->text(), "1234567");
  // A level edit takes five typed characters, but a longer value the unit
  // reported stays whole and can be shortened.
  auto* level = Find<QLineEdit>(Page::PowerCalibration, eng::kMinimumFreqLevel);
  level->setText("-12.34");
  EXPECT_EQ(level->text(), "-12.34");
  level->setFocus();
  level->end(false);
  QTest::keyClick(level, Qt::Key_Backspace);
  EXPECT_EQ(level->text(), "-12.3");
  QTest::keyClicks(level, "4");
  EXPECT_EQ(level->text(), "-12.3");
  // The trim frequency takes the seven characters its "Apply" sends.
  auto* frequency = Find<QLineEdit>(Page::IqTrim, eng::kFrequency);
  frequency->setReadOnly(false);
  frequency->clear();
  QTest::keyClicks(frequency, "450.12345");
  EXPECT_EQ(frequency->text(), "450.123");
}

TEST_F(EngWindow, EnterWithoutConnectionSaysSoOnTheDiagnosticTabOnly) {
  connected = false;
  Open("K610");
  const std::size_t before = unit.requests.size();
  QTest::keyClick(Find<QLineEdit>(Page::Diagnostic, eng::kCommand), Qt::Key_Return);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].title, "Error");
  EXPECT_EQ(prompter.messages[0].text, "No connection currently");
  EXPECT_EQ(prompter.messages[0].icon, params::MessageIcon::Exclamation);
  EXPECT_EQ(unit.requests.size(), before);

  window->Tabs()->setCurrentIndex(1);
  QTest::keyClick(window, Qt::Key_Return);
  EXPECT_EQ(prompter.messages.size(), 1u);  // elsewhere Enter does nothing
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(window);  // and it never closes the window
  // Power calibration's Apply needs a connection as well.
  Click(Page::PowerCalibration, eng::kPowerCalApply);
  ASSERT_EQ(prompter.messages.size(), 2u);
  EXPECT_EQ(prompter.messages[1].text, "No connection currently");
  EXPECT_EQ(unit.requests.size(), before);
}

TEST_F(EngWindow, DiagnosticAppendsTheTranscriptAndShowsLinkErrors) {
  Open("K610");
  auto* box = Find<QPlainTextEdit>(Page::Diagnostic, eng::kReplyBox);
  Find<QLineEdit>(Page::Diagnostic, eng::kSendAddress)->setText("0042");
  Find<QLineEdit>(Page::Diagnostic, eng::kCommand)->setText("rgbty;;");
  QTest::keyClick(Find<QLineEdit>(Page::Diagnostic, eng::kCommand), Qt::Key_Return);
  ASSERT_TRUE(runner.Wait(5000));
  EXPECT_EQ(unit.requests.back(), "0042rgbty;;");
  EXPECT_TRUE(prompter.messages.empty());
  const Bytes request = IndependentFrame("0042rgbty;;");
  const Bytes reply = ReplyFrame(42, '1', "K240");
  // STX, ETX and the checksums (0x80 and up) show as '.' in the character part.
  const QString first = "Sending: " + QString::fromLatin1(HexDump(request)) +
                        ".0042rgbty;;..\nReply: " + QString::fromLatin1(HexDump(reply)) + "." +
                        QString::fromLatin1(reinterpret_cast<const char*>(reply.data()) + 1, reply.size() - 3) +
                        "..\n";
  EXPECT_EQ(box->toPlainText(), first);

  // A bad checksum: the message, then the rejected reply all the same.
  Bytes bad = ReplyFrame(42, '1', "K240");
  bad[bad.size() - 2] ^= 1;
  f.line().Reply(bad);
  Click(Page::Diagnostic, eng::kSend);
  ASSERT_EQ(prompter.Texts(), std::vector<std::string>{"Bad checksum in response message"});
  EXPECT_EQ(prompter.messages[0].title, "Error");
  EXPECT_EQ(box->toPlainText().count("Sending: "), 2);
  EXPECT_TRUE(box->toPlainText().endsWith(
      QString::fromLatin1(reinterpret_cast<const char*>(bad.data()) + 1, bad.size() - 3) + "..\n"));

  // A silent unit: the message and nothing appended.
  Find<QLineEdit>(Page::Diagnostic, eng::kCommand)->setText("rqqqq;;");
  Click(Page::Diagnostic, eng::kSend);
  EXPECT_EQ(prompter.Texts().back(), "Timed out trying to read a response message");
  EXPECT_EQ(box->toPlainText().count("Sending: "), 2);

  // Too long for a request: said so, and nothing sent.
  const std::size_t sent = unit.requests.size();
  Find<QLineEdit>(Page::Diagnostic, eng::kCommand)->setText(QString(297, 'r'));
  Click(Page::Diagnostic, eng::kSend);
  EXPECT_EQ(prompter.Texts().back(),
            "The command is too long: 297 characters, at most 246 fit in one request. Nothing was sent.");
  EXPECT_EQ(unit.requests.size(), sent);
}

TEST_F(EngWindow, GeneralApplySendsTheAddressAndNotTheTimeouts) {
  Open("K610");
  QSignalSpy spy(window.data(), &EngineeringWindow::UnitAddressChanged);
  const app::AppSettings before = settings;
  const std::size_t requests = unit.requests.size();
  window->Tabs()->setCurrentIndex(3);
  window->AdvancedTabs()->setCurrentIndex(1);
  QTest::keyClicks(Find<QLineEdit>(Page::SerialControl, eng::kFirstTimeout + 1), "5");
  EXPECT_TRUE(H(Page::Advanced).IsEnabled(eng::kAdvancedApply));
  window->AdvancedTabs()->setCurrentIndex(0);
  auto* edit = Find<QLineEdit>(Page::General, eng::kUnitAddress);
  edit->clear();
  QTest::keyClicks(edit, "12x");
  Click(Page::Advanced, eng::kAdvancedApply);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).toInt(), 12);
  EXPECT_FALSE(H(Page::Advanced).IsEnabled(eng::kAdvancedApply));
  EXPECT_EQ(settings, before);
  EXPECT_EQ(f.link->Timeouts().readTotalMultiplier, 1u);
  EXPECT_EQ(unit.requests.size(), requests);  // the main window writes it
}

TEST_F(EngWindow, SerialApplySetsWhatChangedAndStoresTheTimeouts) {
  Open("K610");
  settings.readIntervalTimeoutMs = 77;
  settings.writeTotalTimeoutConstantMs = 78;
  const std::size_t bauds = f.line().baudsSet.size();
  window->Tabs()->setCurrentIndex(3);
  window->AdvancedTabs()->setCurrentIndex(1);
  auto* rates = Find<QComboBox>(Page::SerialControl, eng::kBaudRate);
  rates->setCurrentIndex(12);
  emit rates->activated(12);
  EXPECT_EQ(window->SelectedBaudRate(), 115200u);
  EXPECT_TRUE(H(Page::Advanced).IsEnabled(eng::kAdvancedApply));
  Find<QLineEdit>(Page::SerialControl, eng::kFirstTimeout + 2)->setText("40");
  Click(Page::Advanced, eng::kAdvancedApply);
  EXPECT_EQ(f.link->BaudRate(), 115200u);
  ASSERT_EQ(f.line().baudsSet.size(), bauds + 1);
  EXPECT_EQ(f.line().baudsSet.back(), 115200u);
  EXPECT_EQ(f.link->Timeouts().readTotalConstant, 40u);
  EXPECT_EQ(settings.readIntervalTimeoutMs, 500);
  EXPECT_EQ(settings.readTotalTimeoutConstantMs, 40);
  EXPECT_EQ(settings.writeTotalTimeoutConstantMs, 1000);
  EXPECT_FALSE(H(Page::Advanced).IsEnabled(eng::kAdvancedApply));
  // The same rate chosen again: Apply is enabled, and calls nothing.
  emit rates->activated(12);
  ASSERT_TRUE(H(Page::Advanced).IsEnabled(eng::kAdvancedApply));
  Click(Page::Advanced, eng::kAdvancedApply);
  EXPECT_EQ(f.line().baudsSet.size(), bauds + 1);
}

TEST_F(EngWindow, ATypedBaudRateIsNotApplied) {
  Open("K610");
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.data()));
  const std::size_t bauds = f.line().baudsSet.size();
  window->Tabs()->setCurrentIndex(3);
  window->AdvancedTabs()->setCurrentIndex(1);
  auto* rates = Find<QComboBox>(Page::SerialControl, eng::kBaudRate);
  ASSERT_EQ(window->SelectedBaudRate(), 9600u);
  // Typed, then Enter.
  rates->setFocus();
  rates->lineEdit()->selectAll();
  QTest::keyClicks(rates->lineEdit(), "1200");
  QTest::keyClick(rates->lineEdit(), Qt::Key_Return);
  QCoreApplication::processEvents();
  EXPECT_EQ(window->SelectedBaudRate(), 9600u);
  EXPECT_EQ(rates->currentText(), "9600");
  // Typed, then on to the next field.
  rates->setFocus();
  rates->lineEdit()->selectAll();
  QTest::keyClicks(rates->lineEdit(), "2400");
  Find<QLineEdit>(Page::SerialControl, eng::kFirstTimeout + 2)->setFocus();
  QCoreApplication::processEvents();
  EXPECT_EQ(window->SelectedBaudRate(), 9600u);
  EXPECT_EQ(rates->currentText(), "9600");
  // A time-out change enables Apply; the line speed stays.
  QTest::keyClicks(Find<QLineEdit>(Page::SerialControl, eng::kFirstTimeout + 2), "0");
  Click(Page::Advanced, eng::kAdvancedApply);
  EXPECT_EQ(f.line().baudsSet.size(), bauds);
  EXPECT_EQ(f.link->BaudRate(), 9600u);
  // A choice from the list still counts.
  rates->setCurrentIndex(3);
  emit rates->activated(3);
  EXPECT_EQ(window->SelectedBaudRate(), 1200u);
}

TEST_F(EngWindow, EnterOnAFocusedApplyPressesIt) {
  Open("K610");
  window->Tabs()->setCurrentIndex(3);
  window->AdvancedTabs()->setCurrentIndex(1);
  auto* edit = Find<QLineEdit>(Page::SerialControl, eng::kFirstTimeout + 2);
  edit->setText("40");
  auto* apply = Find<QAbstractButton>(Page::Advanced, eng::kAdvancedApply);
  ASSERT_TRUE(apply->isEnabled());
  apply->setFocus();
  QTest::keyClick(apply, Qt::Key_Return);
  ASSERT_TRUE(runner.Wait(5000));
  EXPECT_EQ(f.link->Timeouts().readTotalConstant, 40u);
  EXPECT_FALSE(apply->isEnabled());
}

TEST_F(EngWindow, TrimRowsAndPoints) {
  Open("K240");
  window->Tabs()->setCurrentIndex(2);
  auto* slider = Find<QSlider>(Page::IqTrim, eng::kISlider);
  EXPECT_EQ(slider->value(), 131);
  EnterIn(Page::IqTrim, eng::kIEdit, "200");
  ASSERT_EQ(prompter.Texts(), std::vector<std::string>{"Value 200 is invalid.\nAllowed range is -128 to 127."});
  EXPECT_EQ(prompter.messages[0].title, "Error");
  EXPECT_EQ(slider->value(), 131);
  EXPECT_FALSE(H(Page::IqTrim).IsEnabled(eng::kIApply));
  EnterIn(Page::IqTrim, eng::kIEdit, "-128");
  EXPECT_EQ(slider->value(), 0);
  EXPECT_EQ(window->ITrim(), -128);
  EXPECT_TRUE(H(Page::IqTrim).IsEnabled(eng::kIApply));
  Click(Page::IqTrim, eng::kIMinus);  // "-" at the end changes nothing
  EXPECT_EQ(window->ITrim(), -128);
  Click(Page::IqTrim, eng::kIPlus);
  EXPECT_EQ(window->ITrim(), -127);
  EXPECT_EQ(H(Page::IqTrim).Text(eng::kIEdit), "-127");
  EXPECT_EQ(slider->value(), 1);
  EnterIn(Page::IqTrim, eng::kIEdit, "-1");
  Click(Page::IqTrim, eng::kIApply);
  EXPECT_EQ(unit.requests.back(), "0042wciqi;255;");
  EXPECT_TRUE(H(Page::IqTrim).IsEnabled(eng::kIApply));  // stays enabled

  // Point 6 of eleven between 400 and 500 MHz.
  auto* points = Find<QComboBox>(Page::IqTrim, eng::kPointList);
  points->setCurrentIndex(6);
  Click(Page::IqTrim, eng::kSelectPoint);
  EXPECT_EQ(H(Page::IqTrim).Text(eng::kFrequency), "450.00");
  EXPECT_TRUE(H(Page::IqTrim).IsReadOnly(eng::kFrequency));
  EXPECT_FALSE(H(Page::IqTrim).IsEnabled(eng::kFrequencyApply));
  EXPECT_NE(std::find(unit.requests.begin(), unit.requests.end(), "0042wofre;450.00;"), unit.requests.end());
  EXPECT_EQ(H(Page::IqTrim).Text(eng::kIEdit), "-1");  // read back from the unit
  // Back to normal operation: editable, and its frequency goes as typed.
  points->setCurrentIndex(0);
  Click(Page::IqTrim, eng::kSelectPoint);
  EXPECT_EQ(unit.requests.at(unit.requests.size() - 2), "0042wcitr;0;");
  EXPECT_FALSE(H(Page::IqTrim).IsReadOnly(eng::kFrequency));
  EXPECT_TRUE(H(Page::IqTrim).IsEnabled(eng::kFrequencyApply));
  Find<QLineEdit>(Page::IqTrim, eng::kFrequency)->setText("477.125");
  Click(Page::IqTrim, eng::kFrequencyApply);
  EXPECT_EQ(unit.requests.back(), "0042wofre;477.125;");
  EXPECT_FALSE(H(Page::IqTrim).IsEnabled(eng::kFrequencyApply));
  // No entry chosen: nothing happens.
  points->setCurrentIndex(-1);
  const std::size_t n = unit.requests.size();
  Click(Page::IqTrim, eng::kSelectPoint);
  EXPECT_EQ(unit.requests.size(), n);
}

TEST_F(EngWindow, PowerCalApplyWritesTheEditsThenReadsBack) {
  Open("K610");
  unit.requests.clear();
  Find<QLineEdit>(Page::PowerCalibration, eng::kMinimumFreqLevel)->setText("-6.00");
  Find<QLineEdit>(Page::PowerCalibration, eng::kMaximumFreqLevel)->setText("");
  Click(Page::PowerCalibration, eng::kPowerCalApply);
  ASSERT_EQ(unit.requests.size(), 16u);
  EXPECT_EQ(unit.requests[0], "0042wcflo;400.00;");
  EXPECT_EQ(unit.requests[4], "0042wcpl1;2542;");
  EXPECT_EQ(unit.requests[7], "0042wcpl4;1274;");
  EXPECT_EQ(unit.requests[8], "0042rcflo;;");
  EXPECT_EQ(unit.requests[15], "0042rcpl4;;");
  EXPECT_EQ(H(Page::PowerCalibration).Text(eng::kMinimumFreqLevel), "-6.00");
  EXPECT_EQ(H(Page::PowerCalibration).Text(eng::kMaximumFreqLevel), "0.00");
  EXPECT_TRUE(H(Page::PowerCalibration).IsEnabled(eng::kPowerCalApply));
}

TEST_F(EngWindow, NothingStartsWhileAnotherOperationRuns) {
  std::atomic<bool> release{false};
  ASSERT_TRUE(runner.Start([&] {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }));
  window = new EngineeringWindow(
      link, "K610", settings, prompter, [this] { return connected; }, [this] { return address; }, runner, QIcon());
  EXPECT_TRUE(unit.requests.empty());  // the opening reads wait
  window->SendDiagnostic();
  window->ApplyPowerCal();
  EXPECT_TRUE(prompter.messages.empty());
  release = true;
  ASSERT_TRUE(runner.Wait(5000));
  // The reads start once the runner is free.
  for (int i = 0; i < 100 && unit.requests.empty(); ++i) {
    QCoreApplication::processEvents();
    runner.Wait(5000);
  }
  ASSERT_FALSE(unit.requests.empty());
  EXPECT_EQ(unit.requests.front(), "0042rcflo;;");
  EXPECT_TRUE(unit.requests.back() == "0042rofre;;");
}

TEST_F(EngWindow, ClosingDeletesTheWindowAndSaysSo) {
  Open("K610");
  QSignalSpy closed(window.data(), &EngineeringWindow::Closed);
  QTest::keyClick(window, Qt::Key_Escape);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(window);
  EXPECT_EQ(closed.count(), 1);
}

}  // namespace
