// Draws the lettered pictures (title, prompt, banner) from DejaVu fonts into PGM files
// under assets/. Run it through tools/make_lettering.sh; its output is committed.
//
// Each block of text is rendered large, its ink box found, and that box squeezed onto the
// exact rectangle the picture wants, so the content lands on known rows and columns.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kHiRes = 160;  // pixel size of the large rendering

struct Canvas {
  int w = 0, h = 0;
  std::vector<float> v;
  Canvas(int width, int height) : w(width), h(height), v(static_cast<size_t>(width) * height, 0) {}
  float& at(int x, int y) { return v[static_cast<size_t>(y) * w + x]; }
};

FT_Library g_lib;

// Renders lines of text, each centred, one under the other, at a large size.
Canvas RenderBlock(const char* fontFile, const std::vector<std::string>& lines, double shear,
                   double tracking, double lineGap) {
  FT_Face face;
  if (FT_New_Face(g_lib, fontFile, 0, &face) != 0) {
    std::fprintf(stderr, "cannot open %s\n", fontFile);
    std::exit(1);
  }
  FT_Set_Pixel_Sizes(face, 0, kHiRes);
  FT_Matrix m{0x10000, static_cast<FT_Fixed>(shear * 0x10000), 0, 0x10000};
  FT_Set_Transform(face, &m, nullptr);
  const int lineStep = static_cast<int>(kHiRes * lineGap);
  const int margin = kHiRes;
  int widest = 0;
  std::vector<int> widths;
  for (const auto& line : lines) {
    int pen = 0;
    for (char ch : line) {
      FT_Load_Char(face, static_cast<unsigned char>(ch), FT_LOAD_DEFAULT);
      pen += static_cast<int>(face->glyph->advance.x >> 6) + static_cast<int>(tracking * kHiRes);
    }
    widths.push_back(pen);
    widest = std::max(widest, pen);
  }
  Canvas c(widest + 2 * margin, lineStep * static_cast<int>(lines.size()) + 2 * margin);
  for (size_t i = 0; i < lines.size(); ++i) {
    int pen = margin + (widest - widths[i]) / 2;
    const int baseline = margin + lineStep * static_cast<int>(i) + kHiRes;
    for (char ch : lines[i]) {
      FT_Load_Char(face, static_cast<unsigned char>(ch), FT_LOAD_RENDER);
      const FT_Bitmap& b = face->glyph->bitmap;
      for (unsigned r = 0; r < b.rows; ++r) {
        for (unsigned col = 0; col < b.width; ++col) {
          const int x = pen + face->glyph->bitmap_left + static_cast<int>(col);
          const int y = baseline - face->glyph->bitmap_top + static_cast<int>(r);
          if (x < 0 || y < 0 || x >= c.w || y >= c.h) continue;
          c.at(x, y) = std::max(c.at(x, y), b.buffer[r * b.pitch + col] / 255.0f);
        }
      }
      pen += static_cast<int>(face->glyph->advance.x >> 6) + static_cast<int>(tracking * kHiRes);
    }
  }
  FT_Done_Face(face);
  return c;
}

struct Box {
  int x0, y0, x1, y1;
};

// The smallest box around every pixel with ink.
Box InkBox(Canvas& c) {
  Box b{c.w, c.h, -1, -1};
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x)
      if (c.at(x, y) > 0.02f) {
        b.x0 = std::min(b.x0, x); b.x1 = std::max(b.x1, x);
        b.y0 = std::min(b.y0, y); b.y1 = std::max(b.y1, y);
      }
  return b;
}

// Averages the ink box of a large rendering onto exactly w x h pixels.
Canvas FitInto(Canvas& big, int w, int h) {
  const auto [x0, y0, x1, y1] = InkBox(big);
  const int bw = x1 - x0 + 1, bh = y1 - y0 + 1;
  Canvas sum(w, h), count(w, h);
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) {
      const int tx = static_cast<int>(static_cast<long>(x - x0) * w / bw);
      const int ty = static_cast<int>(static_cast<long>(y - y0) * h / bh);
      const float ink = big.at(x, y) > 0.02f ? big.at(x, y) : 0.0f;
      sum.at(tx, ty) += ink;
      count.at(tx, ty) += 1;
    }
  for (size_t i = 0; i < sum.v.size(); ++i) sum.v[i] = count.v[i] > 0 ? sum.v[i] / count.v[i] : 0;
  return sum;
}

// Coverage to one of 16 levels; any ink at all keeps at least level 1.
int Level(float coverage) {
  if (coverage <= 0) return 0;
  return std::clamp(static_cast<int>(std::ceil(coverage * 16)), 1, 16);
}

void Paste(std::vector<unsigned char>& img, int imgW, const Canvas& c, int left, int top,
           int (*colour)(int level, int x, int y)) {
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x) {
      const int level = Level(c.v[static_cast<size_t>(y) * c.w + x]);
      if (level > 0) img[static_cast<size_t>(top + y) * imgW + left + x] =
          static_cast<unsigned char>(colour(level, left + x, top + y));
    }
}

void WritePgm(const std::string& path, int w, int h, const std::vector<unsigned char>& img,
              const char* note) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) { std::perror(path.c_str()); std::exit(1); }
  std::fprintf(f, "P5\n# %s\n%d %d\n255\n", note, w, h);
  std::fwrite(img.data(), 1, img.size(), f);
  std::fclose(f);
}

int GreenOfLevel(int level, int, int) { return level == 16 ? 255 : level * 16; }

// Mottled fill: the level sets the base shade, a fixed hash of the place adds grain. Full
// ink is the lightest, so every letter has a pale core that stands out against the teal sky;
// the faintest edge pixels stay at shade 3, the first one well clear of the sky's colour.
// The hash is unsigned so that its wrap-around is defined and the grain the same everywhere.
int BannerShade(int level, int x, int y) {
  unsigned hash = static_cast<unsigned>(x) * 73856093u ^ static_cast<unsigned>(y) * 19349663u;
  hash = (hash ^ (hash >> 13)) * 0x5bd1e995u;
  const int grain = static_cast<int>((hash >> 15) % 5) - 2;
  const int base = 5 + (level - 1) * 10 / 15;
  return std::clamp(base + grain, 3, 15);
}

// The letter spacing that gives the text's ink box the wanted width to height, so that
// fitting it into its box keeps the letters' own proportions.
double TrackingFor(const char* font, const std::string& text, double aspect) {
  double low = 0.0, high = 1.0;
  for (int step = 0; step < 30; ++step) {
    const double mid = (low + high) / 2;
    Canvas c = RenderBlock(font, {text}, 0.0, mid, 1.2);
    const Box b = InkBox(c);
    const double ratio = static_cast<double>(b.x1 - b.x0 + 1) / (b.y1 - b.y0 + 1);
    (ratio < aspect ? low : high) = mid;
  }
  return (low + high) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string fonts = argc > 1 ? argv[1] : "/usr/share/fonts/truetype/dejavu";
  const std::string out = argc > 2 ? argv[2] : "assets";
  const std::string sans = fonts + "/DejaVuSans.ttf";
  const std::string bold = fonts + "/DejaVuSans-Bold.ttf";
  FT_Init_FreeType(&g_lib);

  {  // Title: 425 x 300, black with green letters.
    std::vector<unsigned char> img(425 * 300, 0);
    const double nameTracking = TrackingFor(bold.c_str(), "Quillon", (377.0 - 41 + 1) / (80 - 31 + 1));
    Canvas name = RenderBlock(bold.c_str(), {"Quillon"}, 0.0, nameTracking, 1.2);
    Paste(img, 425, FitInto(name, 377 - 41 + 1, 80 - 31 + 1), 41, 31, GreenOfLevel);
    Canvas sub = RenderBlock(sans.c_str(), {"Broken Car Runner"}, 0.0, 0.01, 1.2);
    Paste(img, 425, FitInto(sub, 374 - 202 + 1, 110 - 93 + 1), 202, 93, GreenOfLevel);
    Canvas story = RenderBlock(sans.c_str(),
                               {"A broken car is running on a battle field.",
                                "The break and the steering wheel don't work,",
                                "but the jumping system works well.",
                                "Dodge bullets and get coins!"},
                               0.21, 0.0, 1.25);
    Paste(img, 425, FitInto(story, 369 - 61 + 1, 204 - 137 + 1), 61, 137, GreenOfLevel);
    WritePgm(out + "/title.pgm", 425, 300, img, "title: green level of each pixel");
  }
  {  // Prompt: 167 x 35; the value is the brightest frame's green.
    std::vector<unsigned char> img(167 * 35, 0);
    Canvas press = RenderBlock(sans.c_str(), {"Press Enter Key."}, 0.0, 0.0, 1.2);
    Paste(img, 167, FitInto(press, 158 - 8 + 1, 29 - 8 + 1), 8, 8, GreenOfLevel);
    WritePgm(out + "/prompt.pgm", 167, 35, img, "prompt: green of the brightest frame");
  }
  {  // Banner: 189 x 30; 0 is white, 1 to 15 the teal shades from dark to light.
    std::vector<unsigned char> img(189 * 30, 0);
    Canvas banner = RenderBlock(bold.c_str(), {"You Got High Score!"}, 0.0, 0.0, 1.2);
    Paste(img, 189, FitInto(banner, 181 - 5 + 1, 25 - 5 + 1), 5, 5, BannerShade);
    WritePgm(out + "/banner.pgm", 189, 30, img, "banner: teal shade index, 0 is white");
  }
  FT_Done_FreeType(g_lib);
  return 0;
}
