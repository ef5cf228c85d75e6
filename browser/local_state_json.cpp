#include "browser/local_state_json.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace local_state {

namespace {

// Strict JSON, read as a stream of events and written straight back, so that only the members the edit
// touches are ever rebuilt. Numbers are never converted (see MaskNumbers); iterative so that the
// reader's depth does not depend on the thread's stack.
constexpr unsigned kParseFlags =
    rapidjson::kParseDefaultFlags | rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag;
// Text nested deeper than this is refused; no Local State comes near it.
constexpr int kMaxDepth = 512;

const char kProtocolHandler[] = "protocol_handler";
const char kExcludedSchemes[] = "excluded_schemes";

struct Span {
    size_t start, length;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsNumberChar(char c) { return IsDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'; }

// Length of the JSON number (-? (0 | [1-9][0-9]*) (.[0-9]+)? ([eE][+-]?[0-9]+)?) that spans exactly
// text[pos, end), or 0 when that run of characters is not one.
size_t NumberLength(const std::string& text, size_t pos, size_t end) {
    size_t i = pos;
    if (i < end && text[i] == '-') ++i;
    if (i < end && text[i] == '0') {
        ++i;
    } else if (i < end && text[i] >= '1' && text[i] <= '9') {
        while (i < end && IsDigit(text[i])) ++i;
    } else {
        return 0;
    }
    if (i < end && text[i] == '.') {
        const size_t first = ++i;
        while (i < end && IsDigit(text[i])) ++i;
        if (i == first) return 0;
    }
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < end && (text[i] == '+' || text[i] == '-')) ++i;
        const size_t first = i;
        while (i < end && IsDigit(text[i])) ++i;
        if (i == first) return 0;
    }
    return i == end ? end - pos : 0;
}

// The reader never sees a number of the text: RapidJSON's conversion crashes on some long numbers,
// refuses those beyond the range of a double even when asked for their text, and rounds others. In
// `masked`, each number outside strings becomes a 0 padded with spaces to the same length, and
// `numbers` says where each was, in order, so that the handler writes back the original text. False
// when a number is not a valid JSON number. A valid number and a 0 followed by spaces fit in the same
// places of JSON text, so the masked text is valid JSON exactly when the text is.
bool MaskNumbers(const std::string& text, std::string& masked, std::vector<Span>& numbers) {
    masked = text;
    const size_t size = text.size();
    size_t i = 0;
    while (i < size) {
        const char c = text[i];
        if (c == '"') {
            for (++i; i < size && text[i] != '"'; ++i) {
                if (text[i] == '\\') ++i;
            }
            ++i;
        } else if (c == '-' || IsDigit(c)) {
            size_t end = i;
            while (end < size && IsNumberChar(text[end])) ++end;
            const size_t length = NumberLength(text, i, end);
            if (length == 0) return false;
            numbers.push_back({i, length});
            masked[i] = '0';
            std::memset(&masked[i + 1], ' ', length - 1);
            i = end;
        } else {
            ++i;
        }
    }
    return true;
}

enum class Mode { Query, Add, Remove };

// Where an object or array sits: the three the edit looks into, or any other.
enum class Role { Other, Root, Handler, Excluded };

struct Frame {
    Role role;
    bool sawChild;  // the root has seen protocol_handler, or protocol_handler has seen excluded_schemes
};

// A member of excluded_schemes: its decoded name, and where its written text ("name":value, without
// the separating comma) lies in the output.
struct Member {
    std::string name;
    size_t start, end;
};

// Reads the events of the masked text and, unless querying, writes them back compactly. Looks into
// the first protocol_handler of the root and its first excluded_schemes (the ones a lookup by name
// finds), and applies the edit there when that object ends.
class EditHandler {
public:
    EditHandler(Mode mode, const std::string& name, const std::string& text, const std::vector<Span>& numbers,
                rapidjson::StringBuffer* buffer)
        : mode_(mode), name_(name), text_(text), numbers_(numbers), buffer_(buffer) {
        if (buffer_) writer_.Reset(*buffer_);
    }

    // The member was there before the edit.
    bool found() const { return found_; }

    bool Null() { return BeginValue(false) && (!buffer_ || writer_.Null()); }
    bool Bool(bool b) { return BeginValue(false) && (!buffer_ || writer_.Bool(b)); }
    // Numbers arrive only as text.
    bool Int(int) { return false; }
    bool Uint(unsigned) { return false; }
    bool Int64(int64_t) { return false; }
    bool Uint64(uint64_t) { return false; }
    bool Double(double) { return false; }

    bool RawNumber(const char*, rapidjson::SizeType, bool) {
        if (nextNumber_ >= numbers_.size() || !BeginValue(false)) return false;
        const Span& number = numbers_[nextNumber_++];
        return !buffer_ || writer_.RawValue(text_.data() + number.start, number.length, rapidjson::kNumberType);
    }

    bool String(const char* str, rapidjson::SizeType length, bool) {
        return BeginValue(false) && (!buffer_ || writer_.String(str, length));
    }

    bool StartObject() {
        if (!Enter(true) || (buffer_ && !writer_.StartObject())) return false;
        if (frames_.back().role == Role::Excluded) bodyStart_ = Position();
        return true;
    }

    bool Key(const char* str, rapidjson::SizeType length, bool) {
        Frame& top = frames_.back();
        if (top.role == Role::Root && !top.sawChild && Same(str, length, kProtocolHandler)) {
            top.sawChild = true;
            pending_ = Role::Handler;
        } else if (top.role == Role::Handler && !top.sawChild && Same(str, length, kExcludedSchemes)) {
            top.sawChild = true;
            pending_ = Role::Excluded;
        } else if (top.role == Role::Excluded) {
            if (!members_.empty()) members_.back().end = Position();
            members_.push_back({std::string(str, length), Position() + (members_.empty() ? 0 : 1), 0});
            if (members_.back().name == name_) found_ = true;
        }
        return !buffer_ || writer_.Key(str, length);
    }

    bool EndObject(rapidjson::SizeType) {
        const Frame top = frames_.back();
        frames_.pop_back();
        --depth_;
        if (!buffer_) return true;
        if (top.role == Role::Excluded) {
            if (!members_.empty()) members_.back().end = Position();
            if (mode_ == Mode::Add && !found_) AppendMember();
            if (mode_ == Mode::Remove && found_) RemoveMembers();
        } else if (top.role == Role::Handler && mode_ == Mode::Add && !top.sawChild) {
            writer_.Key(kExcludedSchemes);
            writer_.StartObject();
            AppendMember();
            writer_.EndObject();
        } else if (top.role == Role::Root && mode_ == Mode::Add && !top.sawChild) {
            writer_.Key(kProtocolHandler);
            writer_.StartObject();
            writer_.Key(kExcludedSchemes);
            writer_.StartObject();
            AppendMember();
            writer_.EndObject();
            writer_.EndObject();
        }
        return writer_.EndObject();
    }

    bool StartArray() { return Enter(false) && (!buffer_ || writer_.StartArray()); }

    bool EndArray(rapidjson::SizeType) {
        frames_.pop_back();
        --depth_;
        return !buffer_ || writer_.EndArray();
    }

private:
    static bool Same(const char* str, rapidjson::SizeType length, const char* name) {
        return length == std::strlen(name) && std::memcmp(str, name, length) == 0;
    }

    size_t Position() const { return buffer_ ? buffer_->GetSize() : 0; }

    // A value begins: the root must be an object, and so must the protocol_handler and
    // excluded_schemes the edit looks into.
    bool BeginValue(bool isObject) {
        Role role = Role::Other;
        if (frames_.empty()) {
            role = Role::Root;
        } else {
            role = pending_;
            pending_ = Role::Other;
        }
        if (role != Role::Other && !isObject) return false;
        newRole_ = role;
        return true;
    }

    bool Enter(bool isObject) {
        if (!BeginValue(isObject) || ++depth_ > kMaxDepth) return false;
        frames_.push_back({newRole_, false});
        return true;
    }

    void AppendMember() {
        writer_.Key(name_.data(), static_cast<rapidjson::SizeType>(name_.size()));
        writer_.Bool(false);
    }

    // Removes every member named like the scheme from the written excluded_schemes. As with removal
    // from a JSON object by position, the last member takes the place of a removed one and the others
    // keep their order; a repeated name is looked up again from the start.
    void RemoveMembers() {
        std::vector<size_t> order;
        for (size_t i = 0; i < members_.size(); ++i) order.push_back(i);
        for (;;) {
            size_t i = 0;
            while (i < order.size() && members_[order[i]].name != name_) ++i;
            if (i == order.size()) break;
            order[i] = order.back();
            order.pop_back();
        }
        const size_t bodyLength = Position() - bodyStart_;
        const std::string body(buffer_->GetString() + bodyStart_, bodyLength);
        std::string rebuilt;
        rebuilt.reserve(bodyLength);
        for (size_t i : order) {
            if (!rebuilt.empty()) rebuilt += ',';
            rebuilt.append(body, members_[i].start - bodyStart_, members_[i].end - members_[i].start);
        }
        buffer_->Pop(bodyLength);
        std::memcpy(buffer_->Push(rebuilt.size()), rebuilt.data(), rebuilt.size());
    }

    const Mode mode_;
    const std::string& name_;
    const std::string& text_;
    const std::vector<Span>& numbers_;
    rapidjson::StringBuffer* buffer_;
    rapidjson::Writer<rapidjson::StringBuffer> writer_;
    std::vector<Frame> frames_;
    std::vector<Member> members_;
    size_t nextNumber_ = 0;
    size_t bodyStart_ = 0;
    int depth_ = 0;
    Role pending_ = Role::Other;
    Role newRole_ = Role::Other;
    bool found_ = false;
};

// Runs the handler over text. False when the text is not JSON, is nested too deep, or has not the
// shape the edit expects. Text after an embedded NUL would not be read and so would be lost on
// writing back: such text is refused.
bool Run(const std::string& text, Mode mode, const std::string& name, rapidjson::StringBuffer* buffer,
         bool& found) {
    if (std::strlen(text.c_str()) != text.size()) return false;
    std::string masked;
    std::vector<Span> numbers;
    if (!MaskNumbers(text, masked, numbers)) return false;
    EditHandler handler(mode, name, text, numbers, buffer);
    rapidjson::Reader reader;
    rapidjson::StringStream stream(masked.c_str());
    if (reader.Parse<kParseFlags>(stream, handler).IsError()) return false;
    found = handler.found();
    return true;
}

EditResult Edit(const std::string& text, Mode mode, const std::string& name, std::string& out) {
    try {
        rapidjson::StringBuffer buffer;
        bool found = false;
        if (!Run(text, mode, name, &buffer, found)) return EditResult::Invalid;
        if (found == (mode == Mode::Add)) return EditResult::Unchanged;
        out.assign(buffer.GetString(), buffer.GetSize());
        return EditResult::Changed;
    } catch (const std::bad_alloc&) {
        return EditResult::Invalid;
    }
}

}  // namespace

bool HasExclusion(const std::string& text, const std::string& name, bool* valid) {
    if (valid) *valid = false;
    try {
        bool found = false;
        if (!Run(text, Mode::Query, name, nullptr, found)) return false;
        if (valid) *valid = true;
        return found;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

EditResult AddExclusion(const std::string& text, const std::string& name, std::string& out) {
    return Edit(text, Mode::Add, name, out);
}

EditResult RemoveExclusion(const std::string& text, const std::string& name, std::string& out) {
    return Edit(text, Mode::Remove, name, out);
}

}  // namespace local_state
