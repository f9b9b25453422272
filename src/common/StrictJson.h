#pragma once

#include <functional>
#include <istream>
#include <map>
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

// A member of the document's top object whose elements are handed over one at
// a time as soon as each is read, so that the document never holds them all:
// the elements of an array, or the members of an object (with their names).
// A member of the other kind is kept in the document as it is.
template <typename Json>
struct StreamedMember {
    bool IsArray;
    // The element, its path and, in an object, its name. It may throw.
    std::function<void(const Json& element, const std::string& path, const std::string& name)> Take;
};
template <typename Json>
using StreamedMembers = std::map<std::string, StreamedMember<Json>, std::less<>>;

// The same, read from `input` (text or a stream), with the members of
// `streamed` handed over element by element; what the callbacks throw goes
// through.
template <typename Json>
Json ParseStrictJson(std::string_view text, const StreamedMembers<Json>& streamed);
template <typename Json>
Json ParseStrictJson(std::istream& input, const StreamedMembers<Json>& streamed);

}  // namespace dormex
