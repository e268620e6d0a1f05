// The review window before a load: its texts, tables and keys, and, with a
// simulated unit behind the main window, a review that lists exactly the
// settings that differ, "Cancel" that sends nothing after the review's
// reads, and "Load" that sends what a load without review sends.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include "gui/config_review_window.h"
#include "gui/main_window.h"
#include "modal_driver.h"
#include "params/config_file.h"
#include "params/control_ids.h"
#include "support_app.h"

namespace vecta::test {
namespace {

params::ConfigReview TwoConfigSet() {
  params::ConfigReview review;
  review.file = "/tmp/event.cfg";
  review.set = true;
  review.unitBoard = "K240";
  review.fileBoard = "K610";
  review.otherBoard = true;
  params::ConfigurationReview one;
  one.number = 1;
  one.differing = {{"owid", "Modulation bandwidth", "6MHz", "8MHz"}, {"gnam", "Unit name", "A", "B"}};
  one.equal = 30;
  one.notOnBoard = 2;
  params::ConfigurationReview two;
  two.number = 2;
  two.equal = 32;
  params::ConfigurationReview three;
  three.number = 3;
  three.read = false;
  review.configs = {one, two, three};
  return review;
}

std::vector<std::string> Rows(QTableWidget* t) {
  std::vector<std::string> rows;
  for (int r = 0; r < t->rowCount(); ++r)
    rows.push_back(t->item(r, 0)->text().toStdString() + "|" + t->item(r, 1)->text().toStdString() + "|" +
                   t->item(r, 2)->text().toStdString());
  return rows;
}

TEST(ConfigReviewWindow, ShowsEveryConfigWithItsCountsAndTheBoard) {
  gui::ConfigReviewWindow w(TwoConfigSet());
  w.show();
  EXPECT_EQ(w.windowTitle(), "Review configuration before loading");
  EXPECT_TRUE(w.isModal());
  ASSERT_TRUE(w.BoardLabel()->isVisible());
  EXPECT_EQ(w.BoardLabel()->text(), "This file is from a K610; the unit is a K240.");
  EXPECT_EQ(w.CountsLabel()->text(), "2 differing, 62 equal, 2 not on this board, 1 config not read");
  ASSERT_NE(w.ConfigTabs(), nullptr);
  ASSERT_EQ(w.ConfigTabs()->count(), 3);
  EXPECT_EQ(w.ConfigTabs()->tabText(0), "Config 1 *");
  EXPECT_EQ(w.ConfigTabs()->tabText(1), "Config 2");
  EXPECT_EQ(w.ConfigTabs()->tabText(2), "Config 3 (?)");
  ASSERT_EQ(w.Tables().size(), 3u);
  QTableWidget* t = w.Tables()[0];
  EXPECT_EQ(t->horizontalHeaderItem(0)->text(), "Setting");
  EXPECT_EQ(t->horizontalHeaderItem(1)->text(), "Unit's value");
  EXPECT_EQ(t->horizontalHeaderItem(2)->text(), "File's value");
  EXPECT_EQ(Rows(t), (std::vector<std::string>{"Modulation bandwidth|6MHz|8MHz", "Unit name|A|B"}));
  EXPECT_EQ(t->item(0, 0)->toolTip(), "owid");
  EXPECT_EQ(w.Tables()[1]->rowCount(), 0);
  // Each tab names its own counts.
  const QList<QLabel*> labels = w.ConfigTabs()->widget(2)->findChildren<QLabel*>();
  ASSERT_EQ(labels.size(), 1);
  EXPECT_EQ(labels[0]->text(), "not read: the unit did not switch to this config");
  EXPECT_EQ(w.LoadButton()->text(), "Load");
  EXPECT_EQ(w.CancelButton()->text(), "Cancel");
}

TEST(ConfigReviewWindow, SingleFileHasNoTabsAndNoBoardLine) {
  params::ConfigReview review;
  review.file = "a.cfg";
  review.configs.resize(1);
  review.configs[0].equal = 41;
  gui::ConfigReviewWindow w(review);
  w.show();
  EXPECT_EQ(w.ConfigTabs(), nullptr);
  EXPECT_FALSE(w.BoardLabel()->isVisible());
  EXPECT_EQ(w.CountsLabel()->text(), "0 differing, 41 equal, 0 not on this board");
  ASSERT_EQ(w.Tables().size(), 1u);
  EXPECT_EQ(w.Tables()[0]->rowCount(), 0);
}

TEST(ConfigReviewWindow, EnterLoadsOnlyFromTheLoadButtonAndEscapeCancels) {
  {
    gui::ConfigReviewWindow w(TwoConfigSet());
    w.show();
    QApplication::setActiveWindow(&w);
    w.Tables()[0]->setFocus();
    QTest::keyClick(w.Tables()[0], Qt::Key_Return);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.result(), QDialog::Rejected);
  }
  {
    gui::ConfigReviewWindow w(TwoConfigSet());
    w.show();
    QApplication::setActiveWindow(&w);
    w.LoadButton()->setFocus();
    QTest::keyClick(w.LoadButton(), Qt::Key_Return);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.result(), QDialog::Accepted);
  }
  {
    gui::ConfigReviewWindow w(TwoConfigSet());
    w.show();
    QApplication::setActiveWindow(&w);
    w.LoadButton()->setFocus();
    QTest::keyClick(w.LoadButton(), Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.result(), QDialog::Rejected);
  }
}

// The requests from position `from` on.
std::vector<std::string> From(SimProcess& sim, std::size_t from) {
  const auto all = Requests(sim);
  return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())),
                                  all.end());
}

// The review's reads: one per setting of the file, glod left out.
std::vector<std::string> ReviewReads(const std::string& path) {
  bool tooLarge = false;
  const auto parsed = params::ParseConfigFile(*params::ReadFileBounded(path, 1 << 20, tooLarge));
  std::vector<std::string> reads;
  for (const auto& r : parsed.data.images.at(0).records) {
    const std::string read = "0001r" + r.mnemonic + ";;";
    if (r.mnemonic != "glod" && std::find(reads.begin(), reads.end(), read) == reads.end()) reads.push_back(read);
  }
  return reads;
}

TEST(ConfigReviewWithUnit, ListsTheDifferencesThenCancelSendsNothingAndLoadSendsThePlainLoad) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup().Board("K240"));
  ASSERT_TRUE(sim);
  gui::MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.Settle());
  const std::string path = rig.dir.File("event.cfg");
  ASSERT_TRUE(params::SaveConfigFile(w.Unit(), path, 1));
  auto changeUnit = [&] {
    ASSERT_EQ(rig.Exchange("0001wgnam;Changed;"), 0u);
    ASSERT_EQ(rig.Exchange("0001wowid;0;"), 0u);  // 6MHz: no mode change
  };
  changeUnit();
  const std::vector<std::string> reads = ReviewReads(path);

  // Cancel.
  std::size_t before = Requests(*sim).size();
  std::vector<std::string> shown;
  QString counts;
  rig.prompter.reviewWith = [&](const params::ConfigReview& review) {
    bool load = false;
    ModalDriver driver([&](QWidget* modal) {
      auto* window = qobject_cast<gui::ConfigReviewWindow*>(modal);
      ASSERT_NE(window, nullptr);
      shown = Rows(window->Tables().at(0));
      counts = window->CountsLabel()->text();
      QTest::mouseClick(window->CancelButton(), Qt::LeftButton);
    });
    load = gui::ShowConfigReview(&w, review);
    EXPECT_TRUE(driver.Ran());
    return load;
  };
  rig.prompter.files = {path};
  w.findChild<QPushButton*>(QStringLiteral("control%1").arg(params::ids::kLoadConfigFile))->click();
  ASSERT_TRUE(rig.Settle());
  AwaitQuiet(*sim);
  EXPECT_EQ(shown, (std::vector<std::string>{"Modulation bandwidth|6MHz|8MHz", "Unit name|Changed|Config 1"}));
  EXPECT_TRUE(counts.startsWith("2 differing, ")) << counts.toStdString();
  EXPECT_TRUE(counts.endsWith(" equal, 0 not on this board")) << counts.toStdString();
  EXPECT_EQ(From(*sim, before), reads);

  // Load.
  rig.prompter.reviewWith = [&](const params::ConfigReview& review) {
    ModalDriver driver([&](QWidget* modal) {
      QTest::mouseClick(qobject_cast<gui::ConfigReviewWindow*>(modal)->LoadButton(), Qt::LeftButton);
    });
    return gui::ShowConfigReview(&w, review);
  };
  before = Requests(*sim).size();
  rig.prompter.files = {path};
  w.findChild<QPushButton*>(QStringLiteral("control%1").arg(params::ids::kLoadConfigFile))->click();
  ASSERT_TRUE(rig.Settle());
  AwaitQuiet(*sim);
  const std::vector<std::string> reviewed = From(*sim, before);
  ASSERT_GT(reviewed.size(), reads.size());
  EXPECT_EQ(
      std::vector<std::string>(reviewed.begin(), reviewed.begin() + static_cast<std::ptrdiff_t>(reads.size())),
      reads);
  EXPECT_EQ(w.Unit().tables->main.Find("gnam")->Text(), "Config 1");

  // The same load without review, from the same unit state.
  changeUnit();
  before = Requests(*sim).size();
  ASSERT_TRUE(params::LoadConfigFile(w.Unit(), path, [&] { w.Session().FullRefresh(); }));
  AwaitQuiet(*sim);
  EXPECT_EQ(std::vector<std::string>(reviewed.begin() + static_cast<std::ptrdiff_t>(reads.size()), reviewed.end()),
            From(*sim, before));
}

TEST(ConfigReviewWithUnit, SetIsReadWithTheSwitchingOfTheLoadOrTakenFromTheLastSave) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup().Board("K610"));
  ASSERT_TRUE(sim);
  gui::MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.Settle());
  const std::string path = rig.dir.File("set.cfg");
  rig.prompter.files = {path};
  w.SaveSetButton()->click();
  ASSERT_TRUE(rig.Settle());
  ASSERT_EQ(rig.prompter.Texts(), std::vector<std::string>{"Config set saved"});
  ASSERT_EQ(rig.Exchange("0001wglod;2;"), 0u);
  ASSERT_EQ(rig.Exchange("0001wgnam;Second;"), 0u);
  ASSERT_EQ(rig.Exchange("0001wglod;1;"), 0u);
  AwaitQuiet(*sim);

  // Read from the unit: the question answered No.
  std::size_t before = Requests(*sim).size();
  std::vector<std::vector<std::string>> shown;
  std::vector<QString> tabs;
  rig.prompter.messages.clear();
  rig.prompter.answers = {params::Answer::No};
  rig.prompter.reviewWith = [&](const params::ConfigReview& review) {
    ModalDriver driver([&](QWidget* modal) {
      auto* window = qobject_cast<gui::ConfigReviewWindow*>(modal);
      ASSERT_NE(window, nullptr);
      ASSERT_NE(window->ConfigTabs(), nullptr);
      for (int i = 0; i < window->ConfigTabs()->count(); ++i) tabs.push_back(window->ConfigTabs()->tabText(i));
      for (QTableWidget* t : window->Tables()) shown.push_back(Rows(t));
      QTest::mouseClick(window->CancelButton(), Qt::LeftButton);
    });
    return gui::ShowConfigReview(&w, review);
  };
  rig.prompter.files = {path};
  w.LoadSetButton()->click();
  ASSERT_TRUE(rig.Settle());
  AwaitQuiet(*sim);
  ASSERT_EQ(rig.prompter.messages.size(), 1u);
  EXPECT_EQ(rig.prompter.messages[0].text,
            "Compare the file with the config set saved last instead of reading every config from the unit?");
  ASSERT_EQ(tabs.size(), 16u);
  EXPECT_EQ(tabs[0], "Config 1");
  EXPECT_EQ(tabs[1], "Config 2 *");
  ASSERT_EQ(shown.size(), 16u);
  EXPECT_EQ(shown[1], std::vector<std::string>{"Unit name|Second|Config 2"});
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (i != 1) {
      EXPECT_TRUE(shown[i].empty()) << "config " << i + 1;
    }
  }
  // Nothing was written but the switching of the set load.
  std::vector<std::string> writes;
  for (const std::string& r : From(*sim, before))
    if (r.size() > 4 && r[4] == 'w') writes.push_back(r);
  std::vector<std::string> switching = {"0001wgirb;1;"};
  for (int i = 1; i <= 16; ++i) switching.push_back("0001wglod;" + std::to_string(i) + ";");
  switching.push_back("0001wglod;1;");
  switching.push_back("0001wgirb;0;");
  EXPECT_EQ(writes, switching);

  // The last save: nothing is read, and Cancel sends nothing.
  before = Requests(*sim).size();
  rig.prompter.answers = {params::Answer::Yes};
  rig.prompter.reviewWith = {};
  rig.prompter.reviewAnswers = {false};
  rig.prompter.files = {path};
  w.LoadSetButton()->click();
  ASSERT_TRUE(rig.Settle());
  AwaitQuiet(*sim);
  EXPECT_TRUE(From(*sim, before).empty());
  ASSERT_FALSE(rig.prompter.reviews.empty());
  EXPECT_EQ(rig.prompter.reviews.back().basis, params::ReviewBasis::LastSave);
  EXPECT_TRUE(rig.prompter.reviews.back().Same());
}

}  // namespace
}  // namespace vecta::test
