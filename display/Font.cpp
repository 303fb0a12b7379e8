#include "display/Font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

namespace quillon {

namespace {

std::string MatchDefaultSans() {
  std::string found;
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
  if (pattern == nullptr) return found;
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  if (match != nullptr) {
    FcChar8* file = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr) {
      found = reinterpret_cast<const char*>(file);
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  return found;
}

// The font is looked up once; fontconfig's caches are of no use after that.
std::string FindDefaultSans() {
  if (!FcInit()) return {};
  std::string found = MatchDefaultSans();
  FcFini();
  return found;
}

}  // namespace

std::unique_ptr<Font> Font::Load(std::string* error, const std::string& file) {
  std::string path = file.empty() ? FindDefaultSans() : file;
  if (path.empty()) {
    if (error) *error = "no sans-serif font found through fontconfig";
    return nullptr;
  }
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) {
    if (error) *error = "FreeType could not start";
    return nullptr;
  }
  FT_Face face = nullptr;
  if (FT_New_Face(library, path.c_str(), 0, &face) != 0 ||
      FT_Set_Pixel_Sizes(face, 0, kPixelSize) != 0) {
    if (face) FT_Done_Face(face);
    FT_Done_FreeType(library);
    if (error) *error = "cannot use font " + path;
    return nullptr;
  }

  auto font = std::unique_ptr<Font>(new Font());
  font->file_ = path;
  font->ascent_ = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
  font->lineHeight_ = static_cast<int>((face->size->metrics.height + 63) >> 6);
  for (int code = kFirst; code <= kLast; ++code) {
    Glyph& glyph = font->glyphs_[code - kFirst];
    if (FT_Load_Char(face, static_cast<FT_ULong>(code),
                     FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) != 0) {
      continue;
    }
    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    glyph.left = slot->bitmap_left;
    glyph.top = slot->bitmap_top;
    glyph.width = static_cast<int>(bitmap.width);
    glyph.rows = static_cast<int>(bitmap.rows);
    glyph.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    glyph.ink.assign(static_cast<std::size_t>(glyph.width) * glyph.rows, 0);
    for (int r = 0; r < glyph.rows; ++r) {
      const unsigned char* line = bitmap.buffer + static_cast<std::ptrdiff_t>(r) * bitmap.pitch;
      for (int c = 0; c < glyph.width; ++c) {
        glyph.ink[static_cast<std::size_t>(r) * glyph.width + c] =
            (line[c >> 3] >> (7 - (c & 7))) & 1;
      }
    }
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return font;
}

int Font::Draw(Surface& surface, int x, int y, Colour colour, std::string_view text) const {
  const int baseline = y + ascent_;
  for (char ch : text) {
    const int code = static_cast<unsigned char>(ch);
    if (code < kFirst || code > kLast) continue;
    const Glyph& glyph = glyphs_[code - kFirst];
    for (int r = 0; r < glyph.rows; ++r) {
      const int py = baseline - glyph.top + r;
      if (py < 0 || py >= surface.Height()) continue;
      const std::uint8_t* ink = glyph.ink.data() + static_cast<std::size_t>(r) * glyph.width;
      Colour* row = surface.Row(py);
      for (int c = 0; c < glyph.width; ++c) {
        const int px = x + glyph.left + c;
        if (ink[c] != 0 && px >= 0 && px < surface.Width()) row[px] = colour & 0xFFFFFF;
      }
    }
    x += glyph.advance;
  }
  return x;
}

}  // namespace quillon
