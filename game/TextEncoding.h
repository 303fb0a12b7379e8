#pragma once

#include <string>
#include <string_view>

namespace quillon {

// A settings file's bytes as the INI rules read them, and how to give them back.
enum class TextEncoding { Bytes, Utf8Mark, Utf16Le, Utf16Be };

struct DecodedText {
  TextEncoding encoding = TextEncoding::Bytes;
  // The text without its byte-order mark. UTF-16 comes as one to three bytes a code unit
  // (UTF-8's shapes, lone surrogates included), so that any file goes back unchanged.
  std::string body;
  std::string oddByte;  // a UTF-16 file's last byte when it has no partner
};

DecodedText DecodeIni(std::string_view raw);
std::string EncodeIni(const DecodedText& text);

}  // namespace quillon
