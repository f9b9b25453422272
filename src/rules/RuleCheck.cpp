#include "rules/RuleCheck.h"

#include <tinyxml2.h>

#include <algorithm>
#include <bitset>
#include <cctype>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>
#include <unordered_map>

#include "common/FileLimits.h"
#include "common/Text.h"
#include "log/DebugLog.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "rules/RuleParser.h"
#include "rules/RulePattern.h"
#include "rules/RuleSet.h"

namespace dormex {

namespace {

constexpr size_t QuotedLength = 60;

// A rule-file text in double quotes; a long one is cut short (on a character
// boundary) and its length given.
std::string Quoted(const std::string& text)
{
    if (text.size() <= QuotedLength) {
        return "\"" + text + "\"";
    }
    size_t cut = QuotedLength;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return "\"" + text.substr(0, cut) + "...\" (" + std::to_string(text.size()) + " bytes)";
}

RuleDiagnostic Warning(int32_t line, std::string code, std::string message)
{
    return {line, Severity::Warning, std::move(code), std::move(message)};
}

bool IsPlainDecimal(std::string_view text)
{
    return !text.empty() && (text.size() == 1 || text[0] != '0') &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Validation reads a state text with base detection, the power-state checks
// read it as decimal: only a plain decimal number means the same to both.
// `compared` says whether the checks read this state at all.
void CheckStateText(std::string_view what, const std::string& text, int32_t line, bool compared,
                    std::vector<RuleDiagnostic>& out)
{
    if (IsPlainDecimal(text)) {
        return;
    }
    const int32_t validated = ReadNumberAutoBase(text);
    const int32_t decimal = ReadDecimal(text);
    std::string message =
        std::string(what) + " " + Quoted(text) + " is not a plain decimal number; ";
    if (!compared) {
        message += "validation reads it as " + std::to_string(validated);
    } else if (validated == decimal) {
        message += "it is read as " + std::to_string(decimal);
    } else {
        message += "validation reads it as " + std::to_string(validated) +
                   " but the power-state checks compare " + std::to_string(decimal);
    }
    out.push_back(Warning(line, "state-not-decimal", std::move(message)));
}

// Edits from one text to the other, a swap of two neighbours counting as one
// ("grpahics" is one from "graphics").
size_t EditDistance(std::string_view from, std::string_view to)
{
    std::vector<std::vector<size_t>> d(from.size() + 1, std::vector<size_t>(to.size() + 1));
    for (size_t i = 0; i <= from.size(); ++i) {
        for (size_t j = 0; j <= to.size(); ++j) {
            if (i == 0 || j == 0) {
                d[i][j] = i + j;
                continue;
            }
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (from[i - 1] == to[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && from[i - 1] == to[j - 2] && from[i - 2] == to[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[from.size()][to.size()];
}

void CheckClass(const Rule& rule, std::vector<RuleDiagnostic>& out)
{
    if (std::find(RuleClassNames.begin(), RuleClassNames.end(), rule.Class) !=
        RuleClassNames.end()) {
        return;
    }
    std::string message = "class " + Quoted(rule.Class) + " is not a known class";
    // A known name written in another case or between blanks, or else the
    // nearest known name, when one is nearer than the others and a slip of
    // the keys away: at most a third of its letters, and two.
    const size_t first = rule.Class.find_first_not_of(" \t\r\n");
    const size_t last = rule.Class.find_last_not_of(" \t\r\n");
    const std::string wanted =
        first == std::string::npos ? "" : AsciiLower(rule.Class.substr(first, last - first + 1));
    std::string_view nearest;
    size_t best = std::min<size_t>(2, std::max<size_t>(1, wanted.size() / 3)) + 1;
    bool tie = false;
    for (size_t i = 0; i < RuleClassNames.size() && wanted.size() <= 64; ++i) {
        const size_t distance = EditDistance(wanted, AsciiLower(RuleClassNames[i]));
        tie = distance == best || (tie && distance > best);
        if (distance < best) {
            nearest = RuleClassNames[i];
            best = distance;
        }
    }
    if (!nearest.empty() && !tie) {
        message += "; did you mean \"" + std::string(nearest) + "\"?";
    }
    out.push_back(Warning(rule.ClassLine, "unknown-class", std::move(message)));
}

void CheckStateCount(const Rule& rule, std::vector<RuleDiagnostic>& out)
{
    const size_t states = rule.PlatformStates.size();
    if (rule.PlatformStateCount >= 0 && static_cast<size_t>(rule.PlatformStateCount) == states) {
        return;
    }
    std::string message = "platformstatecount is " + std::to_string(rule.PlatformStateCount);
    if (!IsPlainDecimal(rule.PlatformStateCountText)) {
        message += " (read from " + Quoted(rule.PlatformStateCountText) + ")";
    }
    message += " but the rule has " + std::to_string(states) + " platformstate element" +
               (states == 1 ? "" : "s");
    if (rule.PlatformStateCount <= 0) {
        message += "; none of them is validated or compared";
    } else if (static_cast<size_t>(rule.PlatformStateCount) < states) {
        message += "; those after the first " + std::to_string(rule.PlatformStateCount) +
                   " are neither validated nor compared";
    }
    out.push_back(Warning(rule.CountLine, "state-count-mismatch", std::move(message)));
}

void CheckPattern(const Rule& rule, std::vector<RuleDiagnostic>& out)
{
    // What rule matching does with a pattern the matcher refuses.
    const std::string Refused =
        "; a run warns about it and compares device ids with it only as plain text";
    if (rule.Regex.empty()) {
        // A WiFi-Radio rule also takes the adapter that the registry names.
        if (rule.ServiceName.empty() && rule.Class != "WiFi-Radio") {
            out.push_back(Warning(rule.Line, "matches-nothing",
                                  "the rule has neither a pattern nor a service name, so it "
                                  "matches no device"));
        }
        return;
    }
    if (rule.Regex.find_first_of("\r\n") != std::string::npos) {
        out.push_back(Warning(rule.RegexLine, "pattern-line-break",
                              "pattern " + Quoted(rule.Regex) +
                                  " holds a line break, which no device id holds, so the "
                                  "pattern matches nothing"));
    }
    if (rule.Regex.size() > RulePattern::MaxLength) {
        out.push_back({rule.RegexLine, Severity::Error, "invalid-pattern",
                       "pattern " + Quoted(rule.Regex) + " is longer than the " +
                           std::to_string(RulePattern::MaxLength) + " bytes the matcher takes" +
                           Refused});
        return;
    }
    const RulePattern pattern(rule.Regex);
    if (!pattern.Valid()) {
        const std::string nesting = pattern.Error().find("too deeply nested") == std::string::npos
                                        ? ""
                                        : ", deeper than the " +
                                              std::to_string(RulePattern::MaxNesting) +
                                              " levels the matcher takes";
        out.push_back({rule.RegexLine, Severity::Error, "invalid-pattern",
                       "pattern " + Quoted(rule.Regex) + " is not a valid regular expression (" +
                           pattern.Error() + ")" + nesting + Refused});
        return;
    }
    if (std::optional<SlowRepetition> slow = FindSlowRepetition(rule.Regex)) {
        out.push_back(
            Warning(rule.RegexLine, "slow-pattern",
                    "pattern " + Quoted(rule.Regex) +
                        (slow->Overlapping ? " repeats alternatives that can begin alike (offset "
                                           : " nests unbounded repetition (offset ") +
                        std::to_string(slow->Offset) +
                        "), which is slow to match: on a device id that almost "
                        "matches, a run can give up and count no match"));
    }
}

// Rule matching takes the first entry whose build the OS build contains, so
// a later entry that repeats or contains an earlier build is taken only when
// no entry fits at all and it is the last. Each build is looked up by its
// pieces of the lengths earlier builds have, not compared with every one.
void CheckOsBuilds(const RuleSet& rules, std::vector<RuleDiagnostic>& out)
{
    std::unordered_map<std::string_view, const OsEntry*> firstWithBuild;
    std::set<size_t> lengths;
    for (const OsEntry& entry : rules.OsEntries) {
        const std::string_view build = entry.Build;
        const OsEntry* taken = nullptr;  // the earliest entry taken before this one
        for (size_t length : lengths) {
            if (length > build.size()) {
                break;
            }
            for (size_t at = 0; at + length <= build.size(); ++at) {
                auto found = firstWithBuild.find(build.substr(at, length));
                if (found != firstWithBuild.end() &&
                    (taken == nullptr || found->second->Line < taken->Line)) {
                    taken = found->second;
                }
                if (length == 0) {
                    break;
                }
            }
        }
        if (taken != nullptr) {
            const std::string where = "the os element at line " + std::to_string(taken->Line);
            if (taken->Build == build) {
                out.push_back(Warning(entry.Line, "repeated-build",
                                      "OS build " + Quoted(entry.Build) + " repeats the build of " +
                                          where + ", which rule matching takes first"));
            } else {
                out.push_back(
                    Warning(entry.Line, "shadowed-build",
                            (taken->Build.empty()
                                 ? where + " has an empty build, which fits every OS build"
                                 : "OS build " + Quoted(entry.Build) + " contains the build " +
                                       Quoted(taken->Build) + " of " + where) +
                                "; rule matching takes that one first whenever this one fits"));
            }
        }
        firstWithBuild.try_emplace(build, &entry);
        lengths.insert(build.size());
    }
}

// Two rules of one entry that select the same devices the same way; the
// first of them takes every device.
void CheckDuplicates(const OsEntry& entry, std::vector<RuleDiagnostic>& out)
{
    using Key = std::tuple<std::string, std::string, std::string, std::string>;
    std::map<Key, int32_t> firstLine;
    for (const Rule& rule : entry.Rules) {
        auto [at, added] = firstLine.try_emplace(
            Key{rule.Class, rule.Regex, rule.ServiceName, rule.RuleOnParent}, rule.Line);
        if (!added) {
            out.push_back(Warning(rule.Line, "duplicate-rule",
                                  "the rule repeats the class, pattern and service name of the "
                                  "rule at line " +
                                      std::to_string(at->second) + " for the same OS build"));
        }
    }
}

// The text after "Line number=N: " in tinyxml2's error string: what it saw.
std::string XmlErrorDetail(const tinyxml2::XMLDocument& document)
{
    const std::string text = document.ErrorStr();
    size_t at = text.find("Line number=");
    at = at == std::string::npos ? at : text.find(": ", at);
    return at == std::string::npos ? "" : text.substr(at + 2);
}

bool IsReadFailure(tinyxml2::XMLError error)
{
    return error == tinyxml2::XML_ERROR_FILE_NOT_FOUND ||
           error == tinyxml2::XML_ERROR_FILE_COULD_NOT_BE_OPENED ||
           error == tinyxml2::XML_ERROR_FILE_READ_ERROR;
}

using Characters = std::bitset<256>;

// The characters a single item at `i` (a character, an escape, a class or a
// dot) can match; nothing when the item is of another kind or not
// understood here.
std::optional<Characters> ItemCharacters(std::string_view pattern, size_t i)
{
    auto escaped = [](char e) -> std::optional<Characters> {
        Characters set;
        auto add = [&](int from, int to) {
            for (int c = from; c <= to; ++c) {
                set.set(static_cast<size_t>(c));
            }
        };
        switch (std::tolower(static_cast<unsigned char>(e))) {
        case 'd':
            add('0', '9');
            break;
        case 'w':
            add('0', '9'), add('A', 'Z'), add('a', 'z'), add('_', '_');
            break;
        case 's':
            add('\t', '\r'), add(' ', ' ');
            break;
        default:
            if (std::isalnum(static_cast<unsigned char>(e))) {
                return std::nullopt;  // \x41, \p{L}, \b...: not read here
            }
            add(static_cast<unsigned char>(e), static_cast<unsigned char>(e));
            return set;
        }
        return std::isupper(static_cast<unsigned char>(e)) ? ~set : set;
    };
    const char c = pattern[i];
    if (c == '\\') {
        return i + 1 < pattern.size() ? escaped(pattern[i + 1]) : std::nullopt;
    }
    if (c == '.') {
        return ~Characters();
    }
    if (c == '(' || c == ')' || c == '|' || c == '^' || c == '$') {
        return std::nullopt;
    }
    if (c != '[') {
        return Characters().set(static_cast<unsigned char>(c));
    }
    Characters set;
    size_t j = i + 1;
    const bool negated = j < pattern.size() && pattern[j] == '^';
    j += negated ? 1 : 0;
    while (j < pattern.size() && pattern[j] != ']') {
        std::optional<Characters> one;
        if (pattern[j] == '\\' && j + 1 < pattern.size()) {
            one = escaped(pattern[j + 1]);
            j += 2;
        } else if (pattern[j] == '[') {
            return std::nullopt;  // [[:alpha:]]
        } else if (j + 2 < pattern.size() && pattern[j + 1] == '-' && pattern[j + 2] != ']') {
            one = Characters();
            for (int from = static_cast<unsigned char>(pattern[j]);
                 from <= static_cast<unsigned char>(pattern[j + 2]); ++from) {
                one->set(static_cast<size_t>(from));
            }
            j += 3;
        } else {
            one = Characters().set(static_cast<unsigned char>(pattern[j++]));
        }
        if (!one) {
            return std::nullopt;
        }
        set |= *one;
    }
    return negated ? ~set : set;
}

}  // namespace

std::optional<SlowRepetition> FindSlowRepetition(std::string_view pattern)
{
    // A group open around the scan position. `tail` says whether its current
    // alternative so far ends in a repetition without bound followed by
    // nothing but optional items; `anyTail` whether a finished one did.
    // `first` holds what the current alternative's first item can match
    // (nothing when that is not known), `begun` whether it has one yet;
    // `firsts` what the finished alternatives' first items can match
    // together, and `overlap` whether two of them share a character.
    // Atomic groups and lookarounds never backtrack into what they matched.
    struct Group {
        size_t start = 0;
        bool opaque = false;
        bool tailBefore = false;  // of the enclosing alternative, before the group
        bool tail = false;
        bool anyTail = false;
        std::optional<Characters> first;
        bool begun = false;
        Characters firsts;
        bool overlap = false;

        // The current alternative has ended at '|' or ')'.
        void EndAlternative()
        {
            if (first) {
                overlap = overlap || (firsts & *first).any();
                firsts |= *first;
            }
            first.reset();
            begun = false;
        }
    };
    // The item a quantifier applies to; none right after a quantifier, '(' or '|'.
    struct Item {
        bool present = false;
        bool tailBefore = false;
        bool group = false;
        size_t start = 0;
        bool groupTail = false;
        bool groupOverlap = false;
        bool leading = false;  // the first item of its alternative
    };
    std::vector<Group> open{Group{}};  // the pattern itself is the outermost
    // An item begins in the innermost group: the first of an alternative
    // says what the alternative can begin with.
    auto begin = [&](std::optional<Characters> characters) {
        Group& group = open.back();
        const bool leading = !group.begun;
        if (leading) {
            group.first = characters;
            group.begun = true;
        }
        return leading;
    };
    Item item;
    size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        // A quantifier: ?, *, +, {n}, {n,} or {n,m}; another brace is a literal.
        size_t end = i + 1;
        bool quantifier = c == '*' || c == '+' || c == '?';
        bool unbounded = c == '*' || c == '+';
        bool optional = c == '*' || c == '?';
        if (c == '{') {
            size_t j = i + 1;
            const size_t digits = j;
            while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j]))) {
                ++j;
            }
            const bool least0 =
                pattern.substr(digits, j - digits).find_first_not_of('0') == std::string_view::npos;
            const bool comma = j > digits && j < pattern.size() && pattern[j] == ',';
            const size_t maxDigits = comma ? ++j : j;
            while (comma && j < pattern.size() &&
                   std::isdigit(static_cast<unsigned char>(pattern[j]))) {
                ++j;
            }
            if (j > digits && j < pattern.size() && pattern[j] == '}') {
                quantifier = true;
                unbounded = comma && j == maxDigits;
                optional = least0;
                end = j + 1;
            }
        }
        if (quantifier) {
            // A possessive quantifier gives nothing back; a lazy one still can.
            const bool possessive = end < pattern.size() && pattern[end] == '+';
            i = end < pattern.size() && (pattern[end] == '+' || pattern[end] == '?') ? end + 1
                                                                                     : end;
            if (!item.present) {
                continue;
            }
            const bool itemTail = item.group && item.groupTail;
            if (unbounded && !possessive && itemTail) {
                return SlowRepetition{item.start, false};
            }
            if (unbounded && !possessive && item.group && item.groupOverlap) {
                return SlowRepetition{item.start, true};
            }
            if (item.leading && optional) {
                open.back().first.reset();  // the alternative may begin with what follows
            }
            const bool endsUnbounded = !possessive && (unbounded || itemTail);
            open.back().tail = endsUnbounded || (optional && item.tailBefore);
            item = {};
            continue;
        }
        const bool before = open.back().tail;
        if (c == '(') {
            const std::string_view kind = pattern.substr(i + 1, 3);
            const bool opaque = kind.starts_with("?>") || kind.starts_with("?=") ||
                                kind.starts_with("?!") || kind.starts_with("?<=") ||
                                kind.starts_with("?<!");
            begin(std::nullopt);
            open.push_back({i, opaque, before, false, false, {}, false, {}, false});
            item = {};
            ++i;
            // A group's own marker ("?:", "?<=", "?<name>") is not its first
            // item; after inline options ("?i:") what comes first is not read.
            if (pattern.substr(i, 1) == "?") {
                const std::string_view marker = pattern.substr(i, 3);
                const size_t named = marker.starts_with("?<") && !marker.starts_with("?<=") &&
                                             !marker.starts_with("?<!")
                                         ? pattern.find('>', i)
                                     : marker.starts_with("?P<") ? pattern.find('>', i)
                                                                 : std::string_view::npos;
                if (named != std::string_view::npos) {
                    i = named + 1;
                } else if (marker.starts_with("?<=") || marker.starts_with("?<!")) {
                    i += 3;
                } else if (marker.size() >= 2 &&
                           std::string_view(":>=!|").find(marker[1]) != std::string_view::npos) {
                    i += 2;
                } else {
                    open.back().begun = true;
                }
            }
            continue;
        }
        if (c == ')' && open.size() > 1) {
            open.back().EndAlternative();
            const Group closed = open.back();
            open.pop_back();
            const bool groupTail = !closed.opaque && (closed.tail || closed.anyTail);
            open.back().tail = groupTail;
            item = {true,         closed.tailBefore, true,
                    closed.start, groupTail,         !closed.opaque && closed.overlap,
                    false};
            ++i;
            continue;
        }
        if (c == '|') {
            open.back().anyTail = open.back().anyTail || open.back().tail;
            open.back().tail = false;
            open.back().EndAlternative();
            item = {};
            ++i;
            continue;
        }
        // A single item: an escape, a class, or one character.
        const bool leading = begin(ItemCharacters(pattern, i));
        if (c == '\\') {
            i += 2;
        } else if (c == '[') {
            // As in ECMAScript, the first unescaped ']' ends the class, so "[]" is empty.
            size_t j = i + 1;
            if (j < pattern.size() && pattern[j] == '^') {
                ++j;
            }
            while (j < pattern.size() && pattern[j] != ']') {
                j += pattern[j] == '\\' ? 2 : 1;
            }
            i = j + 1;
        } else {
            ++i;
        }
        open.back().tail = false;
        item = {true, before, false, 0, false, false, leading};
    }
    return std::nullopt;
}

std::vector<RuleDiagnostic> LintRuleSet(const RuleSet& rules)
{
    std::vector<RuleDiagnostic> out;
    CheckOsBuilds(rules, out);
    for (const OsEntry& entry : rules.OsEntries) {
        for (const Rule& rule : entry.Rules) {
            CheckClass(rule, out);
            CheckPattern(rule, out);
            CheckStateCount(rule, out);
            // The states after the count are read by nothing.
            const size_t read =
                std::min<size_t>(std::max(rule.PlatformStateCount, 0), rule.PlatformStates.size());
            for (size_t i = 0; i < read; ++i) {
                const PlatformStateConstraint& state = rule.PlatformStates[i];
                const bool compared = i < ComparedPlatformStates;
                CheckStateText("D-state", state.DState, state.DStateLine, compared, out);
                CheckStateText("F-state", state.FState, state.FStateLine, compared, out);
            }
        }
        CheckDuplicates(entry, out);
    }
    std::stable_sort(out.begin(), out.end(), [](const RuleDiagnostic& a, const RuleDiagnostic& b) {
        return a.Line < b.Line;
    });
    return out;
}

RuleFileCheck CheckRuleFile(const std::string& path, FileSystem& files)
{
    RuleFileCheck check;
    check.Path = path;
    if (std::optional<std::string> refusal = InputFileRefusal(files.NativePath(path))) {
        check.Readable = false;
        check.Diagnostics.push_back(
            {0, Severity::Error, "unreadable", "cannot read the file (" + *refusal + ")"});
        return check;
    }
    tinyxml2::XMLDocument document;
    const tinyxml2::XMLError loaded = document.LoadFile(files.NativePath(path).c_str());
    if (IsReadFailure(loaded)) {
        check.Readable = false;
        check.Diagnostics.push_back(
            {0, Severity::Error, "unreadable",
             std::string("cannot read the file (") + document.ErrorName() + ")"});
        return check;
    }
    if (loaded != tinyxml2::XML_SUCCESS) {
        const std::string detail = XmlErrorDetail(document);
        check.Diagnostics.push_back({document.ErrorLineNum(), Severity::Error, "malformed-xml",
                                     std::string("malformed XML: ") + document.ErrorName() +
                                         (detail.empty() ? "" : " (" + detail + ")")});
    }

    std::vector<std::string> messages;
    // The run echoes its USER_INFO lines to the console; the check reports
    // them from the log instead.
    NullConsole console;
    DebugLog log(console);
    log.Observe([&messages](LogLevel level, const std::string& message, int32_t) {
        if (level == LogLevel::Error || level == LogLevel::UserInfo) {
            messages.push_back(message);
        }
    });
    RuleSet rules;
    int32_t stopLine = 0;
    if (LoadRuleFile(path, rules, log, files, &stopLine) != 0) {
        for (std::string& message : messages) {
            const Severity level = check.Diagnostics.empty() ? Severity::Error : Severity::Note;
            check.Diagnostics.push_back({stopLine, level, "rule-file-invalid", std::move(message)});
        }
        return check;
    }
    std::vector<RuleDiagnostic> lint = LintRuleSet(rules);
    check.Diagnostics.insert(check.Diagnostics.end(), std::make_move_iterator(lint.begin()),
                             std::make_move_iterator(lint.end()));
    return check;
}

std::string_view SeverityName(Severity severity)
{
    switch (severity) {
    case Severity::Error:
        return "error";
    case Severity::Warning:
        return "warning";
    case Severity::Note:
        return "note";
    }
    return "error";
}

std::string FormatDiagnostic(const std::string& path, const RuleDiagnostic& diagnostic)
{
    std::string line = path;
    if (diagnostic.Line > 0) {
        line += ":" + std::to_string(diagnostic.Line);
    }
    line += ": ";
    line += SeverityName(diagnostic.Level);
    line += ": ";
    for (char c : diagnostic.Message) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            line += "\\x" + std::string(byte < 0x10 ? "0" : "") + NumberAsHex(byte);
        } else {
            line += c;
        }
    }
    line += " [" + diagnostic.Code + "]";
    return line;
}

std::string DiagnosticsAsJson(const std::vector<RuleFileCheck>& checks)
{
    nlohmann::json list = nlohmann::json::array();
    for (const RuleFileCheck& check : checks) {
        for (const RuleDiagnostic& diagnostic : check.Diagnostics) {
            list.push_back({{"file", check.Path},
                            {"line", diagnostic.Line},
                            {"severity", SeverityName(diagnostic.Level)},
                            {"code", diagnostic.Code},
                            {"message", diagnostic.Message}});
        }
    }
    return list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace dormex
