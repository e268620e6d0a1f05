// Whether a window's control differs from the value its row last held, kind
// by kind: what apply writes and what the pages mark as changed.
#include <gtest/gtest.h>

#include <vector>

#include "params/control_changes.h"
#include "params/memory_host.h"

using namespace vecta::params;

namespace {

const OptionList kChoices = {"Off", "On", "Auto"};
const RowDescriptor kRows[] = {
    {"ttxt", 1, true, Kind::Text, 0, nullptr},          {"tlst", 2, true, Kind::List, 0, &kChoices},
    {"tchk", 3, true, Kind::Check, 0, nullptr},         {"tadr", 4, true, Kind::Address, 0, nullptr},
    {"tsta", 5, false, Kind::StatusList, 0, &kChoices},
};

struct Window {
  Window() {
    for (int list : {2, 5})
      for (int i = 0; i < static_cast<int>(kChoices.size()); ++i) host.InsertEntry(list, i, kChoices[i]);
  }
  ParamTable table{kRows};
  MemoryHost host = MemoryHost::ForTable(kRows);
  ParamRow& Row(int id) { return *table.FindControl(id); }
};

// What the unit never sent is nothing to change, whatever the control holds.
TEST(ControlDiffers, RowsNeverReadNeverDiffer) {
  Window w;
  w.host.SetText(1, "Studio");
  w.host.Select(2, 1);
  w.host.SetChecked(3, true);
  w.host.SetAddress(4, 0x0A000001);
  for (int id : {1, 2, 3, 4, 5}) {
    EXPECT_FALSE(ControlDiffers(w.Row(id), w.host)) << id;
    EXPECT_FALSE(ShownValueDiffers(w.Row(id), w.host)) << id;
  }
}

TEST(ControlDiffers, TextComparesTheWholeText) {
  Window w;
  w.Row(1).Set(std::string("4.5"));
  w.host.SetText(1, "4.5");
  EXPECT_FALSE(ControlDiffers(w.Row(1), w.host));
  w.host.SetText(1, "4.50");  // the same number, another text
  EXPECT_TRUE(ControlDiffers(w.Row(1), w.host));
  w.host.SetText(1, "");
  EXPECT_TRUE(ControlDiffers(w.Row(1), w.host));
}

TEST(ControlDiffers, ListComparesTheSelectedPosition) {
  Window w;
  w.Row(2).Set(std::int32_t{1});
  w.host.Select(2, 1);
  EXPECT_FALSE(ControlDiffers(w.Row(2), w.host));
  w.host.Select(2, 2);
  EXPECT_TRUE(ControlDiffers(w.Row(2), w.host));
  w.host.Select(2, -1);  // nothing selected
  EXPECT_TRUE(ControlDiffers(w.Row(2), w.host));
}

TEST(ControlDiffers, CheckComparesTheTick) {
  Window w;
  w.Row(3).Set(std::uint8_t{1});
  w.host.SetChecked(3, true);
  EXPECT_FALSE(ControlDiffers(w.Row(3), w.host));
  w.host.SetChecked(3, false);
  EXPECT_TRUE(ControlDiffers(w.Row(3), w.host));
  w.Row(3).Set(std::uint8_t{0});
  EXPECT_FALSE(ControlDiffers(w.Row(3), w.host));
}

TEST(ControlDiffers, AddressComparesAllFourOctets) {
  Window w;
  w.Row(4).Set(std::uint32_t{0xC0A80102});
  w.host.SetAddress(4, 0xC0A80102);
  EXPECT_FALSE(ControlDiffers(w.Row(4), w.host));
  w.host.SetAddress(4, 0xC0A80103);
  EXPECT_TRUE(ControlDiffers(w.Row(4), w.host));
  w.host.SetAddress(4, 0x00A80102);
  EXPECT_TRUE(ControlDiffers(w.Row(4), w.host));
}

TEST(ControlDiffers, StatusListNeverDiffers) {
  Window w;
  w.Row(5).Set(std::int32_t{0});
  w.host.Select(5, 2);
  EXPECT_FALSE(ControlDiffers(w.Row(5), w.host));
}

TEST(ControlDiffers, ValueOfAnotherFormDiffers) {
  // A list row holding a text (never the case after a refresh) is not
  // taken for any position.
  Window w;
  w.Row(2).Set(std::string("1"));
  w.host.Select(2, 1);
  EXPECT_TRUE(ControlDiffers(w.Row(2), w.host));
}

TEST(ControlDiffers, WindowWithoutTheControlDoesNotDiffer) {
  Window w;
  const std::vector<int> ids = {2, 3};
  MemoryHost other(ids);
  w.Row(1).Set(std::string("a"));
  w.Row(2).Set(std::int32_t{1});
  EXPECT_FALSE(ControlDiffers(w.Row(1), other));
  EXPECT_TRUE(ControlDiffers(w.Row(2), other));
}

}  // namespace
