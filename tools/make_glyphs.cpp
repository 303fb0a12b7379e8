// Renders the game's one text font, DejaVu Sans at 12 pixels as crisp one-bit glyphs, into a
// C++ table that the build compiles into the program: make_glyphs FONT-FILE OUTPUT.
// The game itself then needs no font library and draws the same pixels everywhere.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kPixelSize = 12;
constexpr int kFirst = 32;
constexpr int kLast = 126;

int Fail(const std::string& what) {
  std::fprintf(stderr, "make_glyphs: %s\n", what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Fail("usage: make_glyphs FONT-FILE OUTPUT");
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  if (FT_Init_FreeType(&library) != 0) return Fail("FreeType could not start");
  if (FT_New_Face(library, argv[1], 0, &face) != 0 || FT_Set_Pixel_Sizes(face, 0, kPixelSize) != 0) {
    return Fail(std::string("cannot use font ") + argv[1]);
  }
  std::string glyphs, ink;
  int inkBytes = 0;
  for (int code = kFirst; code <= kLast; ++code) {
    if (FT_Load_Char(face, static_cast<FT_ULong>(code), FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) != 0) {
      return Fail("no glyph for character " + std::to_string(code));
    }
    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO) return Fail("the font gave no one-bit glyphs");
    const int advance = static_cast<int>((slot->advance.x + 32) >> 6);
    glyphs += "    {" + std::to_string(slot->bitmap_left) + ", " + std::to_string(slot->bitmap_top) + ", " +
              std::to_string(bitmap.width) + ", " + std::to_string(bitmap.rows) + ", " +
              std::to_string(advance) + ", " + std::to_string(inkBytes) + "},  // '" +
              (code == '\\' ? std::string("backslash") : std::string(1, static_cast<char>(code))) + "'\n";
    // One byte a pixel, row by row: the table stays small and the drawing loop simple.
    for (unsigned r = 0; r < bitmap.rows; ++r) {
      ink += "    ";
      const unsigned char* line = bitmap.buffer + static_cast<std::ptrdiff_t>(r) * bitmap.pitch;
      for (unsigned c = 0; c < bitmap.width; ++c) ink += (line[c >> 3] >> (7 - (c & 7))) & 1 ? "1," : "0,";
      ink += "\n";
      inkBytes += static_cast<int>(bitmap.width);
    }
  }
  const int ascent = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
  const int lineHeight = static_cast<int>((face->size->metrics.height + 63) >> 6);
  FT_Done_Face(face);
  FT_Done_FreeType(library);

  FILE* out = std::fopen(argv[2], "w");
  if (out == nullptr) return Fail(std::string("cannot write ") + argv[2]);
  std::fprintf(out,
               "// Made by tools/make_glyphs from %s at %d px; not to be edited.\n"
               "constexpr int kGlyphAscent = %d;\nconstexpr int kGlyphLineHeight = %d;\n"
               "constexpr GlyphShape kGlyphShapes[%d] = {\n%s};\n"
               "constexpr std::uint8_t kGlyphInk[%d] = {\n%s};\n",
               argv[1], kPixelSize, ascent, lineHeight, kLast - kFirst + 1, glyphs.c_str(),
               inkBytes > 0 ? inkBytes : 1, ink.empty() ? "0" : ink.c_str());
  return std::fclose(out) == 0 ? 0 : 1;
}
