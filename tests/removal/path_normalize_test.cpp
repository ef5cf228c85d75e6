#include <gtest/gtest.h>

#include <string>

#include "common/string_format.h"
#include "removal/path_normalize.h"

namespace {

void AsciiUpperCase(wchar_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] >= L'a' && text[i] <= L'z') text[i] = static_cast<wchar_t>(text[i] - L'a' + L'A');
}

// Marks every unit it is given, to show which text reaches the fold.
void MarkingFold(wchar_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] == L'e') text[i] = L'#';
}

}  // namespace

TEST(PathNormalize, NormalisesForComparison) {
    struct Case {
        const wchar_t* path;
        bool ok;
        const wchar_t* normal;
    } cases[] = {
        {L"C:\\Windows", true, L"C:\\WINDOWS"},
        {L"c:/windows/", true, L"C:\\WINDOWS"},
        {L"C:\\Windows\\\\System32\\..\\.\\", true, L"C:\\WINDOWS"},
        {L"C:\\Windows. \\", true, L"C:\\WINDOWS"},
        {L"C:\\..\\..\\Windows", true, L"C:\\WINDOWS"},
        {L"C:\\", true, L"C:"},
        {L"C:\\.", true, L"C:"},
        {L"C:\\Windows\\..", true, L"C:"},
        {L"\\\\?\\C:\\Windows", true, L"C:\\WINDOWS"},
        {L"\\\\?\\UNC\\server\\share\\x", true, L"\\\\SERVER\\SHARE\\X"},
        {L"\\\\server\\share\\..\\..", true, L"\\\\SERVER\\SHARE"},
        {L"//server/share/", true, L"\\\\SERVER\\SHARE"},
        {L"C:", false, L""},
        {L"C:Windows", false, L""},
        {L"\\Windows", false, L""},
        {L"Windows", false, L""},
        {L".", false, L""},
        {L"", false, L""},
        {L"\\\\server", false, L""},
        {L"\\\\.\\C:\\", false, L""},
        {L"C:\\Temp\\*", false, L""},
        {L"\\??\\c:\\x", true, L"C:\\X"},
        {L"\\\\?\\unc\\server\\share", true, L"\\\\SERVER\\SHARE"},
        {L"\\\\server\\..\\share", false, L""},  // ".." cannot stand for the server or the share
        {L"C:\\a\\... \\b", true, L"C:\\A\\B"},  // a name of dots and spaces only is no name
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(c.path));
        std::wstring out = L"stale";
        EXPECT_EQ(orlyn::NormalizePathForCompare(c.path, AsciiUpperCase, out), c.ok);
        EXPECT_EQ(out, c.normal);
    }
}

TEST(PathNormalize, CaseComesFromTheGivenFoldAlone) {
    std::wstring out;
    // Letters the fold leaves alone stay as they are; the fold sees the whole result, prefix included.
    ASSERT_TRUE(orlyn::NormalizePathForCompare(L"\\\\?\\C:\\here\\élan", MarkingFold, out));
    EXPECT_EQ(out, L"C:\\h#r#\\élan");
    // The "UNC" of a long share path is recognised through the fold too.
    EXPECT_TRUE(orlyn::NormalizePathForCompare(L"\\\\?\\unc\\s\\t", AsciiUpperCase, out));
    EXPECT_EQ(out, L"\\\\S\\T");
    EXPECT_FALSE(orlyn::NormalizePathForCompare(L"\\\\?\\unc\\s\\t", MarkingFold, out));
}

TEST(PathNormalize, RelatesComparisonForms) {
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        bool sameOrAbove;
        bool directlyInside;  // b directly inside a
    } cases[] = {
        {L"C:\\A", L"C:\\A", true, false},
        {L"C:\\A", L"C:\\A\\B", true, true},
        {L"C:\\A", L"C:\\A\\B\\C", true, false},
        {L"C:\\A", L"C:\\AB", false, false},
        {L"C:\\A\\B", L"C:\\A", false, false},
        {L"C:", L"C:\\A", true, true},
        {L"\\\\S\\T", L"\\\\S\\T\\U", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(orlyn::ToUtf8(std::wstring(c.a) + L" / " + c.b));
        EXPECT_EQ(orlyn::IsSameOrAbove(c.a, c.b), c.sameOrAbove);
        EXPECT_EQ(orlyn::IsDirectlyInside(c.b, c.a), c.directlyInside);
    }
    struct Root {
        const wchar_t* form;
        bool root;
    } roots[] = {
        {L"C:", true}, {L"\\\\S\\T", true}, {L"C:\\A", false}, {L"\\\\S\\T\\U", false},
    };
    for (const auto& r : roots) {
        SCOPED_TRACE(orlyn::ToUtf8(r.form));
        EXPECT_EQ(orlyn::IsRootForm(r.form), r.root);
    }
}
