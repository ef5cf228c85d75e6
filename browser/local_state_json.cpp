#include "browser/local_state_json.h"

#include <cstring>
#include <new>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace local_state {

namespace {

// Strict JSON; full precision so that every number reads back as the same double it was written from;
// iterative so that the parser's depth does not depend on the thread's stack.
constexpr unsigned kParseFlags =
    rapidjson::kParseDefaultFlags | rapidjson::kParseFullPrecisionFlag | rapidjson::kParseIterativeFlag;
// Writing a document back recurses once per level; deeper text than this is refused.
constexpr int kMaxDepth = 512;

const char kProtocolHandler[] = "protocol_handler";
const char kExcludedSchemes[] = "excluded_schemes";

// Deepest nesting of arrays and objects in text, counting brackets outside strings.
int NestingDepth(const std::string& text) {
    int depth = 0, deepest = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > deepest) deepest = depth;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return deepest;
}

// Parses text whose only NUL is its terminator: text after an embedded NUL would not be read and so
// would be lost on writing back.
bool Parse(const std::string& text, rapidjson::Document& doc) {
    if (std::strlen(text.c_str()) != text.size()) return false;
    if (NestingDepth(text) > kMaxDepth) return false;
    doc.Parse<kParseFlags>(text.c_str());
    return !doc.HasParseError() && doc.IsObject();
}

// The member `name` of obj, or null when absent. Sets `shapeOk` false when it exists but is no object.
rapidjson::Value* FindObject(rapidjson::Value& obj, const char* name, bool& shapeOk) {
    auto it = obj.FindMember(name);
    if (it == obj.MemberEnd()) return nullptr;
    if (!it->value.IsObject()) {
        shapeOk = false;
        return nullptr;
    }
    return &it->value;
}

rapidjson::Value MakeName(const std::string& name, rapidjson::Document::AllocatorType& alloc) {
    return rapidjson::Value(name.data(), static_cast<rapidjson::SizeType>(name.size()), alloc);
}

bool HasMember(const rapidjson::Value& obj, const std::string& name) {
    rapidjson::Value key(rapidjson::StringRef(name.data(), static_cast<rapidjson::SizeType>(name.size())));
    return obj.FindMember(key) != obj.MemberEnd();
}

bool Serialise(const rapidjson::Document& doc, std::string& out) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    if (!doc.Accept(writer)) return false;
    out.assign(buffer.GetString(), buffer.GetSize());
    return true;
}

}  // namespace

bool HasExclusion(const std::string& text, const std::string& name, bool* valid) {
    if (valid) *valid = false;
    try {
        rapidjson::Document doc;
        if (!Parse(text, doc)) return false;
        bool shapeOk = true;
        rapidjson::Value* handler = FindObject(doc, kProtocolHandler, shapeOk);
        rapidjson::Value* excluded = handler ? FindObject(*handler, kExcludedSchemes, shapeOk) : nullptr;
        if (valid) *valid = shapeOk;
        return excluded && HasMember(*excluded, name);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

EditResult AddExclusion(const std::string& text, const std::string& name, std::string& out) {
    try {
        rapidjson::Document doc;
        if (!Parse(text, doc)) return EditResult::Invalid;
        auto& alloc = doc.GetAllocator();
        bool shapeOk = true;
        rapidjson::Value* handler = FindObject(doc, kProtocolHandler, shapeOk);
        if (!shapeOk) return EditResult::Invalid;
        if (!handler) {
            doc.AddMember(rapidjson::StringRef(kProtocolHandler), rapidjson::Value(rapidjson::kObjectType), alloc);
            handler = &doc[kProtocolHandler];
        }
        rapidjson::Value* excluded = FindObject(*handler, kExcludedSchemes, shapeOk);
        if (!shapeOk) return EditResult::Invalid;
        if (!excluded) {
            handler->AddMember(rapidjson::StringRef(kExcludedSchemes), rapidjson::Value(rapidjson::kObjectType),
                               alloc);
            excluded = &(*handler)[kExcludedSchemes];
        }
        if (HasMember(*excluded, name)) return EditResult::Unchanged;
        excluded->AddMember(MakeName(name, alloc), rapidjson::Value(false), alloc);
        return Serialise(doc, out) ? EditResult::Changed : EditResult::Invalid;
    } catch (const std::bad_alloc&) {
        return EditResult::Invalid;
    }
}

EditResult RemoveExclusion(const std::string& text, const std::string& name, std::string& out) {
    try {
        rapidjson::Document doc;
        if (!Parse(text, doc)) return EditResult::Invalid;
        bool shapeOk = true;
        rapidjson::Value* handler = FindObject(doc, kProtocolHandler, shapeOk);
        rapidjson::Value* excluded = handler ? FindObject(*handler, kExcludedSchemes, shapeOk) : nullptr;
        if (!shapeOk) return EditResult::Invalid;
        if (!excluded || !HasMember(*excluded, name)) return EditResult::Unchanged;
        rapidjson::Value key(rapidjson::StringRef(name.data(), static_cast<rapidjson::SizeType>(name.size())));
        // A hand-edited file may name the scheme twice; the result promises it is gone.
        for (auto it = excluded->FindMember(key); it != excluded->MemberEnd(); it = excluded->FindMember(key))
            excluded->RemoveMember(it);
        return Serialise(doc, out) ? EditResult::Changed : EditResult::Invalid;
    } catch (const std::bad_alloc&) {
        return EditResult::Invalid;
    }
}

}  // namespace local_state
