#include "sim/cardsim_script.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace ruzazuv::sim {
namespace {

using Trigger = ScriptStep::Trigger;
using Action = ScriptStep::Action;

TEST(CardSimScript, ParsesTriggersAndActions) {
  const auto steps = parseScript(
      " on-apdu:0020#2+1000,remove; then:2000 ,insert;after:50,swap:second-card.json;"
      "on-apdu:00E2,load:t0-only.json;then:0,quit;after:0,delay:1000;at-apdu:00E2#3,remove");
  ASSERT_EQ(steps.size(), 7u);
  EXPECT_EQ(steps[0].trigger, Trigger::kOnApdu);
  EXPECT_EQ(steps[0].prefix, (std::vector<std::uint8_t>{0x00, 0x20}));
  EXPECT_EQ(steps[0].occurrence, 2);
  EXPECT_EQ(steps[0].delay.count(), 1000);
  EXPECT_EQ(steps[0].action, Action::kRemove);
  EXPECT_EQ(steps[1].trigger, Trigger::kThen);
  EXPECT_EQ(steps[1].delay.count(), 2000);
  EXPECT_EQ(steps[1].action, Action::kInsert);
  EXPECT_EQ(steps[2].trigger, Trigger::kAfter);
  EXPECT_EQ(steps[2].action, Action::kSwap);
  EXPECT_EQ(steps[2].argument, "second-card.json");
  EXPECT_EQ(steps[3].occurrence, 1);
  EXPECT_EQ(steps[3].delay.count(), 0);
  EXPECT_EQ(steps[3].action, Action::kLoad);
  EXPECT_EQ(steps[4].action, Action::kQuit);
  EXPECT_EQ(steps[5].action, Action::kDelay);
  EXPECT_EQ(steps[5].answerDelay.count(), 1000);
  EXPECT_EQ(steps[6].trigger, Trigger::kAtApdu);
  EXPECT_EQ(steps[6].prefix, (std::vector<std::uint8_t>{0x00, 0xE2}));
  EXPECT_EQ(steps[6].occurrence, 3);
}

TEST(CardSimScript, RefusesMalformedSteps) {
  for (auto text :
       {"remove", "after:x,remove", "after:-5,remove", "on-apdu:0G,remove", "on-apdu:0020#0,remove",
        "after:5,explode", "after:5,swap:", "then:5,remove", "soon:5,remove",
        "after:5,delay:", "after:5,delay:-1", "after:5,delay:600001", "at-apdu:00E2+10,remove"}) {
    EXPECT_THROW(parseScript(text), std::invalid_argument) << text;
  }
  EXPECT_TRUE(parseScript("").empty());
}

}  // namespace
}  // namespace ruzazuv::sim
