#pragma once

#include <string_view>

namespace quillon::assets {

// The files under assets/, built into the executable.
std::string_view Car(int stage);
std::string_view Coin();
std::string_view Ball();
std::string_view Icon32();
std::string_view Icon16();
std::string_view Title();
std::string_view Prompt();
std::string_view Banner();

}  // namespace quillon::assets
