// Gamepads on Windows, through a stand-in for XInput.
#include <gtest/gtest.h>

#include "platform/windows/XInputPads.h"

namespace quillon {
namespace {

TEST(XInputPads, EachButtonGivesItsKeyOncePerPressOnAnyPadPluggedInOrOut) {
  std::uint16_t held[4] = {};
  bool plugged[4] = {true, false, true, false};
  int asked[4] = {};
  XInputPads pads([&](int slot, std::uint16_t& buttons) {
    ++asked[slot];
    buttons = held[slot];
    return plugged[slot];
  });
  std::vector<std::int16_t> codes;
  std::uint32_t now = 0x7FFFFF00;  // the clock's reading turns negative on the way
  const auto frame = [&] {  // a title frame's worth of time
    codes.clear();
    pads.Poll(static_cast<std::int32_t>(now += 20), codes);
    return codes;
  };
  EXPECT_TRUE(frame().empty());
  held[0] = 0x1000;  // A
  EXPECT_EQ(frame(), std::vector<std::int16_t>{13});
  EXPECT_TRUE(frame().empty());  // held down: one press, one key
  held[0] = 0;
  frame();
  held[0] = 0x2000;  // B
  EXPECT_EQ(frame(), std::vector<std::int16_t>{32});
  held[0] = 0x2000 | 0x4000;  // and X while B is held
  EXPECT_EQ(frame(), std::vector<std::int16_t>{32});
  held[0] = 0x0010;  // Start plays the daily run
  EXPECT_EQ(frame(), std::vector<std::int16_t>{68});
  held[0] = 0x8000 | 0x0010;  // Y watches the best run, Start still held
  EXPECT_EQ(frame(), std::vector<std::int16_t>{87});
  held[0] = 0;
  frame();
  held[0] = 0x1000 | 0x2000;  // A and B in one look: each its own key
  EXPECT_EQ(frame(), (std::vector<std::int16_t>{13, 32}));
  held[2] = 0x1000;  // the second pad at once
  EXPECT_EQ(frame(), std::vector<std::int16_t>{13});
  // An empty slot is asked only now and then; a pad plugged in there is heard within a second.
  const int before = asked[1];
  for (int i = 0; i < 40; ++i) frame();
  EXPECT_LE(asked[1] - before, 1);
  plugged[1] = true;
  held[1] = 0x1000;
  bool heard = false;
  for (int i = 0; i < 51 && !heard; ++i) heard = !frame().empty();
  EXPECT_TRUE(heard);
  // Unplugged with A held and plugged in again: a new press.
  plugged[2] = false;
  frame();
  plugged[2] = true;
  heard = false;
  for (int i = 0; i < 60 && !heard; ++i) heard = frame() == std::vector<std::int16_t>{13};
  EXPECT_TRUE(heard);
}

TEST(XInputPads, NoXInputMeansNoPadAndNoError) {
  XInputPads pads([](int, std::uint16_t&) { return false; });
  std::vector<std::int16_t> codes;
  for (int i = 0; i < 100; ++i) pads.Poll(i * 20, codes);
  EXPECT_TRUE(codes.empty());
  // The system's own, whatever this machine has.
  XInputPads system(XInputPads::System());
  system.Poll(0, codes);
  EXPECT_TRUE(codes.empty());
}

}  // namespace
}  // namespace quillon
