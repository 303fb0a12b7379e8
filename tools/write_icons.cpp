// Writes the window icons as XPM files for the desktop's icon theme: write_icons OUTDIR.
#include <cstdio>
#include <map>
#include <string>

#include "display/Pictures.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const quillon::Pictures pictures = quillon::LoadPictures();
  for (const quillon::Surface* icon : {&pictures.icon32, &pictures.icon16}) {
    const int size = icon->Width();
    const std::string path = std::string(argv[1]) + "/quillon" + std::to_string(size) + ".xpm";
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return 1;
    std::map<quillon::Colour, char> keys;
    for (quillon::Colour c : icon->Pixels())
      if (!keys.count(c)) keys[c] = static_cast<char>('a' + keys.size());
    std::fprintf(f, "/* XPM */\nstatic char *quillon[] = {\n\"%d %d %zu 1\",\n", size, size, keys.size());
    for (auto [colour, key] : keys) std::fprintf(f, "\"%c c #%06X\",\n", key, colour);
    for (int y = 0; y < size; ++y) {
      std::fputc('"', f);
      for (int x = 0; x < size; ++x) std::fputc(keys[icon->Pixel(x, y)], f);
      std::fprintf(f, "\"%s\n", y + 1 < size ? "," : "");
    }
    std::fprintf(f, "};\n");
    std::fclose(f);
  }
  return 0;
}
