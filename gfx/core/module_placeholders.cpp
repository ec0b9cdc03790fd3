// Stand-in open and close callbacks of core modules that are not built yet.
// A module deletes its line here when it defines the pair itself.
#include "engine.h"
#include "modules.h"

// Open and close succeed and do nothing: the module has no globals to set up.
#define rwPLACEHOLDER_MODULE(name)                                              \
    void *name##ModuleOpen(void *instance, RwInt32, RwInt32) { return instance; } \
    void *name##ModuleClose(void *instance, RwInt32, RwInt32) { return instance; }

rwPLACEHOLDER_MODULE(RwPipeline)
rwPLACEHOLDER_MODULE(RwImmediate)
