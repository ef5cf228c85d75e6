#include "install/install_routine.h"

#include "common/program_title.h"
#include "common/registry.h"
#include "common/unique_handle.h"
#include "diagnostics/access_report.h"
#include "framework/unattended.h"
#include "install/access_repair.h"
#include "install/com_registration.h"
#include "install/machine_key_file.h"
#include "install/payload_extraction.h"
#include "install/reachability.h"
#include "install/system_registrations.h"

namespace {

constexpr wchar_t kInstallFailed[] = L"Error\t신규 모듈 설치에 실패하였습니다.\n";
constexpr wchar_t kPreApprovedKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved";

constexpr const wchar_t* kPreApprovedControls[] = {
    L"{080F7E03-AC50-4949-AACA-E79F82D3099F}", L"{5D605A2B-ACDE-49CD-9642-7B268923ACD9}",
    L"{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}", L"{871D8DC2-84A4-4D1F-99D5-2A4E3BE2E87C}",
    L"{A7B202AB-A508-4235-9C97-C25799782590}",
};
constexpr const wchar_t* kPreApprovedControls64[] = {
    L"{E16C6003-9217-4626-83B0-757C9EA47E53}",
    L"{EF9547D2-97F6-412f-A886-BABD7005A4D8}",
};

// Install actions of a manifest row.
enum InstallAction {
    kActionFirewall = 1,
    kActionRegisterCom = 2,
    kActionFirewallAndPolicy = 3,
    kActionRegisterCom64 = 5,
    kActionFirewallAndPolicy64 = 6,
};

}  // namespace

bool InstallModule(RepairLogWriter& log, PhaseProgress& progress, const RepairFolders& repairFolders,
                   const PayloadList& payloadList, CACLInfo& aclInfo, const PhaseHost& host,
                   const std::function<bool()>& installBrowserIntegration) {
    WriteRoutineBanner(log, L"신규 모듈 설치 루틴");

    // Apartment-threaded for the firewall objects; the worker thread ends after the routine.
    if (::CoInitialize(nullptr) != S_OK) {
        log.WriteLog(L"Error\tCOM 초기화에 실패하였습니다.\n");
        return false;
    }
    if (!RepairComRegistryAccess(log)) {
        log.WriteLog(L"Error\t신규 모듈 설치에 필요한 레지스트리에 접근 권한이 없습니다.\n");
    }
    if (!InstallPayloadFiles(log, progress, repairFolders, payloadList, host)) {
        log.WriteLog(kInstallFailed);
        return false;
    }
    if (!RegisterPreApprovedControls(log, host, installBrowserIntegration)) {
        log.WriteLog(kInstallFailed);
        return false;
    }
    (void)WriteUninstallEntry();
    log.WriteLog(L"OK\t신규 모듈 설치에 성공하였습니다.\n");

    CQrMachineKeyFile* keyFile = CQrMachineKeyFile::Instance();
    if (keyFile->VerifyMachineKeyFile() != 0) {
        log.WriteLog(L"Error\t데이터 파일이 존재합니다.\n");
    } else if (keyFile->CreateMachineKeyFile()) {
        log.WriteLog(L"OK\t데이터 파일 생성에 성공하였습니다.\n");
    } else {
        log.WriteLog(L"Error\t데이터 파일 생성에 실패하였습니다.\n");
    }

    wchar_t reachText[1024] = {};
    if (!CheckSignOnReachability(reachText)) {
        log.WriteLog(L"%s", reachText);
        unattended::AskPerson(Prompt::ReachabilityWarning, host.OwnerWindow(), reachText,
                              orlyn::kProgramTitle, MB_OK | MB_ICONWARNING);
    }

    ApplyEveryoneAccess(log, aclInfo);
    return true;
}

bool InstallPayloadFiles(RepairLogWriter& log, PhaseProgress& progress, const RepairFolders& repairFolders,
                         const PayloadList& payloadList, const PhaseHost& host) {
    bool result = true;
    const std::wstring folders[] = {
        repairFolders.windowsFolder,
        std::wstring(repairFolders.allUsersAppDataFolder) + L"\\Orlyn\\Common",
        std::wstring(repairFolders.allUsersAppDataFolder) + L"\\Orlyn\\TSL",
    };
    for (const auto& folder : folders) {
        if (!CreateFolderPath(folder.c_str())) {
            log.WriteLog(L"Error\t%s 폴더가 존재하지 않습니다.\n", folder.c_str());
            return false;
        }
    }

    const std::vector<PayloadEntry> entries = payloadList.entries;
    progress.BeginPhaseItems(static_cast<DWORD>(entries.size()));
    for (const auto& entry : entries) {
        const std::wstring path = ExpandPathMacros(entry.targetPath, repairFolders);
        if (!ExtractResourceToFile(entry.resourceId, path.c_str())) {
            DWORD error = ::GetLastError();  // before the log write can change it
            log.WriteLog(L"Error\t%s 파일을 설치하지 못하였습니다.\n", path.c_str());
            WriteErrorCodeLine(log, error);
            result = false;
            progress.AddPhaseItemDone();
            continue;
        }
        log.WriteLog(L"OK\t%s 파일을 설치하였습니다.\n", path.c_str());

        auto registerCom = [&](bool use64BitTool) {
            wchar_t errorText[1024] = {};
            if (RegisterComServer(path.c_str(), errorText, use64BitTool)) {
                log.WriteLog(L"OK\t%s 파일을 등록하였습니다.\n", path.c_str());
            } else {
                log.WriteLog(L"Error\t%s 파일을 등록하지 못하였습니다.\n", path.c_str());
                log.WriteLog(L"Error\t%s\n", errorText);
                result = false;
            }
        };
        auto firewallAndPolicy = [&](bool use64BitView) {
            if (AuthorizeFirewallApplication(path.c_str(), entry.displayName)) {
                log.WriteLog(L"OK\t%s 파일을 윈도우 방화벽에 등록하였습니다.\n", path.c_str());
            }
            if (WriteElevationPolicy(entry.policyKey, path.c_str(), use64BitView)) {
                log.WriteLog(L"OK\t%s 파일을 등록하였습니다.\n", path.c_str());
            } else {
                log.WriteLog(L"Error\t%s 파일을 등록하지 못하였습니다.\n", path.c_str());
                result = false;
            }
        };

        switch (entry.installAction) {
        case kActionFirewall:
            if (AuthorizeFirewallApplication(path.c_str(), entry.displayName)) {
                log.WriteLog(L"OK\t%s 파일을 윈도우 방화벽에 등록하였습니다.\n", path.c_str());
            }
            break;
        case kActionRegisterCom:
            registerCom(false);
            break;
        case kActionFirewallAndPolicy:
            firewallAndPolicy(false);
            break;
        case kActionRegisterCom64:
            if (host.IsWow64()) registerCom(true);
            break;
        case kActionFirewallAndPolicy64:
            if (host.IsWow64()) firewallAndPolicy(true);
            break;
        default:
            break;
        }
        progress.AddPhaseItemDone();
    }
    return result;
}

bool RegisterPreApprovedControls(RepairLogWriter& log, const PhaseHost& host,
                                 const std::function<bool()>& installBrowserIntegration) {
    for (const wchar_t* clsid : kPreApprovedControls) {
        orlyn::UniqueHkey parent;
        if (orlyn::OpenRegKey(HKEY_LOCAL_MACHINE, kPreApprovedKey, KEY_WRITE, orlyn::RegView::Default, parent) !=
            ERROR_SUCCESS) {
            continue;
        }
        const std::wstring path = std::wstring(kPreApprovedKey) + L"\\" + clsid;
        orlyn::UniqueHkey key;
        if (orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ | KEY_WRITE, orlyn::RegView::Default,
                                key) != ERROR_SUCCESS) {
            log.WriteLog(L"Error\t%s 레지스트리를 등록하지 못하였습니다.\n", clsid);
            return false;
        }
        log.WriteLog(L"OK\t%s 레지스트리를 등록하였습니다.\n", clsid);
    }
    if (host.IsWow64()) {
        for (const wchar_t* clsid : kPreApprovedControls64) {
            const std::wstring path = std::wstring(kPreApprovedKey) + L"\\" + clsid;
            orlyn::UniqueHkey key;
            if (orlyn::CreateRegKey(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS, orlyn::RegView::Wow64_64,
                                    key) != ERROR_SUCCESS) {
                log.WriteLog(L"Error\t%s 64bit 레지스트리를 등록하지 못하였습니다.\n", clsid);
                return false;
            }
            log.WriteLog(L"OK\t%s 64bit 레지스트리를 등록하였습니다.\n", clsid);
        }
    }
    return installBrowserIntegration();
}
