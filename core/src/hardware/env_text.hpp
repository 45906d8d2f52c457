#pragma once
// Text rules shared by detection and discovery: environment values count only when they are
// valid UTF-8, and trimming removes Unicode White_Space.
#include <optional>
#include <string>
#include <string_view>

namespace tessra::hw {

std::string_view trim_white_space(std::string_view s);
// The variable's value when it is set to valid UTF-8, else nothing.
std::optional<std::string> env_text(const char* name);

}  // namespace tessra::hw
