#include "FakePlatform.h"

#include <gtest/gtest.h>

namespace quillon::testing {

const Pictures& TestPictures() {
  static const Pictures pictures = LoadPictures();
  return pictures;
}

const Font* TestFont() { return &Font::BuiltIn(); }

void RunUntilClosed(frmMain& game) {
  try {
    game.Run();
  } catch (const ProgramEnded&) {
    return;
  }
}

}  // namespace quillon::testing
