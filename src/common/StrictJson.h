#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace dormex {

// How deep arrays and objects may nest in any JSON document Dormex reads.
inline constexpr int MaxJsonDepth = 64;

// A document that is not strictly one: the JSON path of the offending value
// ("$" for the document) and what is wrong with it.
struct JsonFault {
    std::string Path;
    std::string Message;
};

// Appends a member's name to a path, as ".name" when it is an identifier and
// as ["name"] otherwise.
void AppendJsonMember(std::string& path, std::string_view name);
void AppendJsonIndex(std::string& path, size_t index);

// At most `limit` characters of a value's text, cut with "..." when longer,
// for messages that quote what they refuse.
std::string JsonExcerpt(const std::string& text, size_t limit = 60);

// Parses `text` as JSON as the reader does, but refuses a member named twice
// in one object (of which the reader would silently keep the last) and
// nesting deeper than MaxJsonDepth, naming the path. Throws JsonFault.
template <typename Json>
Json ParseStrictJson(std::string_view text);

}  // namespace dormex
