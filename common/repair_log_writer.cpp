#include "common/repair_log_writer.h"

#include "common/string_format.h"

void RepairLogWriter::WriteLog(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLogV(format, args);
    va_end(args);
}

void WriteRoutineBanner(RepairLogWriter& log, const wchar_t* routineName) {
    log.WriteLog(L"\n");
    log.WriteLog(L"=========================\n");
    log.WriteLog(L"   %s\n", routineName);
    log.WriteLog(L"=========================\n");
}

void WriteErrorCodeLine(RepairLogWriter& log, unsigned long error) {
    log.WriteLog(L"%s\r\n", ErrorCodeEntry(error).c_str());
}

std::wstring ErrorCodeEntry(unsigned long error) {
    return orlyn::FormatString(L"\t## 에러 코드 = %d ##", static_cast<int>(error));
}
