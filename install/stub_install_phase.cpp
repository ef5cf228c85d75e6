// Placeholder until the install routine is built.
#include "app/repair_context.h"

bool CRepairContext::InstallModule() {
    BeginPhaseItems(1);
    AddPhaseItemDone();
    return true;
}
