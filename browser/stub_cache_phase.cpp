// Placeholder until the cache clean-up is built.
#include "app/repair_context.h"

bool CRepairContext::ClearInternetCache() {
    CompletePhaseItems();
    return true;
}
