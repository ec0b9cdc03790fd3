#include "engine_host.h"
#include "engine_scene.h"
#include "engine/CKivClump.h"
#include "gfx/core/error.h"
#include "gfx/world/clump.h"
namespace { auto *const host = ::testing::AddGlobalTestEnvironment(new HostedEngine<>);
TEST(Dbg, Load) {
    std::string bytes = KivTestModel({{KivTestQuad(), {0, 1, 0}}});
    RwMemory memory = {reinterpret_cast<RwUInt8 *>(&bytes[0]), (RwUInt32)bytes.size()};
    RwStream *s = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory);
    RwErrorGet();
    EXPECT_TRUE(RwStreamFindChunk(s, 0x10, nullptr, nullptr));
    RwClump *c = RwClumpStreamRead(s);
    RwError e = RwErrorGet();
    printf("clump %p err %x %x size %u\n", (void*)c, e.pluginID, e.errorCode, (unsigned)bytes.size());
    for (size_t i = 0; i < bytes.size() && i < 400; i++) printf("%02x%s", (unsigned char)bytes[i], i % 32 == 31 ? "\n" : "");
}
}
