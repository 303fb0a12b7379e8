#pragma once

#include <string>
#include <string_view>

// The INI text rules: finding and setting one key, the way Windows' profile calls do.
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

// Without the blanks the INI rules drop around names and values.
std::string_view Trim(std::string_view s);

}  // namespace quillon
