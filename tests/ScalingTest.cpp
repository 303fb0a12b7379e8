// The one rule every platform shows the picture by.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/Scaling.h"

namespace quillon {
namespace {

TEST(Scaling, TheLargestWholeScaleThatFitsCentredWithBlackAround) {
  struct Case { int w, h, scale, x, y; };
  for (const Case& c : {Case{425, 300, 1, 0, 0}, Case{850, 600, 2, 0, 0}, Case{1000, 700, 2, 75, 50},
                        Case{1400, 999, 3, 62, 49}, Case{2560, 1440, 4, 430, 120}, Case{1920, 1080, 3, 322, 90},
                        Case{849, 1000, 1, 212, 350}, Case{400, 280, 1, -12, -10}}) {
    const Placement p = PlaceIn(c.w, c.h, 425, 300);
    EXPECT_EQ(p.scale, c.scale) << c.w << "x" << c.h;
    EXPECT_EQ(p.x, c.x) << c.w << "x" << c.h;
    EXPECT_EQ(p.y, c.y) << c.w << "x" << c.h;
  }
}

TEST(Scaling, TheDesktopsScaleAndThePlayersChoice) {
  EXPECT_EQ(DesktopScale(96), 1);
  EXPECT_EQ(DesktopScale(120), 1);   // 125 %
  EXPECT_EQ(DesktopScale(144), 2);   // 150 % rounds up
  EXPECT_EQ(DesktopScale(192), 2);
  EXPECT_EQ(DesktopScale(288), 3);
  EXPECT_EQ(DesktopScale(0), 1);     // nothing known
  EXPECT_EQ(DesktopScale(-96), 1);
  std::string error;
  EXPECT_EQ(StartScale(nullptr, 2, 4, &error), 2);
  EXPECT_EQ(StartScale(nullptr, 3, 2, &error), 2);  // lowered until it fits
  // A window fits when its frame and picture take exactly the area, not a pixel more.
  EXPECT_EQ(LargestWindowScale(1290, 940, 15, 40, 425, 300), 3);
  EXPECT_EQ(LargestWindowScale(1289, 940, 15, 40, 425, 300), 2);
  EXPECT_EQ(LargestWindowScale(1290, 939, 15, 40, 425, 300), 2);
  EXPECT_EQ(LargestWindowScale(400, 200, 15, 40, 425, 300), 1);  // never less than 1
  // A second monitor's work area, right of the first or left of and above it, fits as much.
  EXPECT_EQ(LargestWindowScaleIn(1920, 100, 3210, 1040, 15, 40, 425, 300), 3);
  EXPECT_EQ(LargestWindowScaleIn(-1290, -940, 0, 0, 15, 40, 425, 300), 3);
  EXPECT_EQ(StartScale("1", 2, 4, &error), 1);
  EXPECT_EQ(StartScale("7", 2, 4, &error), std::nullopt);
  EXPECT_EQ(error, "--scale takes a whole number from 1 to 4 on this screen, not \"7\"");
  EXPECT_EQ(ParseScale("3", 4), 3);
  EXPECT_EQ(ParseScale("4", 4), 4);
  EXPECT_EQ(ParseScale("12", 12), 12);
  EXPECT_EQ(ParseScale("9", 12), 9);
  EXPECT_EQ(ParseScale("000002", 4), 2);
  for (const char* bad : {"", "0", "13", "-1", "+2", "2.0", " 2", "two", "1/", "0:", "99999", "4294967298"}) {
    EXPECT_EQ(ParseScale(bad, 12), std::nullopt) << bad;
  }
}

// A picture of w x h pixels numbered 1, 2, 3, ... in `bytes`-byte pixels.
std::vector<std::uint8_t> Numbered(int w, int h, int bytes) {
  std::vector<std::uint8_t> picture(static_cast<std::size_t>(w * h * bytes));
  for (int i = 0; i < w * h; ++i) picture[static_cast<std::size_t>(i * bytes)] = static_cast<std::uint8_t>(i + 1);
  return picture;
}

TEST(Scaling, EachPixelBecomesABlockAndWhatFallsOutsideIsLeftOut) {
  for (int bytes : {4, 3}) {
    const int w = 4, h = 3;
    const auto picture = Numbered(w, h, bytes);
    // At 3 in a 16 x 11 screen, from (2, 1): every screen pixel is its picture pixel or untouched (0xEE).
    const int sw = 16, sh = 11, pitch = sw * bytes + 4;
    std::vector<std::uint8_t> screen(static_cast<std::size_t>(pitch * sh), 0xEE);
    const Placement p{3, 2, 1};
    ScaleRows(picture.data(), w, 0, h - 1, bytes, screen.data(), pitch, sw, sh, p);
    for (int y = 0; y < sh; ++y)
      for (int x = 0; x < sw; ++x) {
        const int px = (x - 2) / 3, py = (y - 1) / 3;
        const bool inside = x >= 2 && y >= 1 && px < w && py < h;
        const int want = inside ? py * w + px + 1 : 0xEE;
        EXPECT_EQ(screen[static_cast<std::size_t>(y * pitch + x * bytes)], want) << bytes << " " << x << "," << y;
      }
    // Only the rows asked for are drawn.
    std::fill(screen.begin(), screen.end(), 0xEE);
    ScaleRows(picture.data(), w, 1, 1, bytes, screen.data(), pitch, sw, sh, p);
    EXPECT_EQ(screen[static_cast<std::size_t>(1 * pitch + 2 * bytes)], 0xEE);
    EXPECT_EQ(screen[static_cast<std::size_t>(4 * pitch + 2 * bytes)], 5);
    EXPECT_EQ(screen[static_cast<std::size_t>(7 * pitch + 2 * bytes)], 0xEE);
    // A screen smaller than the picture keeps the middle of it, cut on every side.
    std::vector<std::uint8_t> small(static_cast<std::size_t>(2 * 2 * bytes), 0xEE);
    ScaleRows(picture.data(), w, 0, h - 1, bytes, small.data(), 2 * bytes, 2, 2, Placement{1, -1, -1});
    EXPECT_EQ(small[0], 6);
    EXPECT_EQ(small[static_cast<std::size_t>(bytes)], 7);
    EXPECT_EQ(small[static_cast<std::size_t>(2 * bytes)], 10);
    // A screen that ends just where a block begins: nothing past its last row is written.
    std::vector<std::uint8_t> guarded(static_cast<std::size_t>(6 * bytes * 5), 0xEE);
    std::fill(guarded.end() - 6 * bytes, guarded.end(), 0x11);
    ScaleRows(picture.data(), w, 0, h - 1, bytes, guarded.data(), 6 * bytes, 6, 4, Placement{2, 1, 0});
    EXPECT_EQ(guarded[static_cast<std::size_t>(3 * 6 * bytes + 5 * bytes)], 7);
    EXPECT_TRUE(std::all_of(guarded.end() - 6 * bytes, guarded.end(), [](std::uint8_t b) { return b == 0x11; }));
  }
}

}  // namespace
}  // namespace quillon
