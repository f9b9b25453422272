#include "rules/RulePattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace dormex {

namespace {

// Whole-text match, and the ECMAScript readings where Perl's differ.
constexpr uint32_t CompileOptions = PCRE2_ANCHORED | PCRE2_ENDANCHORED | PCRE2_DOLLAR_ENDONLY |
                                    PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF;

// ECMAScript's empty classes, "[]" (no character) and "[^]" (any character),
// spelt as byte ranges: Perl reads a ']' right after '[' as a member, and
// PCRE2's own empty class never matches once it is repeated ("[]*" fails on
// an empty text).
std::string WithEmptyClassesSpelt(const std::string& pattern)
{
    std::string out;
    out.reserve(pattern.size());
    bool inClass = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\' && i + 1 < pattern.size()) {
            out += pattern.substr(i++, 2);
        } else if (!inClass && pattern.compare(i, 2, "[]") == 0) {
            out += "[^\\x00-\\xff]";
            i += 1;
        } else if (!inClass && pattern.compare(i, 3, "[^]") == 0) {
            out += "[\\x00-\\xff]";
            i += 2;
        } else {
            inClass = c == '[' || (inClass && c != ']');
            out += c;
        }
    }
    return out;
}

struct CompileContext {
    CompileContext() : context(pcre2_compile_context_create(nullptr))
    {
        if (context != nullptr) {
            pcre2_set_max_pattern_length(context, RulePattern::MaxLength);
            pcre2_set_parens_nest_limit(context, RulePattern::MaxNesting);
            pcre2_set_newline(context, PCRE2_NEWLINE_ANYCRLF);
        }
    }
    ~CompileContext() { pcre2_compile_context_free(context); }
    CompileContext(const CompileContext&) = delete;
    CompileContext& operator=(const CompileContext&) = delete;
    pcre2_compile_context* context;
};

std::string ErrorText(int code)
{
    PCRE2_UCHAR buffer[256];
    int length = pcre2_get_error_message(code, buffer, sizeof buffer);
    return length > 0 ? std::string(reinterpret_cast<const char*>(buffer), length)
                      : "error " + std::to_string(code);
}

}  // namespace

void RulePattern::Release::operator()(pcre2_code* code) const { pcre2_code_free(code); }
void RulePattern::Release::operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
void RulePattern::Release::operator()(pcre2_match_context* context) const
{
    pcre2_match_context_free(context);
}

RulePattern::RulePattern(const std::string& pattern)
{
    CompileContext compile;
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    const std::string spelt = WithEmptyClassesSpelt(pattern);
    code_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(spelt.data()), spelt.size(),
                              CompileOptions, &errorCode, &errorOffset, compile.context));
    if (code_ == nullptr) {
        error_ = ErrorText(errorCode) + " at offset " + std::to_string(errorOffset);
        return;
    }
    // The interpreter stands in where the machine code cannot be made.
    pcre2_jit_compile(code_.get(), PCRE2_JIT_COMPLETE);
    data_.reset(pcre2_match_data_create_from_pattern(code_.get(), nullptr));
    context_.reset(pcre2_match_context_create(nullptr));
    if (data_ == nullptr || context_ == nullptr) {
        code_.reset();
        error_ = "no memory to match it";
        return;
    }
    pcre2_set_match_limit(context_.get(), MatchSteps);
    pcre2_set_depth_limit(context_.get(), MatchSteps);
}

RulePattern::~RulePattern() = default;
RulePattern::RulePattern(RulePattern&&) noexcept = default;
RulePattern& RulePattern::operator=(RulePattern&&) noexcept = default;

RulePattern::Outcome RulePattern::Match(std::string_view text) const
{
    if (code_ == nullptr) {
        return Outcome::NoMatch;
    }
    // An empty view may carry no pointer, which PCRE2 refuses.
    const char* subject = text.empty() ? "" : text.data();
    int result = pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(subject), text.size(), 0, 0,
                             data_.get(), context_.get());
    if (result >= 0) {
        return Outcome::Match;
    }
    return result == PCRE2_ERROR_NOMATCH ? Outcome::NoMatch : Outcome::GaveUp;
}

}  // namespace dormex
