// libFuzzer target for the settings-file reader and writer: any bytes as a file.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "game/IniText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string value = quillon::FindIniValue(text, "QUILLON", "HighScore", "0", 1024);
  if (value.size() > 1023) std::abort();
  (void)quillon::ParseScore(value);
  (void)quillon::ParseScore(text);
  // Whatever the file held, a written score reads back as written.
  const std::string updated = quillon::SetIniValue(text, "QUILLON", "HighScore", "4321");
  if (quillon::FindIniValue(updated, "QUILLON", "HighScore", "0", 1024) != "4321") std::abort();
  return 0;
}
