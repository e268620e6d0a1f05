#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTabWidget>
#include <QTest>
#include <QVBoxLayout>
#include <memory>
#include <vector>

#include "gui/ip_address_edit.h"
#include "gui/qt_control_host.h"
#include "params/memory_host.h"

using vecta::gui::IpAddressEdit;
using vecta::gui::QtControlHost;
using vecta::gui::SetControlId;
using vecta::params::ControlHost;
using vecta::params::MemoryHost;

namespace {

constexpr int kEdit = 1001, kLabel = 1002, kPlain = 1003, kCombo = 1004, kCheck = 1005, kAddress = 1006,
              kPage2Edit = 1007, kRadio = 1008, kPage2Combo = 1009, kMissing = 4242;

// A window like a settings page: an edit, a caption, a multi-line edit, a
// drop-down list, a check box, an address control and a tab widget whose
// second (not current) page holds more controls.
struct Window {
  std::unique_ptr<QWidget> root = std::make_unique<QWidget>();
  QLineEdit* edit = new QLineEdit(root.get());
  QLabel* label = new QLabel(root.get());
  QPlainTextEdit* plain = new QPlainTextEdit(root.get());
  QComboBox* combo = new QComboBox(root.get());
  QCheckBox* check = new QCheckBox(QStringLiteral("Enabled"), root.get());
  QRadioButton* radio = new QRadioButton(root.get());
  IpAddressEdit* address = new IpAddressEdit(root.get());
  QTabWidget* tabs = new QTabWidget(root.get());
  QWidget* page1 = new QWidget;
  QWidget* page2 = new QWidget;
  QLineEdit* page2Edit = new QLineEdit(page2);
  QComboBox* page2Combo = new QComboBox(page2);

  Window() {
    auto* layout = new QVBoxLayout(root.get());
    for (QWidget* w : std::initializer_list<QWidget*>{edit, label, plain, combo, check, radio, address, tabs})
      layout->addWidget(w);
    auto* l2 = new QVBoxLayout(page2);
    l2->addWidget(page2Edit);
    l2->addWidget(page2Combo);
    tabs->addTab(page1, QStringLiteral("Main"));
    tabs->addTab(page2, QStringLiteral("More"));
    SetControlId(edit, kEdit);
    SetControlId(label, kLabel);
    SetControlId(plain, kPlain);
    SetControlId(combo, kCombo);
    SetControlId(check, kCheck);
    SetControlId(radio, kRadio);
    SetControlId(address, kAddress);
    SetControlId(page2Edit, kPage2Edit);
    SetControlId(page2Combo, kPage2Combo);
  }
};

std::vector<std::string> Entries(const ControlHost& host, int id) {
  std::vector<std::string> out;
  for (int i = 0; i < host.EntryCount(id); ++i) out.push_back(host.EntryText(id, i));
  return out;
}

// What a list looks like after each step of a scenario that exercises every
// list operation; run on both hosts, the traces must be equal.
struct ListState {
  std::vector<std::string> entries;
  int selected;
  bool operator==(const ListState&) const = default;
};

std::vector<ListState> RunListScenario(ControlHost& host, int id) {
  std::vector<ListState> trace;
  auto snap = [&] { trace.push_back({Entries(host, id), host.Selected(id)}); };
  host.ClearList(id);
  snap();
  host.InsertEntry(id, 0, "Off");  // into an empty list: still no selection
  snap();
  host.InsertEntry(id, 1, "On");
  host.InsertEntry(id, 99, "Auto");  // past the end: appended
  snap();
  host.Select(id, 1);
  snap();
  host.InsertEntry(id, 0, "First");  // before the selection: it moves down
  snap();
  host.InsertEntry(id, 3, "Between");  // after the selection: it stays
  snap();
  host.InsertEntry(id, -5, "Negative");  // before the start: at 0
  snap();
  host.DeleteEntry(id, 0);  // before the selection: it moves up
  snap();
  host.DeleteEntry(id, 5);  // after the selection
  snap();
  host.DeleteEntry(id, 17);  // a position the list does not have
  host.DeleteEntry(id, -1);
  snap();
  host.DeleteEntry(id, host.Selected(id));  // the selected entry: none selected
  snap();
  host.Select(id, 2);
  snap();
  host.Select(id, -1);
  snap();
  host.Select(id, 0);
  host.Select(id, 3);  // one past the end: none
  snap();
  host.Select(id, 0);
  host.ClearList(id);
  snap();
  return trace;
}

}  // namespace

TEST(QtControlHost, FindsControlsOnEveryPageAndOnlyThose) {
  Window w;
  QtControlHost host(w.root.get());
  for (int id : {kEdit, kLabel, kPlain, kCombo, kCheck, kAddress, kPage2Edit, kRadio, kPage2Combo})
    EXPECT_TRUE(host.HasControl(id)) << id;
  EXPECT_FALSE(host.HasControl(kMissing));
  EXPECT_EQ(host.Find(kPage2Edit), w.page2Edit);
  EXPECT_EQ(host.Find(kAddress), w.address);
  EXPECT_EQ(host.Find(kMissing), nullptr);
  EXPECT_EQ(vecta::gui::ControlIdOf(w.edit), kEdit);
  EXPECT_EQ(vecta::gui::ControlIdOf(w.page1), -1);
}

TEST(QtControlHost, RootItselfCanBeAControl) {
  QWidget root;
  SetControlId(&root, 77);
  QtControlHost host(&root);
  EXPECT_EQ(host.Find(77), &root);
}

TEST(QtControlHost, TextOnEditsLabelsAndMultiLineEdits) {
  Window w;
  QtControlHost host(w.root.get());
  host.SetText(kEdit, "1234.5");
  host.SetText(kLabel, "Board K240");
  host.SetText(kPlain, "line 1\nline 2");
  host.SetText(kPage2Edit,
               "25 \xC2\xB0"
               "C");  // UTF-8 survives the round trip
  EXPECT_EQ(w.edit->text(), QStringLiteral("1234.5"));
  EXPECT_EQ(w.label->text(), QStringLiteral("Board K240"));
  EXPECT_EQ(w.plain->toPlainText(), QStringLiteral("line 1\nline 2"));
  EXPECT_EQ(w.page2Edit->text(), QString::fromUtf8("25 \xC2\xB0"
                                                   "C"));
  EXPECT_EQ(host.Text(kEdit), "1234.5");
  EXPECT_EQ(host.Text(kLabel), "Board K240");
  EXPECT_EQ(host.Text(kPlain), "line 1\nline 2");
  EXPECT_EQ(host.Text(kPage2Edit),
            "25 \xC2\xB0"
            "C");
  // What the operator typed is what Text reads.
  w.edit->setText(QStringLiteral("99"));
  EXPECT_EQ(host.Text(kEdit), "99");
  host.SetText(kEdit, "");
  EXPECT_EQ(host.Text(kEdit), "");
  // A check box's caption.
  host.SetText(kCheck, "Audio on");
  EXPECT_EQ(w.check->text(), QStringLiteral("Audio on"));
  // A drop-down list's text is its selected entry.
  w.combo->addItems({QStringLiteral("Off"), QStringLiteral("On")});
  w.combo->setCurrentIndex(1);
  EXPECT_EQ(host.Text(kCombo), "On");
}

TEST(QtControlHost, ReadOnlyIsNotDisabled) {
  Window w;
  QtControlHost host(w.root.get());
  host.SetReadOnly(kEdit, true);
  EXPECT_TRUE(w.edit->isReadOnly());
  EXPECT_TRUE(w.edit->isEnabled());
  EXPECT_TRUE(host.IsEnabled(kEdit));
  EXPECT_TRUE(host.IsReadOnly(kEdit));
  host.SetReadOnly(kEdit, false);
  EXPECT_FALSE(w.edit->isReadOnly());

  host.Enable(kEdit, false);
  EXPECT_FALSE(w.edit->isEnabled());
  EXPECT_FALSE(host.IsEnabled(kEdit));
  EXPECT_FALSE(w.edit->isReadOnly());
  EXPECT_FALSE(host.IsReadOnly(kEdit));
  host.Enable(kEdit, true);
  EXPECT_TRUE(w.edit->isEnabled());
  EXPECT_TRUE(host.IsEnabled(kEdit));

  host.SetReadOnly(kPlain, true);
  EXPECT_TRUE(w.plain->isReadOnly());
  host.SetReadOnly(kAddress, true);
  EXPECT_TRUE(w.address->IsReadOnly());
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(w.address->Field(i)->isReadOnly()) << i;
  EXPECT_TRUE(w.address->isEnabled());
  // Widgets without a read-only state are left as they are.
  host.SetReadOnly(kCombo, true);
  EXPECT_TRUE(w.combo->isEnabled());
  EXPECT_FALSE(host.IsReadOnly(kCombo));
}

TEST(QtControlHost, EnableWorksOnEveryKindOfControl) {
  Window w;
  QtControlHost host(w.root.get());
  for (int id : {kLabel, kCombo, kCheck, kAddress, kRadio}) {
    host.Enable(id, false);
    EXPECT_FALSE(host.Find(id)->isEnabled()) << id;
    EXPECT_FALSE(host.IsEnabled(id)) << id;
    host.Enable(id, true);
    EXPECT_TRUE(host.Find(id)->isEnabled()) << id;
    EXPECT_TRUE(host.IsEnabled(id)) << id;
  }
}

TEST(QtControlHost, IsEnabledIsTheControlsOwnState) {
  Window w;
  QtControlHost host(w.root.get());
  w.page2->setEnabled(false);
  EXPECT_FALSE(w.page2Edit->isEnabled());  // Qt: disabled with its page
  EXPECT_TRUE(host.IsEnabled(kPage2Edit));
  host.Enable(kPage2Edit, false);
  w.page2->setEnabled(true);
  EXPECT_FALSE(host.IsEnabled(kPage2Edit));
  EXPECT_FALSE(w.page2Edit->isEnabled());
}

TEST(QtControlHost, ShowAndHideBeforeAndAfterTheWindowIsShown) {
  Window w;
  QtControlHost host(w.root.get());
  ASSERT_FALSE(w.root->isVisible());
  EXPECT_TRUE(host.IsVisible(kEdit));
  EXPECT_TRUE(host.IsVisible(kPage2Edit));
  host.Show(kEdit, false);
  EXPECT_FALSE(host.IsVisible(kEdit));
  EXPECT_TRUE(w.edit->isHidden());
  host.Show(kCheck, false);
  host.Show(kCheck, true);
  EXPECT_TRUE(host.IsVisible(kCheck));

  w.root->show();
  EXPECT_FALSE(w.edit->isVisible());
  EXPECT_TRUE(w.check->isVisible());
  EXPECT_FALSE(host.IsVisible(kEdit));
  EXPECT_TRUE(host.IsVisible(kCheck));
  // A control on a page that is not current is not hidden itself.
  EXPECT_FALSE(w.page2Edit->isVisible());
  EXPECT_TRUE(host.IsVisible(kPage2Edit));
  host.Show(kPage2Edit, false);
  EXPECT_FALSE(host.IsVisible(kPage2Edit));
  w.tabs->setCurrentIndex(1);
  EXPECT_FALSE(w.page2Edit->isVisible());
  EXPECT_TRUE(w.page2Combo->isVisible());
  host.Show(kEdit, true);
  EXPECT_TRUE(w.edit->isVisible());
  EXPECT_TRUE(host.IsVisible(kEdit));
  host.Show(kLabel, false);
  EXPECT_FALSE(w.label->isVisible());
  EXPECT_FALSE(host.IsVisible(kLabel));
}

TEST(QtControlHost, ListOperationsOnAComboBox) {
  Window w;
  QtControlHost host(w.root.get());
  host.InsertEntry(kCombo, 0, "QPSK");
  EXPECT_EQ(w.combo->count(), 1);
  EXPECT_EQ(w.combo->currentIndex(), -1);  // a QComboBox alone would select it
  host.InsertEntry(kCombo, 1, "16QAM");
  host.InsertEntry(kCombo, 2, "64QAM");
  host.Select(kCombo, 2);
  EXPECT_EQ(w.combo->currentIndex(), 2);
  EXPECT_EQ(w.combo->currentText(), QStringLiteral("64QAM"));
  host.InsertEntry(kCombo, 0, "BPSK");
  EXPECT_EQ(w.combo->currentIndex(), 3);
  EXPECT_EQ(host.Selected(kCombo), 3);
  EXPECT_EQ(host.EntryText(kCombo, 0), "BPSK");
  EXPECT_EQ(host.EntryText(kCombo, 3), "64QAM");
  EXPECT_EQ(host.EntryText(kCombo, 4), "");
  EXPECT_EQ(host.EntryText(kCombo, -1), "");
  host.DeleteEntry(kCombo, 3);  // the selected one
  EXPECT_EQ(w.combo->count(), 3);
  EXPECT_EQ(w.combo->currentIndex(), -1);
  EXPECT_EQ(host.Selected(kCombo), -1);
  host.Select(kCombo, 1);
  host.DeleteEntry(kCombo, 0);
  EXPECT_EQ(host.Selected(kCombo), 0);
  EXPECT_EQ(w.combo->currentText(), QStringLiteral("QPSK"));
  host.Select(kCombo, -1);
  EXPECT_EQ(w.combo->currentIndex(), -1);
  host.Select(kCombo, 7);
  EXPECT_EQ(w.combo->currentIndex(), -1);
  host.Select(kCombo, 1);
  host.ClearList(kCombo);
  EXPECT_EQ(w.combo->count(), 0);
  EXPECT_EQ(host.EntryCount(kCombo), 0);
  EXPECT_EQ(host.Selected(kCombo), -1);
}

TEST(QtControlHost, ListScenarioMatchesTheMemoryHost) {
  Window w;
  QtControlHost qt(w.root.get());
  MemoryHost memory;
  memory.Add(kCombo);
  const auto expected = RunListScenario(memory, kCombo);
  const auto actual = RunListScenario(qt, kCombo);
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i].entries, expected[i].entries) << "step " << i;
    EXPECT_EQ(actual[i].selected, expected[i].selected) << "step " << i;
  }
  // The scenario does reach states with a selection and with several entries.
  EXPECT_EQ(expected[3].selected, 1);
  EXPECT_EQ(expected[6].entries.size(), 6u);
}

TEST(QtControlHost, ChecksOnCheckBoxesAndRadioButtons) {
  Window w;
  QtControlHost host(w.root.get());
  host.SetChecked(kCheck, true);
  EXPECT_TRUE(w.check->isChecked());
  EXPECT_TRUE(host.Checked(kCheck));
  w.check->setChecked(false);
  EXPECT_FALSE(host.Checked(kCheck));
  host.SetChecked(kRadio, true);
  EXPECT_TRUE(w.radio->isChecked());
  EXPECT_TRUE(host.Checked(kRadio));
  EXPECT_FALSE(host.Checked(kEdit));
}

TEST(QtControlHost, AddressControl) {
  Window w;
  QtControlHost host(w.root.get());
  EXPECT_FALSE(w.address->IsComplete());
  host.SetAddress(kAddress, 0xC0A80A01u);
  EXPECT_EQ(w.address->Field(0)->text(), QStringLiteral("192"));
  EXPECT_EQ(w.address->Field(1)->text(), QStringLiteral("168"));
  EXPECT_EQ(w.address->Field(2)->text(), QStringLiteral("10"));
  EXPECT_EQ(w.address->Field(3)->text(), QStringLiteral("1"));
  EXPECT_EQ(host.Address(kAddress), 0xC0A80A01u);
  EXPECT_EQ(host.Text(kAddress), "192.168.10.1");
  EXPECT_TRUE(w.address->IsComplete());
  host.SetAddress(kAddress, 0xFFFFFFFFu);
  EXPECT_EQ(host.Text(kAddress), "255.255.255.255");
  host.SetAddress(kAddress, 0);
  EXPECT_EQ(host.Text(kAddress), "0.0.0.0");
  EXPECT_TRUE(w.address->IsComplete());
  // The operator's fields.
  w.address->Field(0)->setText(QStringLiteral("10"));
  w.address->Field(3)->setText(QStringLiteral("7"));
  EXPECT_EQ(host.Address(kAddress), 0x0A000007u);
  w.address->Field(2)->clear();
  EXPECT_FALSE(w.address->IsComplete());
  EXPECT_EQ(host.Text(kAddress), "10.0..7");
  EXPECT_EQ(host.Address(kAddress), 0x0A000007u);
  host.SetText(kAddress, "172.16.0.254");
  EXPECT_EQ(host.Address(kAddress), 0xAC1000FEu);
  host.SetText(kAddress, "300.1.1.1");
  EXPECT_EQ(host.Text(kAddress), "...");
  EXPECT_FALSE(w.address->IsComplete());
  w.address->Clear();
  EXPECT_EQ(w.address->Address(), 0u);
  // Other controls have no address.
  host.SetAddress(kEdit, 0x01020304u);
  EXPECT_EQ(host.Text(kEdit), "");
  EXPECT_EQ(host.Address(kEdit), 0u);
}

TEST(IpAddressEdit, FieldsTakeOnlyZeroTo255) {
  IpAddressEdit edit;
  const QValidator* v = edit.Field(0)->validator();
  ASSERT_NE(v, nullptr);
  auto state = [&](const char* s) {
    QString text = QString::fromLatin1(s);
    int pos = 0;
    return v->validate(text, pos);
  };
  EXPECT_EQ(state("0"), QValidator::Acceptable);
  EXPECT_EQ(state("255"), QValidator::Acceptable);
  EXPECT_EQ(state("199"), QValidator::Acceptable);
  EXPECT_EQ(state("256"), QValidator::Invalid);
  EXPECT_EQ(state("1000"), QValidator::Invalid);
  EXPECT_EQ(state("01"), QValidator::Invalid);
  EXPECT_EQ(state("-1"), QValidator::Invalid);
  EXPECT_EQ(state("a"), QValidator::Invalid);
  EXPECT_EQ(edit.Field(4), nullptr);
}

// Keys go where the operator's would: to whichever field has the focus.
class IpTyping : public ::testing::Test {
 protected:
  void SetUp() override {
    edit.show();
    edit.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&edit));
  }
  void Type(const QString& keys) {
    for (QChar c : keys) QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
  }
  void Press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(QApplication::focusWidget(), key, mods);
  }
  // Focus the first field with its text selected, as a click and select would.
  void Retype(const char* shown) {
    edit.SetText(QString::fromLatin1(shown));
    edit.Field(0)->setFocus();
    edit.Field(0)->selectAll();
  }
  IpAddressEdit edit;
};

TEST_F(IpTyping, RetypingOverAnAddressGivesWhatWasTyped) {
  Retype("10.1.2.3");
  Type("127.30.0.2");
  EXPECT_EQ(edit.Text(), "127.30.0.2");
  Retype("192.168.100.200");
  Type("127.0.0.1");
  EXPECT_EQ(edit.Text(), "127.0.0.1");
  // Three digits in every field, with and without the dots typed.
  Retype("1.2.3.4");
  Type("192.168.100.200");
  EXPECT_EQ(edit.Text(), "192.168.100.200");
  Retype("1.2.3.4");
  Type("192168100200");
  EXPECT_EQ(edit.Text(), "192.168.100.200");
  // A dot right after a moved-on field still moves on the next time.
  Retype("0.0.0.0");
  Type("255..7");
  EXPECT_EQ(edit.Text(), "255.0.7.0");
}

TEST_F(IpTyping, BackspaceCrossesTheDot) {
  Retype("");
  Type("127.3");
  Press(Qt::Key_Backspace);  // "127."
  Press(Qt::Key_Backspace);  // "127"
  Press(Qt::Key_Backspace);  // "12"
  Type("7.5");
  EXPECT_EQ(edit.Text(), "127.5..");
  // After three digits focus moved on with no dot typed: Backspace takes a digit.
  Retype("");
  Type("192");
  Press(Qt::Key_Backspace);
  Type("8.1");
  EXPECT_EQ(edit.Text(), "198.1..");
}

TEST_F(IpTyping, PastingAnAddressFillsTheFields) {
  Retype("10.1.2.3");
  QGuiApplication::clipboard()->setText(QStringLiteral("172.30.0.2"));
  QSignalSpy edited(&edit, &IpAddressEdit::addressEdited);
  Press(Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(edit.Text(), "172.30.0.2");
  EXPECT_EQ(edited.count(), 1);
  // From the third field on, the last two.
  edit.Field(2)->setFocus();
  QGuiApplication::clipboard()->setText(QStringLiteral("9.8"));
  Press(Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(edit.Text(), "172.30.9.8");
  // What does not fit changes nothing.
  edit.Field(2)->setFocus();
  QGuiApplication::clipboard()->setText(QStringLiteral("1.256"));
  Press(Qt::Key_V, Qt::ControlModifier);
  QGuiApplication::clipboard()->setText(QStringLiteral("1.2.3"));
  Press(Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(edit.Text(), "172.30.9.8");
  // A whole address fills all four fields, whichever has the focus.
  for (int field = 1; field < 4; ++field) {
    edit.Field(field)->setFocus();
    const QString address = QStringLiteral("10.0.%1.4").arg(field);
    QGuiApplication::clipboard()->setText(address);
    Press(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit.Text(), address);
  }
}

TEST_F(IpTyping, EnterInAnyFieldIsReported) {
  QSignalSpy pressed(&edit, &IpAddressEdit::returnPressed);
  edit.Field(0)->setFocus();
  Press(Qt::Key_Return);
  edit.Field(3)->setFocus();
  Press(Qt::Key_Enter);
  EXPECT_EQ(pressed.count(), 2);
}

TEST(QtControlHost, MissingIdsDoNothingAndReadEmpty) {
  Window w;
  w.edit->setText(QStringLiteral("keep"));
  w.combo->addItems({QStringLiteral("a"), QStringLiteral("b")});
  w.combo->setCurrentIndex(1);
  w.check->setChecked(true);
  QtControlHost host(w.root.get());
  host.SetText(kMissing, "x");
  host.SetReadOnly(kMissing, true);
  host.Enable(kMissing, false);
  host.Show(kMissing, false);
  host.ClearList(kMissing);
  host.InsertEntry(kMissing, 0, "x");
  host.DeleteEntry(kMissing, 0);
  host.Select(kMissing, 0);
  host.SetChecked(kMissing, false);
  host.SetAddress(kMissing, 1);
  EXPECT_EQ(host.Text(kMissing), "");
  EXPECT_FALSE(host.IsEnabled(kMissing));
  EXPECT_FALSE(host.IsVisible(kMissing));
  EXPECT_FALSE(host.IsReadOnly(kMissing));
  EXPECT_EQ(host.EntryCount(kMissing), 0);
  EXPECT_EQ(host.EntryText(kMissing, 0), "");
  EXPECT_EQ(host.Selected(kMissing), -1);
  EXPECT_FALSE(host.Checked(kMissing));
  EXPECT_EQ(host.Address(kMissing), 0u);
  // Nothing else changed.
  EXPECT_EQ(w.edit->text(), QStringLiteral("keep"));
  EXPECT_FALSE(w.edit->isReadOnly());
  EXPECT_TRUE(w.root->isEnabled());
  EXPECT_FALSE(w.root->isHidden() && w.root->testAttribute(Qt::WA_WState_ExplicitShowHide));
  EXPECT_EQ(w.combo->count(), 2);
  EXPECT_EQ(w.combo->currentIndex(), 1);
  EXPECT_TRUE(w.check->isChecked());
  // List operations on a control that is not a list do nothing either.
  host.InsertEntry(kEdit, 0, "x");
  EXPECT_EQ(host.EntryCount(kEdit), 0);
  EXPECT_EQ(host.Selected(kEdit), -1);
  EXPECT_EQ(w.edit->text(), QStringLiteral("keep"));
}

TEST(QtControlHost, GoneRootIsAnEmptyWindow) {
  auto root = std::make_unique<QWidget>();
  SetControlId(new QLineEdit(root.get()), kEdit);
  QtControlHost host(root.get());
  EXPECT_TRUE(host.HasControl(kEdit));
  root.reset();
  EXPECT_FALSE(host.HasControl(kEdit));
  host.SetText(kEdit, "x");
  EXPECT_EQ(host.Text(kEdit), "");
}

TEST(QtControlHost, SharedPidListModel) {
  Window w;
  QStringListModel pids(w.root.get());
  QStringList entries;
  for (int i = 0; i < 8191; ++i) entries << QString::number(i);
  pids.setStringList(entries);
  vecta::gui::UseSharedModel(w.combo, &pids);
  vecta::gui::UseSharedModel(w.page2Combo, &pids);
  for (QComboBox* c : {w.combo, w.page2Combo}) {
    EXPECT_EQ(c->model(), &pids);
    EXPECT_EQ(c->sizeAdjustPolicy(), QComboBox::AdjustToMinimumContentsLengthWithIcon);
    EXPECT_GT(c->minimumContentsLength(), 0);
    auto* view = qobject_cast<QListView*>(c->view());
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->uniformItemSizes());
    EXPECT_EQ(c->currentIndex(), -1);
    EXPECT_TRUE(vecta::gui::UsesSharedModel(c));
  }
  QtControlHost host(w.root.get());
  EXPECT_EQ(host.EntryCount(kCombo), 8191);
  EXPECT_EQ(host.EntryText(kPage2Combo, 8190), "8190");

  // Page initialisation inserts the entries the list already holds.
  for (int i = 0; i < 8191; ++i) host.InsertEntry(kCombo, i, std::to_string(i));
  EXPECT_EQ(pids.rowCount(), 8191);
  EXPECT_EQ(host.EntryCount(kCombo), 8191);
  EXPECT_TRUE(vecta::gui::UsesSharedModel(w.combo));

  // Each combo box keeps its own selection.
  host.Select(kCombo, 256);
  host.Select(kPage2Combo, 8190);
  EXPECT_EQ(host.Selected(kCombo), 256);
  EXPECT_EQ(host.Selected(kPage2Combo), 8190);
  EXPECT_EQ(host.Text(kCombo), "256");

  // Another entry: only this combo box changes.
  host.InsertEntry(kCombo, 0, "None");
  EXPECT_FALSE(vecta::gui::UsesSharedModel(w.combo));
  EXPECT_EQ(host.EntryCount(kCombo), 8192);
  EXPECT_EQ(host.EntryText(kCombo, 0), "None");
  EXPECT_EQ(host.Selected(kCombo), 257);
  EXPECT_EQ(host.Text(kCombo), "256");
  EXPECT_EQ(pids.rowCount(), 8191);
  EXPECT_EQ(pids.stringList().front(), QStringLiteral("0"));
  EXPECT_EQ(host.EntryCount(kPage2Combo), 8191);
  EXPECT_EQ(host.Selected(kPage2Combo), 8190);
  EXPECT_TRUE(vecta::gui::UsesSharedModel(w.page2Combo));

  // Deleting and clearing leave the shared entries alone too.
  auto third = std::make_unique<QComboBox>(w.root.get());
  SetControlId(third.get(), 2000);
  vecta::gui::UseSharedModel(third.get(), &pids);
  host.Select(2000, 10);
  host.DeleteEntry(2000, 5);
  EXPECT_EQ(host.EntryCount(2000), 8190);
  EXPECT_EQ(host.Selected(2000), 9);
  EXPECT_EQ(host.EntryText(2000, 5), "6");
  EXPECT_EQ(pids.rowCount(), 8191);
  host.ClearList(kPage2Combo);
  EXPECT_EQ(host.EntryCount(kPage2Combo), 0);
  EXPECT_EQ(host.Selected(kPage2Combo), -1);
  EXPECT_EQ(pids.rowCount(), 8191);
  EXPECT_EQ(host.EntryCount(kCombo), 8192);
}
