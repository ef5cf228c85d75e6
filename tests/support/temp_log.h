// A repair log in a temporary folder of its own, for tests that read back what a routine wrote: opened by
// a repair context (or a test's subclass of it) or by the removal primitives' log handle, closed and
// removed with its folder at the end of the scope.
#pragma once

#include <string>
#include <vector>

#include "app/repair_context.h"
#include "common/log_stream.h"
#include "removal/log_handle.h"
#include "support/test_support.h"

namespace testing_support {

// The folder and the log file's path in it; the log's messages as ReadLogMessages gives them.
class TempLogFolder {
public:
    explicit TempLogFolder(const wchar_t* tag = L"log", const wchar_t* logName = L"OrlynRepair.log")
        : dir_(tag), logFile_(dir_ / logName) {}
    TempLogFolder(const TempLogFolder&) = delete;
    TempLogFolder& operator=(const TempLogFolder&) = delete;

    const TempDir& dir() const { return dir_; }
    const std::wstring& logFile() const { return logFile_; }
    std::vector<std::wstring> Messages(std::vector<std::wstring>* rawLines = nullptr,
                                       bool* hadBom = nullptr) const {
        return ReadLogMessages(logFile_, rawLines, hadBom);
    }

private:
    TempDir dir_;
    std::wstring logFile_;
};

enum class LogOpening { Now, Later };

// A repair context with its log in a temporary folder. The folder is a base before the context, so it is
// made first and removed last, after the context has closed the log. With LogOpening::Later the test
// opens it itself (OpenTempLog), for what the context does while no log is open.
template <typename Context = CRepairContext>
class TempLogContext : public TempLogFolder, public Context {
public:
    explicit TempLogContext(const wchar_t* tag = L"log", LogOpening opening = LogOpening::Now,
                            const wchar_t* logName = L"OrlynRepair.log")
        : TempLogFolder(tag, logName) {
        if (opening == LogOpening::Now) OpenTempLog();
    }
    ~TempLogContext() override { this->CloseLog(); }

    bool OpenTempLog() { return opened_ = this->OpenLog(logFile().c_str()); }
    // Whether the log opened (the last OpenTempLog's answer).
    bool logOpened() const { return opened_; }

private:
    bool opened_ = false;
};

// The removal primitives' log handle owning a log stream on a file in a temporary folder.
class TempLogHandle : public TempLogFolder {
public:
    explicit TempLogHandle(const wchar_t* tag = L"log", const wchar_t* logName = L"repair.log")
        : TempLogFolder(tag, logName) {
        handle.Attach(orlyn::LogStream::Create(logFile().c_str()), true);
    }
    ~TempLogHandle() { handle.Close(); }

    CLogHandle handle;
};

}  // namespace testing_support
