#include "rules/RulePattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <vector>

namespace dormex {

namespace {

// Whole-text match, and the ECMAScript readings where Perl's differ.
constexpr uint32_t CompileOptions = PCRE2_ANCHORED | PCRE2_ENDANCHORED | PCRE2_DOLLAR_ENDONLY |
                                    PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF;

// A pattern as PCRE2 is given it, and for each of its offsets the offset in
// the pattern as written, so that a fault is placed where the author sees it.
struct SpeltPattern {
    std::string text;
    std::vector<size_t> written;  // one more than text: its end
};

// ECMAScript's empty classes, "[]" (no character) and "[^]" (any character),
// spelt as byte ranges: Perl reads a ']' right after '[' as a member, and
// PCRE2's own empty class never matches once it is repeated ("[]*" fails on
// an empty text).
SpeltPattern WithEmptyClassesSpelt(const std::string& pattern)
{
    SpeltPattern out;
    out.text.reserve(pattern.size());
    auto append = [&out](std::string_view piece, size_t from) {
        out.text += piece;
        out.written.insert(out.written.end(), piece.size(), from);
    };
    bool inClass = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\' && i + 1 < pattern.size()) {
            append(pattern.substr(i, 1), i);
            append(pattern.substr(i + 1, 1), i + 1);
            ++i;
        } else if (!inClass && pattern.compare(i, 2, "[]") == 0) {
            append("[^\\x00-\\xff]", i);
            i += 1;
        } else if (!inClass && pattern.compare(i, 3, "[^]") == 0) {
            append("[\\x00-\\xff]", i);
            i += 2;
        } else {
            inClass = c == '[' || (inClass && c != ']');
            append(std::string_view(&pattern[i], 1), i);
        }
    }
    out.written.push_back(pattern.size());
    return out;
}

struct CompileContext {
    // `spelling` is how much longer the pattern became when it was spelt.
    explicit CompileContext(size_t spelling) : context(pcre2_compile_context_create(nullptr))
    {
        if (context != nullptr) {
            pcre2_set_max_pattern_length(context, RulePattern::MaxLength + spelling);
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
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    const SpeltPattern spelt = WithEmptyClassesSpelt(pattern);
    CompileContext compile(spelt.text.size() - pattern.size());
    code_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(spelt.text.data()), spelt.text.size(),
                              CompileOptions, &errorCode, &errorOffset, compile.context));
    if (code_ == nullptr) {
        errorOffset = spelt.written[std::min<size_t>(errorOffset, spelt.text.size())];
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
