#pragma once

#include <string>
#include <string_view>

namespace dormex {

// Text as it may stand inside an element or an attribute value: &, <, > and "
// become entities.
std::string HtmlEscape(std::string_view text);

}  // namespace dormex
