// Native fuzz target for the Local State edit (Linux, not part of the Windows build): the edit must
// never crash, must agree with itself across the three operations, and must never change a number.
// Built and run by run.sh.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "browser/local_state_json.h"
#include "tests/support/json_text.h"

using local_state::EditResult;

namespace {

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// The texts of the numbers outside strings, in order.
std::vector<std::string> Numbers(const std::string& text) {
    std::vector<std::string> numbers;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i)
                if (text[i] == '\\') ++i;
            ++i;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            const size_t start = i;
            while (i < text.size() && text[i] && std::strchr("0123456789+-.eE", text[i])) ++i;
            numbers.push_back(text.substr(start, i - start));
        } else {
            ++i;
        }
    }
    return numbers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    bool valid = false;
    const bool has = local_state::HasExclusion(text, "tsl", &valid);
    std::string added, removed;
    const EditResult add = local_state::AddExclusion(text, "tsl", added);
    const EditResult remove = local_state::RemoveExclusion(text, "tsl", removed);
    Check(valid == (add != EditResult::Invalid) && valid == (remove != EditResult::Invalid), "same validity");

    // A reader that converts no number either (it refuses those beyond a double's range).
    if (std::strlen(text.c_str()) == text.size()) {
        rapidjson::Document doc;
        doc.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag>(text.c_str());
        if (valid) Check(!doc.HasParseError() || doc.GetParseError() == rapidjson::kParseErrorNumberTooBig,
                         "valid only when JSON");
        if (!doc.HasParseError() && doc.IsObject() && !doc.HasMember("protocol_handler") &&
            json_text::NestingDepth(text) <= 512)
            Check(valid, "JSON object without protocol_handler is usable");
    }
    if (!valid) return 0;

    Check(has == (add == EditResult::Unchanged), "add changes exactly when absent");
    Check(has == (remove == EditResult::Changed), "remove changes exactly when present");
    if (add == EditResult::Changed) {
        Check(json_text::IsCompact(added), "added is compact");
        Check(Numbers(added) == Numbers(text), "add keeps every number");
        bool addedValid = false;
        Check(local_state::HasExclusion(added, "tsl", &addedValid) && addedValid, "added has the member");
        std::string again;
        Check(local_state::AddExclusion(added, "tsl", again) == EditResult::Unchanged, "add twice");
        std::string back;
        Check(local_state::RemoveExclusion(added, "tsl", back) == EditResult::Changed, "remove after add");
        Check(local_state::AddExclusion(back, "tsl", again) == EditResult::Changed && again == added,
              "the added member is the last one");
    }
    if (remove == EditResult::Changed) {
        Check(json_text::IsCompact(removed), "removed is compact");
        bool removedValid = false;
        Check(!local_state::HasExclusion(removed, "tsl", &removedValid) && removedValid, "removed lacks it");
        std::string again;
        Check(local_state::RemoveExclusion(removed, "tsl", again) == EditResult::Unchanged, "remove twice");
        std::vector<std::string> before = Numbers(text), after = Numbers(removed);
        std::sort(before.begin(), before.end());
        std::sort(after.begin(), after.end());
        Check(std::includes(before.begin(), before.end(), after.begin(), after.end()), "remove keeps numbers");
    }
    return 0;
}
