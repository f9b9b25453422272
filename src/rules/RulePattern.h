#pragma once

#include <memory>
#include <string>
#include <string_view>

struct pcre2_real_code_8;
struct pcre2_real_match_data_8;
struct pcre2_real_match_context_8;

namespace dormex {

// A rule's regular expression, matched against a whole device text with the
// ECMAScript meaning rule files are written in ('.' stops at line ends, '$'
// only at the end, "[^]" is any character, an unset back-reference matches
// nothing). Built on PCRE2 so that no pattern can exhaust the stack or run
// without end: a pattern longer than MaxLength or nested deeper than
// MaxNesting does not compile, and a match that takes more than MatchSteps
// backtracking steps gives up.
class RulePattern {
public:
    static constexpr size_t MaxLength = 8192;
    static constexpr uint32_t MaxNesting = 250;
    static constexpr uint32_t MatchSteps = 1000000;

    enum class Outcome { Match, NoMatch, GaveUp };

    explicit RulePattern(const std::string& pattern);
    ~RulePattern();
    RulePattern(RulePattern&&) noexcept;
    RulePattern& operator=(RulePattern&&) noexcept;

    bool Valid() const { return code_ != nullptr; }
    // Why the pattern does not compile, with the offset where that was seen.
    const std::string& Error() const { return error_; }

    Outcome Match(std::string_view text) const;

private:
    struct Release {
        void operator()(pcre2_real_code_8* code) const;
        void operator()(pcre2_real_match_data_8* data) const;
        void operator()(pcre2_real_match_context_8* context) const;
    };
    std::unique_ptr<pcre2_real_code_8, Release> code_;
    std::unique_ptr<pcre2_real_match_data_8, Release> data_;
    std::unique_ptr<pcre2_real_match_context_8, Release> context_;
    std::string error_;
};

}  // namespace dormex
