#include "lab/RunRecords.h"

#include <algorithm>

#include "common/FileLimits.h"
#include "common/StrictJson.h"
#include "lab/CaptureFiles.h"
#include "lab/Library.h"

namespace dormex {

namespace fs = std::filesystem;

namespace {

using Json = nlohmann::ordered_json;

std::string TextAt(const Json& document, std::initializer_list<const char*> path)
{
    const Json* value = &document;
    for (const char* name : path) {
        if (!value->is_object() || !value->contains(name)) {
            return "Unknown";
        }
        value = &(*value)[name];
    }
    if (value->is_string()) {
        return value->get<std::string>();
    }
    return value->is_number() ? value->dump() : "Unknown";
}

}  // namespace

std::string MachineName(const RunRecord& run)
{
    return run.Manufacturer + " " + run.ProductName + " (" + run.Processor + ")";
}

std::variant<RunRecord, std::string> ReadRunRecord(const fs::path& file)
{
    const std::string name = Utf8Path(file);
    InputFileText input = ReadInputFile(name);
    if (!input.Fault.empty()) {
        return name + ": " + input.Fault;
    }
    Json document;
    try {
        document = ParseStrictJson<Json>(input.Text);
    } catch (const JsonFault& fault) {
        return name + ": " + JsonExcerpt(fault.Path + ": " + fault.Message, 200);
    }
    if (!document.is_object() || document.value("format", "") != "dormex-results/1") {
        return name + ": not a dormex-results/1 document";
    }
    RunRecord run;
    run.File = file;
    run.Time = TextAt(document, {"time"});
    run.Capture = TextAt(document, {"capture"});
    run.Manufacturer = TextAt(document, {"machine", "manufacturer"});
    run.ProductName = TextAt(document, {"machine", "productName"});
    run.Processor = "family " + TextAt(document, {"machine", "cpu", "family"}) + " model " +
                    TextAt(document, {"machine", "cpu", "model"}) + " stepping " +
                    TextAt(document, {"machine", "cpu", "stepping"});
    run.BiosVendor = TextAt(document, {"machine", "bios", "vendor"});
    run.BiosVersion = TextAt(document, {"machine", "bios", "version"});
    run.OsBuild = TextAt(document, {"machine", "osBuild"});
    if (document.contains("ruleFile") && document["ruleFile"].is_object()) {
        run.RuleFile = TextAt(document, {"ruleFile", "path"});
    }
    if (auto lpit = document.find("lpit"); lpit != document.end() && lpit->is_object()) {
        if (auto states = lpit->find("states"); states != lpit->end() && states->is_array()) {
            for (const Json& state : *states) {
                run.LpitStates.push_back(TextAt(state, {"uniqueId"}));
            }
        }
    }
    if (TextAt(document, {"outcome", "result"}) != "completed") {
        run.Stop = TextAt(document, {"outcome", "stop"});
        return run;
    }
    auto findings = ReadDocumentFindings(std::move(document));
    if (auto* fault = std::get_if<std::string>(&findings)) {
        return name + ": " + *fault;
    }
    run.Findings = std::get<std::vector<ComparedFinding>>(std::move(findings));
    return run;
}

std::variant<std::vector<fs::path>, std::string> FindResultsFiles(
    const std::vector<std::string>& arguments)
{
    std::vector<fs::path> files;
    for (const std::string& argument : arguments) {
        const fs::path given = PathOfUtf8(argument);
        std::error_code error;
        if (fs::is_regular_file(given, error)) {
            files.push_back(given);
            continue;
        }
        if (!fs::is_directory(given, error)) {
            return argument + ": no such file or folder";
        }
        std::vector<fs::path> found;
        fs::recursive_directory_iterator entries(
            given, fs::directory_options::skip_permission_denied, error);
        for (auto entry = entries; !error && entry != fs::recursive_directory_iterator();
             entry.increment(error)) {
            if (entry->path().filename() == LabResultsFileName && entry->is_regular_file(error)) {
                found.push_back(entry->path());
            }
        }
        if (error) {
            return argument + ": cannot be searched: " + error.message();
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

}  // namespace dormex
