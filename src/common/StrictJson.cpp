#include "common/StrictJson.h"

namespace dormex {

namespace {

// Follows the JSON reader through the document (its public parse callback),
// knowing the path of the value being read.
class PathTracker {
public:
    template <typename Json>
    bool Follow(int depth, typename Json::parse_event_t event, Json& parsed)
    {
        using Event = typename Json::parse_event_t;
        switch (event) {
        case Event::object_start:
        case Event::array_start:
            if (depth >= MaxJsonDepth) {
                throw JsonFault{CurrentPath(), "nested deeper than " +
                                                   std::to_string(MaxJsonDepth) + " levels"};
            }
            frames_.emplace_back().object = event == Event::object_start;
            break;
        case Event::key: {
            Frame& top = frames_.back();
            top.key = parsed.template get<std::string>();
            if (!top.keys.insert(top.key).second) {
                throw JsonFault{CurrentPath(), "a member named twice"};
            }
            break;
        }
        case Event::object_end:
        case Event::array_end:
            frames_.pop_back();
            Completed();
            break;
        case Event::value:
            Completed();
            break;
        }
        return true;
    }

    // The path of the value being read, "$" outside any container. Built only
    // when a message needs it, in one string.
    std::string CurrentPath() const
    {
        std::string path = "$";
        for (const Frame& frame : frames_) {
            if (frame.object) {
                AppendJsonMember(path, frame.key);
            } else {
                AppendJsonIndex(path, frame.index);
            }
        }
        return path;
    }

private:
    struct Frame {
        bool object = false;
        std::string key;   // the member being read
        size_t index = 0;  // the element being read
        std::set<std::string> keys;
    };

    // A value is complete: the next one of an array has the next index.
    void Completed()
    {
        if (!frames_.empty() && !frames_.back().object) {
            ++frames_.back().index;
        }
    }

    std::vector<Frame> frames_;
};

}  // namespace

void AppendJsonMember(std::string& path, std::string_view name)
{
    bool plain = !name.empty();
    for (char c : name) {
        bool identifier =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        plain = plain && identifier;
    }
    if (plain) {
        path += '.';
        path += name;
        return;
    }
    // Quoted as a JSON string, so backslashes show doubled as in the file.
    path += '[';
    path += nlohmann::json(std::string(name)).dump(-1, ' ', false,
                                                   nlohmann::json::error_handler_t::replace);
    path += ']';
}

void AppendJsonIndex(std::string& path, size_t index)
{
    path += '[';
    path += std::to_string(index);
    path += ']';
}

std::string JsonExcerpt(const std::string& text, size_t limit)
{
    return text.size() <= limit ? text : text.substr(0, limit) + "...";
}

template <typename Json>
Json ParseStrictJson(std::string_view text)
{
    PathTracker tracker;
    try {
        return Json::parse(text, [&tracker](int depth, typename Json::parse_event_t event,
                                            Json& parsed) {
            return tracker.Follow(depth, event, parsed);
        });
    } catch (const typename Json::parse_error& error) {
        throw JsonFault{"$", std::string("not valid JSON: ") + error.what()};
    } catch (const typename Json::exception& error) {
        // A number beyond what a double holds (1e400), in the member being read.
        throw JsonFault{tracker.CurrentPath(), std::string("not valid JSON: ") + error.what()};
    }
}

template nlohmann::json ParseStrictJson<nlohmann::json>(std::string_view);
template nlohmann::ordered_json ParseStrictJson<nlohmann::ordered_json>(std::string_view);

}  // namespace dormex
