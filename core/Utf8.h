// Strict UTF-8, as the toolkit's conversion takes it: no overlong forms, no
// surrogates, nothing above U+10FFFF. Plain C++.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dvk {

// The length (1 to 4) of the well-formed sequence that starts at text[at],
// or 0 when none does. at must be below text.size().
std::size_t ValidSequenceLength(std::string_view text, std::size_t at);

// Whether the whole text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// The code point of the well-formed sequence of length bytes at text[at],
// as ValidSequenceLength found it.
char32_t DecodeSequence(std::string_view text, std::size_t at, std::size_t length);

// The code points of the text; each byte that starts no well-formed
// sequence becomes U+FFFD.
std::u32string DecodeUtf8(std::string_view text);

// The UTF-8 bytes of a code point (at most U+10FFFF, not a surrogate).
std::string EncodeUtf8(char32_t point);

}  // namespace dvk
