// Engine lights: ambient lights by colour and lights copied out of model files.
#include "engine_host.h"

#include "engine/CKivLight.h"
#include "gfx/core/frame.h"
#include "gfx/world/light.h"

namespace {

auto *const host = HostEngine();

TEST(Light, CreateMakesAnAmbientLightWithoutFrame)
{
    CKivLight light("Sun");
    EXPECT_STREQ("sun", light.GetName());
    const RwRGBAReal colour = {0.25f, 0.5f, 0.75f, 1.0f};
    ASSERT_EQ(1, light.Create(&colour));
    ASSERT_NE(nullptr, light.GetLight());
    EXPECT_EQ(rwLIGHTAMBIENT, RwLightGetType(light.GetLight()));
    EXPECT_FLOAT_EQ(0.5f, light.GetLight()->color.green);
    EXPECT_EQ(nullptr, RwLightGetFrame(light.GetLight()));
}

std::string LightFile(float radius, RwUInt8 type)
{
    std::string body;
    for (float f : {radius, 1.0f, 0.5f, 0.25f, -0.5f})
        PutF32(body, f);
    body += std::string("\x03\0", 2);
    body.push_back(static_cast<char>(type));
    body.push_back('\0');
    return Chunk(0x12, Chunk(0x01, body) + Chunk(0x03, ""));
}

TEST(Light, LoadCopiesABareLightChunkOntoAFrameOfItsOwn)
{
    const std::string file = LightFile(12.0f, rwLIGHTSPOT);
    WriteFileBytes("light.dff", file);
    CKivLight light;
    ASSERT_EQ(1, light.Load("light.dff"));
    RwLight *rw = light.GetLight();
    ASSERT_NE(nullptr, rw);
    EXPECT_EQ(rwLIGHTSPOT, RwLightGetType(rw));
    EXPECT_FLOAT_EQ(12.0f, rw->radius);
    EXPECT_FLOAT_EQ(0.25f, rw->color.blue);
    EXPECT_NEAR(-0.5f, rw->minusCosAngle, 1e-5f);
    ASSERT_NE(nullptr, RwLightGetFrame(rw));
    EXPECT_FLOAT_EQ(0.0f, RwFrameGetWorldMatrix(RwLightGetFrame(rw))->pos.x);

    for (size_t cut = 0; cut < file.size(); cut += 3) {
        WriteFileBytes("cut.dff", file.substr(0, cut));
        EXPECT_EQ(0, light.Load("cut.dff")) << cut;
    }
    WriteFileBytes("cut.dff", Chunk(0x05, std::string(40, '\0')));
    EXPECT_EQ(0, light.Load("cut.dff"));
    EXPECT_EQ(0, light.Load("absent.dff"));
    EXPECT_EQ(rw, light.GetLight());
}

TEST(Light, LoadCopiesTheFirstLightOfAModelAtItsWorldPlace)
{
    // The clump walks its lights newest first: the last in the file comes first.
    const std::string model = ModelFile({{-1, 10, 0, 0}, {0, 1, 2, 3}},
                                        {{0, LightFile(5, rwLIGHTPOINT)}, {1, LightFile(0, rwLIGHTDIRECTIONAL)}}, {});
    WriteFileBytes("model.dff", model);
    CKivLight light;
    ASSERT_EQ(1, light.Load("model.dff"));
    RwLight *rw = light.GetLight();
    EXPECT_EQ(rwLIGHTDIRECTIONAL, RwLightGetType(rw));
    RwFrame *frame = RwLightGetFrame(rw);
    ASSERT_NE(nullptr, frame);
    EXPECT_EQ(nullptr, RwFrameGetParent(frame));   // its own, the model is gone
    const RwV3d pos = RwFrameGetWorldMatrix(frame)->pos;
    EXPECT_FLOAT_EQ(11.0f, pos.x);
    EXPECT_FLOAT_EQ(3.0f, pos.z);

    WriteFileBytes("model.dff", ModelFile({{-1, 0, 0, 0}}, {}, {}));
    EXPECT_EQ(0, light.Load("model.dff"));   // a model without lights
    EXPECT_EQ(rw, light.GetLight());
}

} // namespace
