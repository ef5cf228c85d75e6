// Placeholder until the system information report is built.
#include "app/repair_context.h"

void CRepairContext::GatherSystemInfo() {}
void CRepairContext::WriteSystemInfo() {}
