#include "common/StrictJson.h"

namespace dormex {

namespace {

// Builds the document from the reader's events (its public SAX interface),
// knowing the path of the value being read, so that a refusal can name it.
template <typename Json>
class StrictBuilder {
public:
    using Integer = typename Json::number_integer_t;
    using Unsigned = typename Json::number_unsigned_t;
    using Float = typename Json::number_float_t;
    using String = typename Json::string_t;
    using Binary = typename Json::binary_t;

    StrictBuilder(Json& root, const StreamedMembers<Json>* streamed)
        : root_(root), streamed_(streamed)
    {
    }

    bool null() { return Add(nullptr); }
    bool boolean(bool value) { return Add(value); }
    bool number_integer(Integer value) { return Add(value); }
    bool number_unsigned(Unsigned value) { return Add(value); }
    bool number_float(Float value, const String&) { return Add(value); }
    bool string(String& value) { return Add(std::move(value)); }
    bool binary(Binary& value) { return Add(Json::binary(std::move(value))); }
    bool start_object(size_t) { return Open(Json::object()); }
    bool start_array(size_t) { return Open(Json::array()); }
    bool key(String& name)
    {
        Frame& top = frames_.back();
        top.key = name;
        if (!top.keys.insert(name).second) {
            throw JsonFault{CurrentPath(), "a member named twice"};
        }
        return true;
    }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }
    template <typename Exception>
    bool parse_error(size_t, const std::string&, const Exception& error)
    {
        throw error;
    }

    // The path of the value being read, "$" outside any container. Built only
    // when a message needs it, in one string.
    std::string CurrentPath() const
    {
        std::string path = "$";
        for (const Frame& frame : frames_) {
            if (frame.value->is_object()) {
                AppendJsonMember(path, frame.key);
            } else {
                AppendJsonIndex(path, frame.index);
            }
        }
        return path;
    }

private:
    struct Frame {
        Json* value = nullptr;
        std::string key;   // the member being read
        size_t index = 0;  // the element being read
        std::set<std::string> keys;
    };

    // The member of the top object that the reader is inside, when its
    // elements are handed over and it is of the kind they are handed over
    // from; null otherwise.
    const StreamedMember<Json>* Streamed() const
    {
        if (streamed_ == nullptr || frames_.size() != 2 || !frames_[0].value->is_object()) {
            return nullptr;
        }
        auto member = streamed_->find(frames_[0].key);
        if (member == streamed_->end() || member->second.IsArray != frames_[1].value->is_array()) {
            return nullptr;
        }
        return &member->second;
    }

    // Puts a value where the reader is: the document, the next element of an
    // array or the member whose name was just read, or aside when it is to be
    // handed over.
    Json* Place(Json value)
    {
        if (frames_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        if (Streamed() != nullptr) {
            element_ = std::move(value);
            return &element_;
        }
        Json& parent = *frames_.back().value;
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        // The name is new to the object (key() saw to it): an ordered object,
        // whose own insertion searches all its members first, takes it at its
        // end.
        auto& members = parent.template get_ref<typename Json::object_t&>();
        const std::string& name = frames_.back().key;  // kept for the path
        if constexpr (requires { typename Json::object_t::Container; }) {
            using Container = typename Json::object_t::Container;
            return &members.Container::emplace_back(name, std::move(value)).second;
        } else {
            return &members.emplace(name, std::move(value)).first->second;
        }
    }
    bool Add(Json value)
    {
        Place(std::move(value));
        Completed();
        return true;
    }
    // A value is complete: one set aside is handed over, and the next one of
    // an array has the next index.
    void Completed()
    {
        if (const StreamedMember<Json>* member = Streamed()) {
            member->Take(element_, CurrentPath(), frames_[1].key);
            element_ = Json();
        }
        if (!frames_.empty() && frames_.back().value->is_array()) {
            ++frames_.back().index;
        }
    }
    bool Open(Json container)
    {
        if (frames_.size() >= static_cast<size_t>(MaxJsonDepth)) {
            throw JsonFault{CurrentPath(),
                            "nested deeper than " + std::to_string(MaxJsonDepth) + " levels"};
        }
        frames_.push_back(Frame{Place(std::move(container)), {}, 0, {}});
        return true;
    }
    bool Close()
    {
        frames_.pop_back();
        Completed();
        return true;
    }

    Json& root_;
    const StreamedMembers<Json>* streamed_;
    Json element_;  // the element being read, to be handed over
    std::vector<Frame> frames_;
};

template <typename Json, typename Input>
Json Parse(Input& input, const StreamedMembers<Json>& streamed)
{
    Json document;
    StrictBuilder<Json> builder(document, streamed.empty() ? nullptr : &streamed);
    try {
        Json::sax_parse(input, &builder);
    } catch (const typename Json::parse_error& error) {
        throw JsonFault{"$", std::string("not valid JSON: ") + error.what()};
    } catch (const typename Json::exception& error) {
        // A number beyond what a double holds (1e400), in the member being read.
        throw JsonFault{builder.CurrentPath(), std::string("not valid JSON: ") + error.what()};
    }
    return document;
}

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
    path += nlohmann::json(std::string(name))
                .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
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
    return ParseStrictJson<Json>(text, {});
}

template <typename Json>
Json ParseStrictJson(std::string_view text, const StreamedMembers<Json>& streamed)
{
    return Parse(text, streamed);
}

template <typename Json>
Json ParseStrictJson(std::istream& input, const StreamedMembers<Json>& streamed)
{
    return Parse(input, streamed);
}

template nlohmann::json ParseStrictJson<nlohmann::json>(std::string_view);
template nlohmann::ordered_json ParseStrictJson<nlohmann::ordered_json>(std::string_view);
template nlohmann::json ParseStrictJson<nlohmann::json>(std::string_view,
                                                        const StreamedMembers<nlohmann::json>&);
template nlohmann::json ParseStrictJson<nlohmann::json>(std::istream&,
                                                        const StreamedMembers<nlohmann::json>&);
template nlohmann::ordered_json ParseStrictJson<nlohmann::ordered_json>(
    std::string_view, const StreamedMembers<nlohmann::ordered_json>&);

}  // namespace dormex
