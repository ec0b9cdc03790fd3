// Following tooltips resolved through the engine's current world.
#include "engine/KivWorldFollow.h"

#include "engine/CKivBase.h"
#include "engine/CKivClump.h"
#include "engine/CKivWorld.h"

int KivWorldFollowResolve(const char *model, const char *part, GuiFollowTarget *out)
{
    CKivBase *base = CKivBase::GetInstance();
    CKivWorld *world = base ? base->GetCurrentWorld() : nullptr;
    CKivClump *clump = world && model ? world->FindClump(model) : nullptr;
    RwAtomic *atomic = clump && part ? clump->FindAtomic(part) : nullptr;
    if (!atomic || !world->GetCamera() || !out)
        return 0;
    *out = {atomic, world->GetCamera()};
    return 1;
}
