// Strict UTF-8, as the toolkit's conversion takes it: no overlong forms, no
// surrogates, nothing above U+10FFFF. Plain C++.
#pragma once

#include <cstddef>
#include <string_view>

namespace dvk {

// The length (1 to 4) of the well-formed sequence that starts at text[at],
// or 0 when none does. at must be below text.size().
std::size_t ValidSequenceLength(std::string_view text, std::size_t at);

// Whether the whole text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

}  // namespace dvk
