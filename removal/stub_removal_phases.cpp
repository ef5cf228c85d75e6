// Placeholders until the check routine is built.
#include "app/repair_context.h"

bool CRepairContext::CheckOldModule() {
    BeginPhaseItems(1);
    AddPhaseItemDone();
    return true;
}
