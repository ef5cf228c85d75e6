#include "app/run_event.h"

#include <cstring>

#include "app/protected_files.h"
#include "app/run_result.h"
#include "common/module_resource.h"
#include "common/protected_folder.h"
#include "common/registry.h"
#include "common/repair_log_writer.h"
#include "common/string_format.h"
#include "common/unique_handle.h"
#include "event_messages.h"
#include "resources/resource.h"

namespace run_event {
namespace {

using UniqueEventSource = orlyn::UniqueAny<orlyn::detail::CloseTraits<HANDLE, ::DeregisterEventSource>>;

const wchar_t* PhaseName(int state) {
    switch (state) {
    case 1:
        return L"기존 모듈 확인";
    case 2:
        return L"기존 모듈 삭제";
    case 3:
        return L"캐시 정리";
    case 5:
        return L"신규 모듈 설치";
    default:
        return L"알 수 없음";
    }
}

bool HoldsBytes(const std::wstring& path, const void* data, DWORD size) {
    std::string present;
    return orlyn::ReadWholeFile(path, size, present) == ERROR_SUCCESS && present.size() == size &&
           std::memcmp(present.data(), data, size) == 0;
}

// Whether the registration already names the library and the entry types.
bool IsRegistered(HKEY key, const std::wstring& library) {
    wchar_t named[MAX_PATH + 1] = {};
    DWORD type = 0, bytes = sizeof(named) - sizeof(wchar_t);
    if (::RegQueryValueExW(key, L"EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(named), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_EXPAND_SZ || library != named)
        return false;
    DWORD types = 0;
    bytes = sizeof(types);
    return ::RegQueryValueExW(key, L"TypesSupported", nullptr, &type, reinterpret_cast<BYTE*>(&types), &bytes) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && types == kTypesSupported;
}

}  // namespace

EventKind EventFor(int exitCode) {
    switch (exitCode) {
    case run_result::kSuccess:
        return {MSG_REPAIR_SUCCEEDED, EVENTLOG_INFORMATION_TYPE};
    case run_result::kRestartRequired:
        return {MSG_REPAIR_RESTART_REQUIRED, EVENTLOG_WARNING_TYPE};
    case run_result::kRestartStarted:
        return {MSG_REPAIR_RESTART_STARTED, EVENTLOG_WARNING_TYPE};
    case run_result::kUserCancelled:
        return {MSG_REPAIR_CANCELLED, EVENTLOG_ERROR_TYPE};
    case run_result::kAnotherRunActive:
        return {MSG_REPAIR_ALREADY_RUNNING, EVENTLOG_WARNING_TYPE};
    default:  // 1603, and any code that is not one of the above
        return {MSG_REPAIR_FAILED, EVENTLOG_ERROR_TYPE};
    }
}

std::wstring PhaseOf(bool sequenceStarted, int state, int previousState) {
    if (!sequenceStarted) return L"초기화";
    switch (state) {
    case 6:  // final
        return std::wstring();
    case 7:  // failure: the phase it came from
        return PhaseName(previousState);
    case 4:  // restart: the removal needs it
        return PhaseName(2);
    default:  // closed while this phase ran
        return PhaseName(state);
    }
}

const wchar_t* ModeName(RunMode mode) {
    switch (mode) {
    case RunMode::Passive:
        return L"passive";
    case RunMode::Quiet:
        return L"quiet";
    case RunMode::Interactive:
        break;
    }
    return L"interactive";
}

std::vector<std::wstring> InsertionStrings(const RunFacts& facts) {
    return {std::to_wstring(facts.exitCode), ModeName(facts.mode),
            facts.failedPhase.empty() ? L"없음" : facts.failedPhase, facts.resumed ? L"예" : L"아니요",
            facts.logPath.empty() ? L"없음" : facts.logPath};
}

std::vector<std::wstring> RegisterEventSource(const std::wstring& appDataRoot) {
    std::vector<std::wstring> entries;
    auto fail = [&entries](const wchar_t* what, DWORD error) {
        entries.push_back(orlyn::FormatString(L"Error\t이벤트 로그 등록 실패 : %s", what));
        entries.push_back(ErrorCodeEntry(error));
        return entries;
    };
    // The message library as this program carries it.
    const void* data = nullptr;
    DWORD size = 0;
    if (!orlyn::FindModuleResource(nullptr, RT_RCDATA, MAKEINTRESOURCEW(IDR_EVENT_MESSAGE_DLL), &data, &size) ||
        size == 0)
        return fail(L"프로그램에 메시지 파일이 없습니다", ::GetLastError());
    // The registration names a file that stays when the program (often in a download or staging folder)
    // is deleted, and that only administrators can change.
    DWORD error = protected_files::PrepareFolder(appDataRoot);
    if (error != ERROR_SUCCESS) return fail(L"보호 폴더를 만들 수 없습니다", error);
    std::wstring library = protected_files::FilePath(appDataRoot, protected_files::kEventMessageDllName);
    if (!HoldsBytes(library, data, size)) {
        error = orlyn::WriteProtectedFile(library, data, size);
        if (error != ERROR_SUCCESS) return fail(L"메시지 파일을 쓸 수 없습니다", error);
    }
    orlyn::UniqueHkey key;
    error = static_cast<DWORD>(orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, kRegistrationKey, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                                   orlyn::RegView::Default, key));
    if (error != ERROR_SUCCESS) return fail(L"레지스트리 키를 만들 수 없습니다", error);
    if (IsRegistered(key.get(), library)) return entries;
    error = static_cast<DWORD>(::RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                                                reinterpret_cast<const BYTE*>(library.c_str()),
                                                static_cast<DWORD>((library.size() + 1) * sizeof(wchar_t))));
    if (error == ERROR_SUCCESS) error = static_cast<DWORD>(orlyn::SetRegDword(key.get(), L"TypesSupported", kTypesSupported));
    if (error != ERROR_SUCCESS) return fail(L"레지스트리에 쓸 수 없습니다", error);
    return entries;
}

std::vector<std::wstring> ReportRun(const RunFacts& facts) {
    EventKind kind = EventFor(facts.exitCode);
    std::vector<std::wstring> strings = InsertionStrings(facts);
    std::vector<LPCWSTR> pointers;
    for (const std::wstring& text : strings) pointers.push_back(text.c_str());
    UniqueEventSource source(::RegisterEventSourceW(nullptr, kSourceName));
    if (!source) return {L"Error\t이벤트 로그 기록 실패 : 이벤트 원본을 열 수 없습니다", ErrorCodeEntry(::GetLastError())};
    if (!::ReportEventW(source.get(), kind.type, 0, kind.messageId, nullptr, static_cast<WORD>(pointers.size()), 0,
                        pointers.data(), nullptr))
        return {L"Error\t이벤트 로그 기록 실패", ErrorCodeEntry(::GetLastError())};
    return {};
}

}  // namespace run_event
