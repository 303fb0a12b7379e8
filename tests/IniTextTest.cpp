// The settings file's text: scores as numbers, and bytes as encodings.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "game/ScoreText.h"
#include "game/TextEncoding.h"

namespace quillon {
namespace {

TEST(ParseScore, AcceptsDecimalNumbersAndRoundsDown) {
  EXPECT_EQ(ParseScore("1250"), 1250);
  EXPECT_EQ(ParseScore("12.7"), 12);
  EXPECT_EQ(ParseScore("-2.5"), -3);
  EXPECT_EQ(ParseScore("-40"), -40);
  EXPECT_EQ(ParseScore("  +7 \t"), 7);
  EXPECT_EQ(ParseScore("1.5e3"), 1500);
  EXPECT_EQ(ParseScore(".9"), 0);
  EXPECT_EQ(ParseScore("2147483647"), INT32_MAX);
  EXPECT_EQ(ParseScore("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseScore("-2147483647.5"), INT32_MIN);
  // Exact, not through a double: no rounding on the way to the floor.
  EXPECT_EQ(ParseScore("2147483647.99999999999999999"), INT32_MAX);
  EXPECT_EQ(ParseScore("-12.000"), -12);
  EXPECT_EQ(ParseScore("-12.0001e0"), -13);
  EXPECT_EQ(ParseScore("1200e-2"), 12);
  EXPECT_EQ(ParseScore("12345678901e-10"), 1);  // an exponent of two digits
  EXPECT_EQ(ParseScore("0.00012E+4"), 1);
  EXPECT_EQ(ParseScore("-1e-400"), -1);
  EXPECT_EQ(ParseScore("5."), 5);
  EXPECT_EQ(ParseScore("-0.0"), 0);
  EXPECT_EQ(ParseScore("000000000000002"), 2);
  for (const char* bad : {"", "  ", "abc", "12abc", "1,5", "2147483648", "-2147483649", "1e400",
                          "inf", "-inf", "nan", "--1", "+-1", "0x10", ".", "-", "1e", "1e+", "e5", "2e-1x", "1.2.3", "1 2"}) {
    EXPECT_EQ(ParseScore(bad), std::nullopt) << bad;
  }
}

TEST(ParseScore, IgnoresTheLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  bool switched = false;
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "C.UTF-8"})
    if (std::setlocale(LC_NUMERIC, name)) { switched = true; break; }
  EXPECT_EQ(ParseScore("12.7"), 12);
  EXPECT_EQ(ParseScore("12,7"), std::nullopt);
  std::setlocale(LC_NUMERIC, saved.c_str());
  if (!switched) GTEST_SKIP() << "no other locale installed";
}

TEST(TextEncoding, AnyBytesAtAllComeBackUntouched) {
  std::string noise = "\xFF\xFE";
  for (int i = 0; i < 4000; ++i) noise.push_back(static_cast<char>((i * 7919) ^ (i >> 3)));
  // Each unit at the edges of its shape (one, two or three bytes a unit), read either way round.
  noise += std::string("\x7F\x00\x80\x00\xFF\x07\x00\x08\xFF\xFF\x00\xC0\x00\xE0", 14);
  noise += std::string("\x00\xD8\x00\xDC\xFF\xDF\x41", 7);  // lone surrogates and an odd byte
  for (std::string raw : {noise, "\xFE\xFF" + noise.substr(2), "\xEF\xBB\xBF" + noise.substr(2), noise.substr(2)}) {
    EXPECT_EQ(EncodeIni(DecodeIni(raw)), raw);
  }
}

}  // namespace
}  // namespace quillon
