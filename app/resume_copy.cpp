#include "app/resume_copy.h"

#include "app/image_check.h"
#include "app/protected_files.h"
#include "app/resume_entry.h"
#include "common/protected_folder.h"
#include "common/string_format.h"

namespace resume_copy {
namespace {

// Larger than any build of the program with its payload; a bigger file is not ours.
constexpr size_t kMaxProgramBytes = 256u * 1024u * 1024u;

// Paths compare as the file system compares names, letter case ignored.
bool SamePath(const std::wstring& a, const std::wstring& b) { return orlyn::EqualsNoCase(a.c_str(), b.c_str()); }

}  // namespace

const wchar_t* StepText(Step step) {
    switch (step) {
    case Step::None:
        return L"";
    case Step::ReadProgram:
        return L"프로그램 파일을 읽을 수 없습니다";
    case Step::NotTheProgram:
        return L"프로그램 파일이 실행 중인 프로그램과 다릅니다";
    case Step::PrepareFolder:
        return L"보호 폴더를 만들 수 없습니다";
    case Step::WriteCopy:
        return L"복사본을 쓸 수 없습니다";
    }
    return L"";
}

Step MakeResumeCopy(const wchar_t* programPath, const std::wstring& appDataRoot, std::wstring& copyPath,
                    DWORD& error) {
    copyPath = protected_files::FilePath(appDataRoot, protected_files::kResumeCopyName);
    error = ERROR_SUCCESS;
    if (copyPath.empty()) {
        error = ERROR_PATH_NOT_FOUND;
        return Step::PrepareFolder;
    }
    bool isCopy = SamePath(programPath, copyPath);
    std::string program;
    if (!isCopy) {
        // Read first: the folder is only made for a program that can be copied.
        error = orlyn::ReadWholeFile(programPath, kMaxProgramBytes, program);
        if (error != ERROR_SUCCESS) return Step::ReadProgram;
        // Someone who can write the program's folder may have put another file at its path since it started.
        if (!FileMatchesLoadedImage(program, ::GetModuleHandleW(nullptr))) {
            error = ERROR_FILE_INVALID;
            return Step::NotTheProgram;
        }
    }
    error = protected_files::PrepareFolder(appDataRoot);
    if (error != ERROR_SUCCESS) return Step::PrepareFolder;
    if (isCopy) return Step::None;
    error = orlyn::WriteProtectedFile(copyPath, program.data(), program.size());
    return error == ERROR_SUCCESS ? Step::None : Step::WriteCopy;
}

bool IsResumeCopy(const wchar_t* programPath, const std::wstring& appDataRoot) {
    std::wstring copyPath = protected_files::FilePath(appDataRoot, protected_files::kResumeCopyName);
    return programPath && !copyPath.empty() && SamePath(programPath, copyPath);
}

Removal RemoveResumeCopy(const wchar_t* programPath, const std::wstring& appDataRoot) {
    if (!IsResumeCopy(programPath, appDataRoot)) return Removal::NotTheCopy;
    std::wstring command;
    std::wstring quoted = L"\"" + std::wstring(programPath) + L"\"";
    if (resume_entry::ReadResumeEntry(command) && command.size() >= quoted.size() &&
        SamePath(command.substr(0, quoted.size()), quoted))
        return Removal::KeptForResume;
    if (::DeleteFileW(programPath)) return Removal::Deleted;
    return ::MoveFileExW(programPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? Removal::AtNextRestart : Removal::Failed;
}

}  // namespace resume_copy
