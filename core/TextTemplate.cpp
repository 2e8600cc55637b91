#include "core/TextTemplate.h"

#include <algorithm>

namespace dvk {

std::string FillText(std::string_view text, std::initializer_list<Placeholder> values)
{
    std::string filled;
    std::size_t at = 0;
    for (;;) {
        const std::size_t open = text.find('{', at);
        const std::size_t close = open == std::string_view::npos ? open : text.find('}', open);
        if (close == std::string_view::npos)
            break;
        filled.append(text.substr(at, open - at));
        const std::string_view name = text.substr(open + 1, close - open - 1);
        const auto value =
            std::find_if(values.begin(), values.end(), [name](const Placeholder& p) { return p.first == name; });
        if (value == values.end()) {
            filled += '{';
            at = open + 1;
        } else {
            filled.append(value->second);
            at = close + 1;
        }
    }
    filled.append(text.substr(at));
    return filled;
}

}  // namespace dvk
