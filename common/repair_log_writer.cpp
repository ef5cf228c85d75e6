#include "common/repair_log_writer.h"

void RepairLogWriter::WriteLog(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLogV(format, args);
    va_end(args);
}
