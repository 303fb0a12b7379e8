#include <gtest/gtest.h>

#include <set>

#include "display/Pictures.h"
#include "FakePlatform.h"

namespace quillon {
namespace {

const Pictures& P() { return testing::TestPictures(); }

struct Box {
  int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;
  bool Empty() const { return right < 0; }
};

// Box of the pixels in rows [top, bottom] for which keep() holds.
template <typename Keep>
Box InkBox(const Surface& s, int top, int bottom, Keep keep) {
  Box b;
  for (int y = top; y <= bottom; ++y)
    for (int x = 0; x < s.Width(); ++x)
      if (keep(s.Pixel(x, y))) {
        b.left = std::min(b.left, x); b.right = std::max(b.right, x);
        b.top = std::min(b.top, y); b.bottom = std::max(b.bottom, y);
      }
  return b;
}

void ExpectBox(const Box& b, int left, int top, int right, int bottom) {
  EXPECT_EQ(b.left, left);
  EXPECT_EQ(b.top, top);
  EXPECT_EQ(b.right, right);
  EXPECT_EQ(b.bottom, bottom);
}

auto NotBlack = [](Colour c) { return c != kBlack; };
auto NotWhite = [](Colour c) { return c != kWhite; };

TEST(Pictures, SizesMatchTheirRoles) {
  EXPECT_EQ(P().picTitle.Width(), 425);
  EXPECT_EQ(P().picTitle.Height(), 300);
  for (const Surface& s : P().picPek) { EXPECT_EQ(s.Width(), 167); EXPECT_EQ(s.Height(), 35); }
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(P().picCar[i].Width(), 34); EXPECT_EQ(P().picCar[i].Height(), 16);
    EXPECT_EQ(P().picCarM[i].Width(), 34); EXPECT_EQ(P().picCarM[i].Height(), 16);
  }
  EXPECT_EQ(P().picCoin.Width(), 13); EXPECT_EQ(P().picCoin.Height(), 12);
  EXPECT_EQ(P().picTama.Width(), 10); EXPECT_EQ(P().picTama.Height(), 6);
  EXPECT_EQ(P().picHscr.Width(), 189); EXPECT_EQ(P().picHscr.Height(), 30);
  EXPECT_EQ(P().picHscrM.Width(), 189); EXPECT_EQ(P().picHscrM.Height(), 30);
  EXPECT_EQ(P().icon32.Width(), 32); EXPECT_EQ(P().icon32.Height(), 32);
  EXPECT_EQ(P().icon16.Width(), 16); EXPECT_EQ(P().icon16.Height(), 16);
}

TEST(Pictures, PlayBackgroundIsSkyOverGround) {
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 425; x += 53) EXPECT_EQ(P().playBackground.Pixel(x, y), y < 240 ? kSky : kGround);
  for (Colour c : P().picBlack.Pixels()) ASSERT_EQ(c, kBlack);
}

TEST(Pictures, TitleIsBlackAndSixteenGreensInItsThreeBlocks) {
  const Surface& t = P().picTitle;
  std::set<Colour> allowed{kBlack, Rgb(0, 255, 0)};
  for (int g = 16; g <= 240; g += 16) allowed.insert(Rgb(0, g, 0));
  std::set<Colour> used;
  for (Colour c : t.Pixels()) {
    ASSERT_TRUE(allowed.count(c)) << std::hex << c;
    used.insert(c);
  }
  EXPECT_EQ(used.size(), 17u);
  ExpectBox(InkBox(t, 31, 80, NotBlack), 41, 31, 377, 80);
  ExpectBox(InkBox(t, 93, 110, NotBlack), 202, 93, 374, 110);
  ExpectBox(InkBox(t, 137, 204, NotBlack), 61, 137, 369, 204);
  for (auto [top, bottom] : {std::pair{0, 30}, std::pair{81, 92}, std::pair{111, 136}, std::pair{205, 299}})
    EXPECT_TRUE(InkBox(t, top, bottom, NotBlack).Empty()) << top;
}

TEST(Pictures, PromptFramesShareTheirShapeAndDimFrameByFrame) {
  std::vector<bool> shape;
  for (int i = 0; i < 8; ++i) {
    const Surface& s = P().picPek[i];
    ExpectBox(InkBox(s, 0, 34, NotBlack), 8, 8, 158, 29);
    int brightest = 0;
    std::vector<bool> here;
    for (Colour c : s.Pixels()) {
      ASSERT_EQ(c & 0xFF00FF, 0u);
      brightest = std::max(brightest, static_cast<int>(c >> 8));
      here.push_back(c != kBlack);
    }
    EXPECT_EQ(brightest, (std::array{255, 240, 224, 204, 192, 176, 153, 144}[i]));
    if (i == 0) shape = here;
    EXPECT_EQ(here, shape) << "frame " << i;
  }
}

TEST(Pictures, CarMasksCoverTheCarAndTheWindowsUntilTheyAreGone) {
  const std::set<Colour> allowed{kWhite, kBlack, Rgb(0, 0, 255), Rgb(0, 255, 255)};
  const int fronts[5] = {32, 31, 29, 27, 26};
  for (int i = 0; i < 5; ++i) {
    const Surface& car = P().picCar[i];
    const Surface& mask = P().picCarM[i];
    const int roof = i == 4 ? 2 : 1;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 34; ++x) {
        const Colour c = car.Pixel(x, y), m = mask.Pixel(x, y);
        ASSERT_TRUE(allowed.count(c)) << i;
        ASSERT_TRUE(m == kBlack || m == kWhite);
        if (c != kWhite) {
          EXPECT_EQ(m, kBlack) << i << ": " << x << "," << y;
        }
        const bool window = y > roof && y < roof + 6 && ((x >= 8 && x <= 14) || (x >= 17 && x <= 22));
        if (window) {
          EXPECT_EQ(m, i < 3 ? kBlack : kWhite) << "window of stage " << i << " at " << x << "," << y;
          if (i >= 3) {
            EXPECT_EQ(c, kWhite);
          }
        } else if (c == kWhite) {
          EXPECT_EQ(m, kWhite) << i << ": " << x << "," << y;
        }
      }
    ExpectBox(InkBox(car, 0, 15, [](Colour c) { return c == Rgb(0, 0, 255); }), 1, roof, fronts[i], i == 4 ? 13 : 12);
    EXPECT_TRUE(InkBox(car, 15, 15, NotWhite).Empty());
    for (int x = 15; x <= 16; ++x) EXPECT_EQ(car.Pixel(x, roof + 2), Rgb(0, 0, 255));  // the pillar
    const Box wheels = InkBox(car, 13, 14, [](Colour c) { return c == kBlack; });
    ExpectBox(wheels, 5, i == 4 ? 14 : 13, 26, 14);
    for (int x : {5, 10, 21, 26}) EXPECT_EQ(car.Pixel(x, i == 4 ? 14 : 13), kBlack);
    for (int x = 11; x <= 20; ++x) EXPECT_NE(car.Pixel(x, 14), kBlack);
  }
  int cracks[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 34; ++x)
        cracks[i] += P().picCar[i].Pixel(x, y) == kWhite && P().picCarM[i].Pixel(x, y) == kBlack;
  EXPECT_EQ(cracks[0], 0);
  EXPECT_GT(cracks[1], 0);
  EXPECT_GT(cracks[2], cracks[1]);
}

TEST(Pictures, CoinIsAYellowDiscWithADarkRimOnTheRight) {
  const Surface& coin = P().picCoin;
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 13; ++x) {
      const Colour c = coin.Pixel(x, y);
      ASSERT_TRUE(c == kWhite || c == Rgb(255, 255, 0) || c == Rgb(128, 128, 0));
      EXPECT_EQ(P().picCoinM.Pixel(x, y), c == kWhite ? kWhite : kBlack);
      if (c == Rgb(128, 128, 0)) {
        EXPECT_EQ(coin.Pixel(x + 1, y), kWhite);  // the rim is the right edge
      }
    }
  ExpectBox(InkBox(coin, 0, 11, NotWhite), 1, 1, 11, 10);
  for (int y = 4; y <= 7; ++y) ExpectBox(InkBox(coin, y, y, NotWhite), 1, y, 11, y);
  for (auto [x, y] : {std::pair{1, 1}, std::pair{11, 1}, std::pair{1, 10}, std::pair{11, 10}})
    EXPECT_EQ(coin.Pixel(x, y), kWhite);
}

TEST(Pictures, BallMaskLeavesTheFlameTipOut) {
  const Surface& ball = P().picTama;
  const Surface& mask = P().picTamaM;
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 10; ++x) {
      const bool masked = ((y == 1 || y == 4) && x >= 2 && x <= 8) || ((y == 2 || y == 3) && x >= 1 && x <= 8);
      EXPECT_EQ(mask.Pixel(x, y), masked ? kBlack : kWhite) << x << "," << y;
      const bool outline = ((y == 1 || y == 4) && x >= 2 && x <= 8) || ((y == 2 || y == 3) && (x == 1 || x == 6));
      const bool flame = (y == 2 || y == 3) && (x == 8 || x == 9);
      EXPECT_EQ(ball.Pixel(x, y), outline ? kBlack : flame ? Rgb(255, 0, 0) : kWhite) << x << "," << y;
    }
}

TEST(Pictures, BannerIsTealShadesOnWhiteWithAnExactMask) {
  std::set<Colour> allowed{kWhite};
  for (int k = 1; k <= 15; ++k) allowed.insert(BannerShade(k));
  EXPECT_EQ(BannerShade(1), Rgb(20, 138, 140));
  EXPECT_EQ(BannerShade(15), Rgb(251, 253, 252));
  std::set<Colour> used;
  int letters = 0, standOut = 0;
  const auto far = [](Colour c) {
    const auto d = [&](int shift) { const int v = static_cast<int>((c >> shift) & 0xFF) - static_cast<int>((kSky >> shift) & 0xFF); return v * v; };
    return d(16) + d(8) + d(0) > 60 * 60;
  };
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 189; ++x) {
      const Colour c = P().picHscr.Pixel(x, y);
      ASSERT_TRUE(allowed.count(c));
      used.insert(c);
      EXPECT_EQ(P().picHscrM.Pixel(x, y), c == kWhite ? kWhite : kBlack);
      if (c != kWhite) {
        ++letters;
        standOut += far(c);
      }
    }
  EXPECT_GE(used.size(), 10u);  // a mottled mix, not one flat shade
  // Letters that read over the teal sky, not hollow outlines.
  EXPECT_GE(standOut * 10, letters * 9);
  ExpectBox(InkBox(P().picHscr, 0, 29, NotWhite), 5, 5, 181, 25);
}

TEST(Pictures, IconsAndSpritesUseTheSixteenStandardColours) {
  const std::set<Colour> standard{
      kBlack, Rgb(128, 0, 0), Rgb(0, 128, 0), Rgb(128, 128, 0), Rgb(0, 0, 128), Rgb(128, 0, 128),
      Rgb(0, 128, 128), Rgb(192, 192, 192), Rgb(128, 128, 128), Rgb(255, 0, 0), Rgb(0, 255, 0),
      Rgb(255, 255, 0), Rgb(0, 0, 255), Rgb(255, 0, 255), Rgb(0, 255, 255), kWhite};
  std::vector<const Surface*> all{&P().icon32, &P().icon16, &P().picCoin, &P().picTama};
  for (const Surface& car : P().picCar) all.push_back(&car);
  for (const Surface* picture : all)
    for (Colour c : picture->Pixels()) ASSERT_TRUE(standard.count(c)) << std::hex << c;
  for (const Surface* icon : {&P().icon32, &P().icon16}) {
    std::set<Colour> used(icon->Pixels().begin(), icon->Pixels().end());
    EXPECT_TRUE(used.count(kSky));
    EXPECT_TRUE(used.count(kGround));
    EXPECT_TRUE(used.count(Rgb(0, 0, 255)));
  }
  // Each icon a tile with rounded corners: how many of its pixels each corner clears (a round
  // cut one eighth of the side across), and whole rows and columns through its middle.
  for (const auto& [icon, cut] : {std::pair{&P().icon16, 1}, std::pair{&P().icon32, 3}}) {
    const int n = icon->Width();
    int cleared = 0;
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        const bool out = OutsideIcon(*icon, x, y);
        EXPECT_EQ(out, OutsideIcon(*icon, n - 1 - x, y)) << x << "," << y;  // the same at every corner
        EXPECT_EQ(out, OutsideIcon(*icon, x, n - 1 - y)) << x << "," << y;
        if (x == n / 2 || y == n / 2) { EXPECT_FALSE(out) << x << "," << y; }
        cleared += out && x < n / 2 && y < n / 2;
      }
    EXPECT_EQ(cleared, cut) << n;
  }
}

TEST(Pictures, PixelMapsRejectRaggedRowsAndUnknownLetters) {
  Surface pic, mask;
  for (const char* map : {"# c\n.K\nr.\n", "# c\r\n.K\r\n\r\nr.\r\n"}) {  // as a checkout with CRLF has it
    EXPECT_TRUE(ParsePixelMap(map, pic, &mask));
    EXPECT_EQ(mask.Pixel(1, 0), kBlack);
    EXPECT_EQ(mask.Pixel(0, 1), kWhite);
    EXPECT_EQ(pic.Pixel(0, 1), Rgb(255, 0, 0));
  }
  EXPECT_FALSE(ParsePixelMap("..\n...\n", pic, &mask));
  EXPECT_FALSE(ParsePixelMap("..\n.?\n", pic, &mask));
  EXPECT_FALSE(ParsePixelMap("# only a comment\n", pic, &mask));
}

}  // namespace
}  // namespace quillon
