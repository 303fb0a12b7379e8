#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// The same lookup Windows' profile calls make: section and key names match without regard
// to case, blanks around them and the value are dropped, and the value is cut to
// bufferSize - 1 characters. The fallback when anything is missing.
std::string FindIniValue(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view fallback, std::size_t bufferSize);

// Returns the text with the key set, creating section and key as needed; every other
// byte of the text stays as it was.
std::string SetIniValue(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value);

// A stored best score: a decimal number with optional blanks, sign, fraction and exponent,
// read with a decimal point whatever the locale and rounded toward minus infinity.
// Empty when the text is not a number or the result does not fit 32 bits.
std::optional<std::int32_t> ParseScore(std::string_view text);

// A settings file's bytes as the INI rules read them, and how to give them back.
enum class TextEncoding { Bytes, Utf8Mark, Utf16Le, Utf16Be };

struct IniText {
  TextEncoding encoding = TextEncoding::Bytes;
  // The text without its byte-order mark. UTF-16 comes as one to three bytes a code unit
  // (UTF-8's shapes, lone surrogates included), so that any file goes back unchanged.
  std::string body;
  std::string oddByte;  // a UTF-16 file's last byte when it has no partner
};

IniText DecodeIni(std::string_view raw);
std::string EncodeIni(const IniText& text);

}  // namespace quillon
