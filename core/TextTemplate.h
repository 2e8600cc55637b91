// Texts with named placeholders, such as "{count} controllers found.": the
// words a person reads are written whole, each in one place, so that a
// translation catalogue can take them as they are; the values are put in
// when the text is shown. Plain C++.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace dvk {

// A placeholder's name, without its braces, and its value.
using Placeholder = std::pair<std::string_view, std::string_view>;

// The text with each "{name}" of a given placeholder replaced by its value;
// everything else, an unknown name too, stays as it is. Values are not
// searched for placeholders.
std::string FillText(std::string_view text, std::initializer_list<Placeholder> values);

}  // namespace dvk
