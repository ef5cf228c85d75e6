#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

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

struct NormalCase {
    const wchar_t* path;
    bool ok;
    const wchar_t* normal;
};
const NormalCase kNormalCases[] = {
    {L"C:\\Windows", true, L"C:\\WINDOWS"},
    {L"c:/windows/", true, L"C:\\WINDOWS"},
    {L"C:\\Windows\\\\System32\\..\\.\\", true, L"C:\\WINDOWS"},
    {L"C:\\Windows. \\", true, L"C:\\WINDOWS"},
    {L"C:\\..\\..\\Windows", true, L"C:\\WINDOWS"},
    {L"C:\\", true, L"C:\\"},
    {L"C:\\.", true, L"C:\\"},
    {L"C:\\Windows\\..", true, L"C:\\"},
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
    {L"\\\\\\.U\\S\\x", false, L""},       // no server's name after the two backslashes
    {L"\\\\\\server\\share", false, L""},
    {L"\\\\?\\UNC\\\\server\\share", false, L""},
    {L"\\\\.U\\S\\x", true, L"\\\\.U\\S\\X"},  // a server named ".U", not the device namespace
    {L"\\\\.", false, L""},
    {L"\\\\?", false, L""},
    {L"\\\\.\\UNC\\s\\t", false, L""},
    {L"\\\\?\\C:", false, L""},                // the volume, not its root folder
    {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x", false, L""},
    {L"C:\\Windows::$INDEX_ALLOCATION", true, L"C:\\WINDOWS::$INDEX_ALLOCATION"},  // the guard refuses it
};

}  // namespace

TEST(PathNormalize, NormalisesForComparison) {
    for (const auto& c : kNormalCases) {
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
        {L"C:\\", L"C:\\A", true, true},
        {L"C:\\", L"C:\\A\\B", true, false},
        {L"C:\\", L"C:\\", true, false},
        {L"C:\\", L"D:\\A", false, false},
        {L"\\\\S\\T", L"\\\\S\\TU", false, false},
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
        {L"C:\\", true}, {L"\\\\S\\T", true}, {L"C:\\A", false}, {L"\\\\S\\T\\U", false}, {L"\\\\S", false},
    };
    for (const auto& r : roots) {
        SCOPED_TRACE(orlyn::ToUtf8(r.form));
        EXPECT_EQ(orlyn::IsRootForm(r.form), r.root);
    }
}

TEST(PathNormalize, AFormNormalisesToItself) {
    // The table's paths and many generated ones, from the pieces that path rules stumble on.
    std::vector<std::wstring> paths = {L"c:/x/./y/../z. ", L"\\??\\unc\\s\\t\\", L"\\\\server.\\share \\x"};
    for (const auto& c : kNormalCases) paths.push_back(c.path);
    const wchar_t* const pieces[] = {
        L"\\", L"/", L".", L"..", L" ", L"?", L"C:", L"c:", L"\\\\?\\", L"\\??\\", L"\\\\.\\", L"UNC", L"unc", L"a", L"B",
        L":", L"$", L"x.", L"\\\\", L"srv", L"\\\\.", L"UNC\\", L"::$INDEX_ALLOCATION", L"... ",
    };
    const size_t pieceCount = sizeof(pieces) / sizeof(pieces[0]);
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
    // Most start as a full path would, so that the rules past the first checks are reached.
    const wchar_t* const starts[] = {L"C:\\", L"c:/", L"\\\\?\\C:\\", L"\\??\\c:\\", L"\\\\srv\\share\\", L"//srv/", L""};
    const size_t startCount = sizeof(starts) / sizeof(starts[0]);
    for (int n = 0; n < 40000; ++n) {
        std::wstring path = starts[next() % startCount];
        for (uint32_t parts = 1 + next() % 10; parts > 0; --parts) path += pieces[next() % pieceCount];
        paths.push_back(path);
    }
    size_t normalised = 0;
    for (const std::wstring& path : paths) {
        std::wstring form;
        if (!orlyn::NormalizePathForCompare(path, AsciiUpperCase, form)) continue;
        ++normalised;
        std::wstring again = L"stale";
        ASSERT_TRUE(orlyn::NormalizePathForCompare(form, AsciiUpperCase, again)) << orlyn::ToUtf8(path);
        ASSERT_EQ(again, form) << orlyn::ToUtf8(path);
    }
    EXPECT_GT(normalised, paths.size() / 4);  // the generated paths reach the rules, not only the refusals
}

TEST(PathNormalize, TellsDeviceShareAndStreamNames) {
    struct Case {
        const wchar_t* path;
        bool device;
    } devices[] = {
        {L"\\\\.\\C:\\Windows", true},
        {L"//./C:/Windows", true},
        {L"\\\\.\\UNC\\localhost\\c$", true},
        {L"\\\\.", true},
        {L"\\\\?", true},
        {L"\\\\?\\C:", true},  // the volume itself
        {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\Windows", true},
        {L"\\\\?\\Volume{0b1a0000-0000-0000-0000-100000000000}\\Windows", true},
        {L"\\??\\GLOBALROOT\\??\\C:\\Windows", true},
        {L"\\\\?\\unix\\etc", true},
        {L"\\\\?\\UNCx\\s\\t", true},
        {L"\\\\?\\C:\\Windows", false},
        {L"\\??\\c:\\Windows", false},
        {L"\\\\?\\UNC\\localhost\\c$", false},  // a share path; the guard refuses it as one
        {L"\\\\?\\unc\\s\\t", false},
        {L"\\\\.U\\S", false},
        {L"\\\\localhost\\c$", false},
        {L"C:\\Windows", false},
        {L"", false},
    };
    for (const auto& c : devices) {
        SCOPED_TRACE(orlyn::ToUtf8(c.path));
        EXPECT_EQ(orlyn::IsDevicePath(c.path), c.device);
    }
    struct FormCase {
        const wchar_t* form;
        bool share;
        bool stream;
    } forms[] = {
        {L"C:\\", false, false},
        {L"C:\\WINDOWS", false, false},
        {L"C:\\WINDOWS::$INDEX_ALLOCATION", false, true},
        {L"C:\\WINDOWS:$I30:$INDEX_ALLOCATION", false, true},
        {L"C:\\A\\B:S", false, true},
        {L"\\\\LOCALHOST\\C$", true, false},
        {L"\\\\S\\T\\U", true, false},
    };
    for (const auto& c : forms) {
        SCOPED_TRACE(orlyn::ToUtf8(c.form));
        EXPECT_EQ(orlyn::IsShareForm(c.form), c.share);
        EXPECT_EQ(orlyn::HasStreamName(c.form), c.stream);
    }
}
