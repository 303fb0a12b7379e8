// libFuzzer target for the settings-file reader and writer: any bytes as a file.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "game/IniText.h"
#include "game/ScoreText.h"
#include "game/TextEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  // Every file goes back byte for byte, whatever its encoding.
  const DecodedText decoded = DecodeIni(raw);
  if (EncodeIni(decoded) != raw) std::abort();
  const std::string_view text = decoded.body;
  const std::string value = FindIniValue(text, "QUILLON", "HighScore", "0", 1024);
  if (value.size() > 1023) std::abort();
  (void)ParseScore(value);
  (void)ParseScore(text);
  // Whatever the file held, a written score reads back as written, in the file's own encoding.
  DecodedText updated = decoded;
  updated.body = SetIniValue(text, "QUILLON", "HighScore", "4321");
  const DecodedText reread = DecodeIni(EncodeIni(updated));
  if (reread.encoding != decoded.encoding) std::abort();
  if (FindIniValue(reread.body, "QUILLON", "HighScore", "0", 1024) != "4321") std::abort();
  return 0;
}
