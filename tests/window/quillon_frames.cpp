// Writes the first eight title frames, as the game composes them for a program in FOLDER,
// to OUT/title0.ppm ... title7.ppm: what a screenshot of the real window must equal; and the
// high-score banner with its mask, OUT/banner.ppm and OUT/bannerm.ppm.
#include <cstdio>
#include <string>

#include "../FakePlatform.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: quillon_frames FOLDER OUT\n");
    return 2;
  }
  using namespace quillon;
  testing::FakePlatform fake;
  fake.folder = std::string(argv[1]) + "/";
  frmMain game(fake, testing::TestPictures(), testing::TestFont());
  const std::string out = argv[2];
  const auto write = [](const std::string& name, const Surface& s) {
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return;
    std::fprintf(f, "P6\n%d %d\n255\n", s.Width(), s.Height());
    for (Colour c : s.Pixels()) {
      const unsigned char rgb[3] = {static_cast<unsigned char>(c >> 16),
                                    static_cast<unsigned char>(c >> 8), static_cast<unsigned char>(c)};
      std::fwrite(rgb, 1, 3, f);
    }
    std::fclose(f);
  };
  write(out + "/banner.ppm", testing::TestPictures().picHscr);
  write(out + "/bannerm.ppm", testing::TestPictures().picHscrM);
  fake.onPresent = [&](const Surface& s) {
    write(out + "/title" + std::to_string(fake.presents - 1) + ".ppm", s);
  };
  fake.Close(8);
  testing::RunUntilClosed(game);
  return 0;
}
