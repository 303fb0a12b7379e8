#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <utility>
#include <string>

#include "display/Font.h"
#include "display/Pictures.h"
#include "display/Surface.h"
#include "FakePlatform.h"

namespace quillon {
namespace {

TEST(BitBlt, RasterOperationsAreBitwiseOnTheColourValue) {
  Surface src(1, 1, 0x123456);
  for (auto [op, expected] : {std::pair{RasterOp::SRCCOPY, 0x123456u},
                              std::pair{RasterOp::SRCERASE, 0x123456u & ~0x0F0F0Fu & 0xFFFFFFu},
                              std::pair{RasterOp::SRCINVERT, 0x123456u ^ 0x0F0F0Fu}}) {
    Surface dst(1, 1, 0x0F0F0F);
    EXPECT_TRUE(BitBlt(dst, 0, 0, 1, 1, src, 0, 0, op));
    EXPECT_EQ(dst.Pixel(0, 0), expected);
  }
}

TEST(BitBlt, ClipsAtEveryEdge) {
  Surface src(4, 3, 0xABCDEF);
  struct Case { int x, y; int left, top, right, bottom; };  // expected drawn rectangle
  for (Case c : {Case{-2, 0, 0, 0, 1, 2}, Case{0, -2, 0, 0, 3, 0}, Case{8, 0, 8, 0, 9, 2},
                 Case{0, 8, 0, 8, 3, 9}, Case{-3, -2, 0, 0, 0, 0}, Case{7, 8, 7, 8, 9, 9}}) {
    Surface dst(10, 10, 0);
    BitBlt(dst, c.x, c.y, 4, 3, src, 0, 0, RasterOp::SRCCOPY);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) {
        const bool inside = x >= c.left && x <= c.right && y >= c.top && y <= c.bottom;
        EXPECT_EQ(dst.Pixel(x, y), inside ? 0xABCDEFu : 0u) << c.x << "," << c.y << " at " << x << "," << y;
      }
  }
  // Past the source's own edges nothing is copied either.
  for (auto [sx, sy] : {std::pair{1, 1}, std::pair{-1, -1}}) {
    Surface dst(10, 10, 0);
    EXPECT_TRUE(BitBlt(dst, 2, 2, 8, 8, src, sx, sy, RasterOp::SRCCOPY));
    int drawn = 0;
    for (Colour c : dst.Pixels()) drawn += c != 0;
    EXPECT_EQ(drawn, sx > 0 ? 3 * 2 : 4 * 3);
    EXPECT_EQ(dst.Pixel(sx > 0 ? 2 : 3, sx > 0 ? 2 : 3), 0xABCDEFu);
  }
  Surface dst(10, 10, 0);
  EXPECT_FALSE(BitBlt(dst, -4, 0, 4, 3, src, 0, 0, RasterOp::SRCCOPY));
  EXPECT_FALSE(BitBlt(dst, 10, 0, 4, 3, src, 0, 0, RasterOp::SRCCOPY));
  EXPECT_FALSE(BitBlt(dst, 0, -3, 4, 3, src, 0, 0, RasterOp::SRCCOPY));
  EXPECT_FALSE(BitBlt(dst, 0, 10, 4, 3, src, 0, 0, RasterOp::SRCCOPY));
}

TEST(MaskedDraw, ShowsSpriteBackgroundAndTheUnmaskedFlame) {
  const Pictures& p = testing::TestPictures();
  for (Colour background : {kSky, kGround, Rgb(1, 2, 3)}) {
    Surface dst(10, 6, background);
    MaskedDraw(dst, 0, 0, 10, 6, p.picTamaM, p.picTama);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 10; ++x) {
        const Colour mask = p.picTamaM.Pixel(x, y), pic = p.picTama.Pixel(x, y);
        Colour expected = background;
        if (mask == kBlack) expected = pic;
        else if (pic != kWhite) expected = (~background & 0xFFFFFF) ^ pic;
        EXPECT_EQ(dst.Pixel(x, y), expected) << x << "," << y;
      }
  }
  Surface sky(10, 6, kSky);
  MaskedDraw(sky, 0, 0, 10, 6, p.picTamaM, p.picTama);
  EXPECT_EQ(sky.Pixel(9, 2), Rgb(0, 127, 127));
  EXPECT_EQ(sky.Pixel(9, 3), Rgb(0, 127, 127));
  EXPECT_EQ(sky.Pixel(3, 2), kWhite);  // the bullet's white body is opaque
}

TEST(MaskedDraw, CarOverCoinShowsTheCoinOnlyOutsideTheCarsMask) {
  const Pictures& p = testing::TestPictures();
  Surface dst(60, 30, kSky);
  MaskedDraw(dst, 20, 10, 13, 12, p.picCoinM, p.picCoin);
  Surface coinOnly = dst;
  MaskedDraw(dst, 10, 8, 34, 16, p.picCarM[0], p.picCar[0]);
  for (int y = 8; y < 24; ++y)
    for (int x = 10; x < 44; ++x) {
      const bool car = p.picCarM[0].Pixel(x - 10, y - 8) == kBlack;
      EXPECT_EQ(dst.Pixel(x, y), car ? p.picCar[0].Pixel(x - 10, y - 8) : coinOnly.Pixel(x, y));
    }
  // A clipped sprite keeps its exact colours on the part inside.
  Surface edge(20, 20, kSky);
  MaskedDraw(edge, -5, 0, 13, 12, p.picCoinM, p.picCoin);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool coin = p.picCoinM.Pixel(x + 5, y) == kBlack;
      EXPECT_EQ(edge.Pixel(x, y), coin ? p.picCoin.Pixel(x + 5, y) : kSky);
    }
}

TEST(Surface, ClsLaysTheOwnPictureAndResetsTheTextPosition) {
  const Pictures& p = testing::TestPictures();
  Surface work(kScreenW, kScreenH, kBlack);
  work.SetPicture(&p.playBackground);
  work.CurrentX = 40;
  work.CurrentY = 17;
  work.SetPixel(5, 5, Rgb(9, 9, 9));
  work.Cls();
  EXPECT_EQ(work.Pixels(), p.playBackground.Pixels());
  EXPECT_EQ(work.CurrentX, 0);
  EXPECT_EQ(work.CurrentY, 0);
  Surface plain(3, 2, kWhite);
  plain.SetBackColor(Rgb(1, 1, 1));
  plain.Cls();
  EXPECT_EQ(plain.Pixel(2, 1), Rgb(1, 1, 1));
  // A picture smaller than the surface lies at its top-left corner, the back colour around it.
  Surface dot(1, 1, Rgb(7, 7, 7));
  plain.SetPicture(&dot);
  plain.Cls();
  EXPECT_EQ(plain.Pixels(), (std::vector<Colour>{Rgb(7, 7, 7), Rgb(1, 1, 1), Rgb(1, 1, 1), Rgb(1, 1, 1),
                                                 Rgb(1, 1, 1), Rgb(1, 1, 1)}));
}

// A presenter compares only the rows a surface says were written: each way of writing must
// say so, and a surface made or copied anew counts all of its rows.
TEST(Surface, EveryWriteTouchesItsRowsForThePresenter) {
  const Font* font = testing::TestFont();
  ASSERT_NE(font, nullptr);
  Surface source(kScreenW, kScreenH, Rgb(3, 3, 3));
  // The rows written; text may reach further down, over its line's height.
  const struct {
    const char* what;
    std::function<void(Surface&)> write;
    int first, last;
  } rows[] = {
      {"nothing", [](Surface&) {}, kScreenH, -1},
      {"a pixel on the top row", [](Surface& s) { s.SetPixel(4, 0, kWhite); }, 0, 0},
      {"a copy into rows 5 to 9", [&](Surface& s) { BitBlt(s, 10, 5, 20, 5, source, 0, 0, RasterOp::SRCCOPY); }, 5, 9},
      {"a copy clipped at the foot", [&](Surface& s) { BitBlt(s, 0, kScreenH - 2, 8, 8, source, 0, 0, RasterOp::SRCINVERT); }, kScreenH - 2, kScreenH - 1},
      {"a clear", [](Surface& s) { s.Cls(); }, 0, kScreenH - 1},
      {"a copy of another surface", [&](Surface& s) { s = source; }, 0, kScreenH - 1},
      {"a line of text", [&](Surface& s) { s.SetFont(font); s.CurrentY = 100; s.Print("Score:"); }, 100, 100},
      {"text with no font to draw it", [](Surface& s) { s.Print("Score:"); }, kScreenH, -1},
  };
  for (const auto& row : rows) {
    Surface work(kScreenW, kScreenH, kBlack);
    EXPECT_EQ(work.TouchedRows(), std::pair(0, kScreenH - 1)) << row.what;
    work.ForgetTouched();
    row.write(work);
    const auto [first, last] = work.TouchedRows();
    if (row.first == 100) {
      EXPECT_TRUE(first >= 100 && first < last && last < 100 + font->LineHeight()) << first << " to " << last;
    } else {
      EXPECT_EQ(std::pair(first, last), std::pair(row.first, row.last)) << row.what;
    }
  }
}

TEST(Surface, PrintPaintsOnlyGlyphPixelsInTheForeColour) {
  const Font* font = testing::TestFont();
  ASSERT_NE(font, nullptr);
  Surface s(120, 20, kSky);
  s.SetFont(font);
  s.ForeColor = Rgb(230, 230, 230);
  s.CurrentX = 3;
  s.CurrentY = 3;
  s.Print("Score:1");
  int ink = 0;
  for (Colour c : s.Pixels()) {
    EXPECT_TRUE(c == kSky || c == Rgb(230, 230, 230));
    ink += c != kSky;
  }
  EXPECT_GT(ink, 20);
  for (int x = 0; x < 120; ++x) EXPECT_EQ(s.Pixel(x, 0), kSky);  // nothing above the line
  // Text past an edge is clipped, not a fault: what shows is the same text, cut (past the top
  // and left, or the bottom and left). Characters the font has none for take no room.
  Surface whole(60, 20, kBlack), edge(10, 10, kBlack), low(10, 10, kBlack), odd(60, 20, kBlack);
  for (Surface* t : {&whole, &edge, &low, &odd}) {
    t->SetFont(font);
    t->ForeColor = kWhite;
    t->CurrentX = t == &edge || t == &low ? -3 : 3;
    t->CurrentY = t == &edge ? -4 : t == &low ? 5 : 0;
    t->Print(t == &odd ? "\x01Score:\x7f" "2147483647\xff" : "Score:2147483647");
  }
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) {
      EXPECT_EQ(edge.Pixel(x, y), whole.Pixel(x + 6, y + 4)) << x << "," << y;
      EXPECT_EQ(low.Pixel(x, y), y < 5 ? kBlack : whole.Pixel(x + 6, y - 5)) << x << "," << y;
    }
  }
  EXPECT_EQ(odd.Pixels(), whole.Pixels());
  // Printed in two pieces on one line, the second carries on where the first ended.
  Surface pieces(60, 20, kBlack);
  pieces.SetFont(font);
  pieces.ForeColor = kWhite;
  pieces.CurrentX = 3;
  pieces.Print("Score:");
  pieces.CurrentY = 0;
  pieces.Print("2147483647");
  EXPECT_EQ(pieces.Pixels(), whole.Pixels());
}

// The lines as the game drew them with DejaVu Sans through FreeType at run time; the
// built-in table must give exactly these pixels.
TEST(Surface, TheBuiltInFontDrawsEveryCharacterAsBefore) {
  std::ifstream golden(QUILLON_TEST_DATA "/text_lines.txt");
  ASSERT_TRUE(golden.good());
  int lines = 0;
  for (std::string text; std::getline(golden, text);) {
    Surface s(200, 20, kBlack);
    s.SetFont(&Font::BuiltIn());
    s.ForeColor = kWhite;
    s.CurrentX = 3;
    s.CurrentY = 3;
    s.Print(text);
    for (int y = 0; y < 20; ++y) {
      std::string row, drawn;
      std::getline(golden, row);
      for (int x = 0; x < 200; ++x) drawn += s.Pixel(x, y) == kBlack ? '.' : '#';
      EXPECT_EQ(drawn, row) << text << ", row " << y;
    }
    ++lines;
  }
  EXPECT_EQ(lines, 5);
}

}  // namespace
}  // namespace quillon
