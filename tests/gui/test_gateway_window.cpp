// The main window connects over Ethernet to a vecta-gateway that owns a
// simulated unit on a pseudo-terminal, and reads every row as vectactl
// reads it straight from the same unit.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <map>

#include <nlohmann/json.hpp>

#include "params/convert.h"
#include "params/unit_context.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support_app.h"

namespace vecta::test {
namespace {

// "table mnemonic control" -> what is shown, for every row of the board.
using Rows = std::map<std::string, std::string>;

Rows WindowRows(params::UnitContext& unit) {
  Rows rows;
  auto list = [&](params::ParamTable& table, const std::string& name) {
    for (const params::ParamRow& row : table.Rows())
      if (params::RowExists(row.Desc(), unit.variant()))
        rows[name + " " + row.Desc().mnemonic + " " + std::to_string(row.Desc().control)] =
            row.Get() ? params::ShownValue(row) : "(not read)";
  };
  list(unit.tables->main, "main");
  return rows;
}

Rows DumpRows(const std::string& json) {
  Rows rows;
  const nlohmann::json dump = nlohmann::json::parse(json);
  for (const auto& row : dump.at("rows"))
    rows[row.at("table").get<std::string>() + " " + row.at("mnemonic").get<std::string>() + " " +
         std::to_string(row.at("control").get<int>())] =
        row.at("read").get<bool>() ? row.at("shown").get<std::string>() : "(not read)";
  return rows;
}

TEST(MainWindowThroughGateway, ConnectsOverEthernetAndReadsEveryRowAsTheUnitHoldsIt) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup().NotAPort().Tcp("127.0.0.1:0"));
  ASSERT_TRUE(sim);
  const std::string address = LoopbackOfThisRun(40);  // the window dials port 9999
  ChildProcess gateway;
  ASSERT_NE(StartGateway(gateway, VECTA_GATEWAY_PATH,
                         {"--unit", "serial:" + sim->PtyPath(), "--listen", address + ":9999", "--log",
                          rig.dir.File("gateway.log")}),
            0);
  gui::MainWindow& w = rig.StartWindow();
  rig.prompter.messages.clear();

  w.EthernetButton()->click();
  w.AddressEdit()->SetText(QString::fromStdString(address));
  QTest::mouseClick(w.ConnectButton(), Qt::LeftButton);
  ASSERT_TRUE(rig.Settle());
  ExpectConnected(w);
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
  EXPECT_NE(ReadFile(rig.dir.File("gateway.log")).find("0001rgbty;;"), std::string::npos)
      << "not through the gateway";

  ChildProcess direct;
  ASSERT_TRUE(direct.Start(VECTACTL_PATH, {"--tcp", "127.0.0.1:" + std::to_string(sim->TcpPort()), "--log",
                                           rig.dir.File("ctl.log"), "dump", "--json"}));
  ASSERT_EQ(direct.Wait(30000), 0) << direct.Err();
  Rows expected = DumpRows(direct.Out());
  std::erase_if(expected, [](const auto& row) { return row.first.rfind("main ", 0) != 0; });
  ASSERT_GT(expected.size(), 50u) << direct.Out();
  EXPECT_EQ(WindowRows(w.Unit()), expected);
}

}  // namespace
}  // namespace vecta::test
