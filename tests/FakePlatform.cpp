#include "FakePlatform.h"

#include <gtest/gtest.h>

namespace quillon::testing {

const Pictures& TestPictures() {
  static const Pictures pictures = LoadPictures();
  return pictures;
}

const Font* TestFont() {
  static const std::unique_ptr<Font> font = Font::Load(nullptr);
  return font.get();
}

void RunUntilClosed(frmMain& game) {
  try {
    game.Run();
  } catch (const ProgramEnded&) {
    return;
  }
}

}  // namespace quillon::testing
