// Where the time goes between the start confirmation's answer and the check's first log line: the real
// repair dialog, initialised as the program does it, with marks at the steps it passes through. Run in
// a prefix of its own, once per step set, each in a fresh process as the program starts cold:
//   bench_dialog_init.exe          the dialog: its window, the page with the log and the system report,
//                                  the removal list, the manifest, the page's load and the sequencer's
//                                  wait up to the check (which is not run: the dialog closes there)
//   bench_dialog_init.exe report   the system report alone (its Direct3D adapter query included)
//   bench_dialog_init.exe d3d      the Direct3D adapter query alone: what of the report is Wine's
// tests/bench/whole_repair.sh runs all three after each repair. The dialog writes its log on the
// all-users desktop like the program: run it in a throwaway prefix only.
#include <windows.h>

#include <d3d9.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "app/orlyn_repair_dlg.h"
#include "support/temp_log.h"

namespace {

LARGE_INTEGER gFrequency;

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(gFrequency.QuadPart);
}

// The marks, in the order the dialog passes them.
enum Mark {
    kDoModal,         // the start confirmation has been answered
    kWindowMade,      // the dialog window exists (its OnInitDialog begins)
    kReportWritten,   // page made, log opened, system report gathered and written
    kRemovalList,     // removal list built
    kManifest,        // manifest extracted, payload list loaded, resources checked
    kInitReturned,    // folders resolved, first state entered, the sequencer's timers armed
    kPageComplete,    // the page has loaded
    kCheckStarts,     // the check's worker begins: the first line of the check is written now
    kMarkCount
};

class TimedDialog : public COrlynRepairDlg {
public:
    LARGE_INTEGER marks[kMarkCount] = {};
    bool initOk = true;

protected:
    BOOL OnInitDialog() override {
        marks[kWindowMade] = Now();
        BOOL result = COrlynRepairDlg::OnInitDialog();
        marks[kInitReturned] = Now();
        return result;
    }
    bool InitBuildRemovalList() override {
        marks[kReportWritten] = Now();
        initOk = COrlynRepairDlg::InitBuildRemovalList();
        marks[kRemovalList] = Now();
        return initOk;
    }
    bool InitCheckResources() override {
        initOk = COrlynRepairDlg::InitCheckResources();
        marks[kManifest] = Now();
        return initOk;
    }
    void OnDocumentComplete(IDispatch* document, const wchar_t* url) override {
        COrlynRepairDlg::OnDocumentComplete(document, url);
        marks[kPageComplete] = Now();
    }
    // The check is where the measured span ends; it is not run.
    bool RunPhase(int state) override {
        if (state == kStateCheck && marks[kCheckStarts].QuadPart == 0) marks[kCheckStarts] = Now();
        PostCloseRequest();
        return true;
    }
};

int TimeDialog() {
    auto dialog = std::make_unique<TimedDialog>();
    dialog->marks[kDoModal] = Now();
    dialog->DoModal();
    const auto& m = dialog->marks;
    for (int i = kWindowMade; i < kMarkCount; ++i) {
        if (m[i].QuadPart == 0 || !dialog->initOk) {
            std::printf("the dialog did not reach step %d (initialisation failed?)\n", i);
            return 1;
        }
    }
    const struct {
        const char* what;
        Mark from, to;
    } rows[] = {
        {"dialog window from its template", kDoModal, kWindowMade},
        {"page, log and system report", kWindowMade, kReportWritten},
        {"removal list", kReportWritten, kRemovalList},
        {"manifest (extract, load, check resources)", kRemovalList, kManifest},
        {"folders, first state, timers armed", kManifest, kInitReturned},
        {"to the page's load", kInitReturned, kPageComplete},
        {"to the check (the sequencer's 100 ms)", kPageComplete, kCheckStarts},
    };
    for (const auto& row : rows)
        std::printf("%-44s %7.1f ms\n", row.what, Milliseconds(m[row.from], m[row.to]));
    std::printf("%-44s %7.1f ms\n", "in all, confirmation answered to the check", Milliseconds(m[kDoModal], m[kCheckStarts]));
    return 0;
}

int TimeReport() {
    testing_support::TempLogContext<> context(L"bench");
    if (!context.logOpened()) return 1;
    LARGE_INTEGER start = Now();
    context.GatherSystemInfo();
    LARGE_INTEGER gathered = Now();
    context.WriteSystemInfo();
    LARGE_INTEGER written = Now();
    std::printf("%-44s %7.1f ms\n", "system report gathered (its own process)", Milliseconds(start, gathered));
    std::printf("%-44s %7.1f ms\n", "system report written", Milliseconds(gathered, written));
    context.CloseLog();
    return 0;
}

int TimeDirect3D() {
    LARGE_INTEGER start = Now();
    HMODULE d3d9 = ::LoadLibraryW(L"d3d9.dll");
    if (!d3d9) return 1;
    using CreateFn = IDirect3D9*(WINAPI*)(UINT);
    auto create = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(::GetProcAddress(d3d9, "Direct3DCreate9")));
    IDirect3D9* direct3d = create ? create(D3D_SDK_VERSION) : nullptr;
    D3DADAPTER_IDENTIFIER9 identifier = {};
    bool described = direct3d && SUCCEEDED(direct3d->GetAdapterIdentifier(D3DADAPTER_DEFAULT, 0, &identifier));
    LARGE_INTEGER end = Now();
    if (direct3d) direct3d->Release();
    ::FreeLibrary(d3d9);
    std::printf("%-44s %7.1f ms%s\n", "of which the Direct3D adapter query", Milliseconds(start, end),
                described ? "" : " (no adapter described)");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ::QueryPerformanceFrequency(&gFrequency);
    ::CoInitialize(nullptr);
    int result;
    if (argc > 1 && std::strcmp(argv[1], "report") == 0) {
        result = TimeReport();
    } else if (argc > 1 && std::strcmp(argv[1], "d3d") == 0) {
        result = TimeDirect3D();
    } else {
        result = TimeDialog();
    }
    ::CoUninitialize();
    return result;
}
