#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dormex {

class FileSystem;
struct RuleSet;

enum class Severity { Error, Warning, Note };

// One finding about a rule file, at a line of it (0: the file as a whole).
// `Code` names the kind of finding for tools and for people who look it up.
struct RuleDiagnostic {
    int32_t Line = 0;
    Severity Level = Severity::Error;
    std::string Code;
    std::string Message;

    bool operator==(const RuleDiagnostic&) const = default;
};

struct RuleFileCheck {
    std::string Path;
    bool Readable = true;
    std::vector<RuleDiagnostic> Diagnostics;
};

// Loads the rule file as a run does. When that fails, the messages the run
// logs about it follow, all at the line where loading stopped: the first as
// an error (after the XML fault for a malformed document), the rest as
// notes. A file that loads is then linted.
RuleFileCheck CheckRuleFile(const std::string& path, FileSystem& files);

// What a run accepts but is most likely a mistake (warnings), and patterns
// the matcher refuses (errors: such a rule matches no device by its id).
std::vector<RuleDiagnostic> LintRuleSet(const RuleSet& rules);

// A group repeated without bound in a way that a text that almost matches can
// take exponential time to reject: it holds a repetition without bound, as in
// "(a+)+", or two of its alternatives can begin with the same character, as
// in "(a|aa)+" or "(\w|\d)+".
struct SlowRepetition {
    size_t Offset;     // of the group
    bool Overlapping;  // by its alternatives, not by a repetition inside
};
std::optional<SlowRepetition> FindSlowRepetition(std::string_view pattern);

std::string_view SeverityName(Severity severity);

// "file:line: severity: message [code]" (no line for the file as a whole),
// with control characters shown as \xNN so that it stays one line.
std::string FormatDiagnostic(const std::string& path, const RuleDiagnostic& diagnostic);

// Every diagnostic of every file as one JSON array of objects with file,
// line, severity, code and message.
std::string DiagnosticsAsJson(const std::vector<RuleFileCheck>& checks);

}  // namespace dormex
