// Placeholder until the removal routine is built.
#include "app/repair_context.h"

bool CRepairContext::RemoveOldModule() {
    BeginPhaseItems(1);
    AddPhaseItemDone();
    return true;
}
