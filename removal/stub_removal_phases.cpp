// Placeholders until the check and removal routines are built.
#include "app/repair_context.h"

bool CRepairContext::CheckOldModule() {
    BeginPhaseItems(1);
    AddPhaseItemDone();
    return true;
}

bool CRepairContext::RemoveOldModule() {
    BeginPhaseItems(1);
    AddPhaseItemDone();
    return true;
}
