// Background texture loader: placeholders, "+tk" keys, cancelling, draining, destruction, a loading thread beside frames.
#include "engine_host.h"
#include "sample/engine_scene.h"
#include "sample/sample_data.h"

#include <memory>
#include <new>
#include <set>
#include <thread>

#include <tlhelp32.h>

#include "engine/CKivCamera.h"
#include "engine/CKivToon.h"
#include "engine/CKivWorld.h"
#include "engine/TextureLoader.h"
#include "gfx/core/texture.h"
#include "gfx/plugins/toon/toon.h"
#include "support/failnew/fail_new.h"

namespace {

class LoaderHost : public HostedEngine<> {
public:
    void SetUp() override
    {
        ASSERT_TRUE(KivSampleWritePlaceholders());
        base = new CKivBase;
        ASSERT_EQ(1, base->Init(HostWindow(), GetModuleHandleA(nullptr), 1024, 768, "kiv test", 0, 1));
        ASSERT_NE(nullptr, base->GetTextureLoader());
    }
};
auto *const host = ::testing::AddGlobalTestEnvironment(new LoaderHost);

bool WaitIdle(TextureLoader *loader)
{
    for (int i = 0; i < 2000 && loader->GetPendingCount(); i++)
        Sleep(5);
    return loader->GetPendingCount() == 0;
}

// A loader whose worker has passed once and then sleeps: only Drain serves.
std::unique_ptr<TextureLoader> IdleLoader()
{
    std::unique_ptr<TextureLoader> loader(new TextureLoader(1000000));
    Sleep(50);
    return loader;
}

struct Dictionary {
    RwTextureDictionary *dict = RwTextureDictionaryCreate();
    RwTextureDictionary *previous = RwTextureDictionaryGetCurrent();
    Dictionary() { RwTextureDictionarySetCurrent(dict); }
    ~Dictionary()
    {
        RwTextureDictionarySetCurrent(previous);
        if (dict)
            RwTextureDictionaryDestroy(dict);
    }
};

TEST(TextureLoader, ColourKeysSplitAtTheSuffixOnly)
{
    const struct {
        const char *name, *base;
        int enable, r, g, b;
    } cases[] = {
        {"wall", "wall", 0, 0, 0, 0},
        {"_3tooth_1+tk1+tk0+tk5", "_3tooth_1", 1, 1, 0, 5},
        {"kite+tk7", "kite", 1, 7, 0, 0},
        {"+tk+tk9", "", 1, 0, 9, 0},
    };
    for (const auto &c : cases) {
        char base[260];
        ColourKey key;
        TextureLoader::ParseColourKey(c.name, base, sizeof(base), &key);
        EXPECT_STREQ(c.base, base) << c.name;
        EXPECT_EQ(c.enable, key.enable) << c.name;
        EXPECT_EQ(c.r, key.red) << c.name;
        EXPECT_EQ(c.g, key.green) << c.name;
        EXPECT_EQ(c.b, key.blue) << c.name;
    }
}

TEST(TextureLoader, ReadCallbackHandsOverWithPlaceholdersByWorldLoading)
{
    CKivBase *base = CKivBase::GetInstance();
    WriteFileBytes("tl/real.png", GradientPng(4, 4));
    Dictionary d;
    const struct {
        int worldLoading;
        RwUInt8 red;
    } cases[] = {{1, 40}, {0, 230}};
    for (const auto &c : cases) {
        base->SetWorldLoading(c.worldLoading);
        base->ReleaseTexture("real");
        RwTexture *texture = base->ReadTexture("real", "tl/");
        ASSERT_NE(nullptr, texture);
        // The worker waits for the render lock, so the placeholder is still in place here.
        base->Lock();
        EXPECT_EQ(2, texture->raster->width);
        EXPECT_EQ(c.red, RasterPixels(texture->raster)[0]) << c.worldLoading;
        base->Unlock();
        ASSERT_TRUE(WaitIdle(base->GetTextureLoader()));
        EXPECT_EQ(4, texture->raster->width);
        EXPECT_EQ(7, RasterPixels(texture->raster)[4 * 1 + 2]);   // the blue of (1, 0)
    }
    base->SetWorldLoading(0);
    // Mode 1 decodes at once.
    base->ReleaseTexture("real");
    CKivBase::SetTextureReadMode(1);
    RwTexture *now = base->ReadTexture("real", "tl/");
    CKivBase::SetTextureReadMode(2);
    ASSERT_NE(nullptr, now);
    EXPECT_EQ(4, now->raster->width);
}

// A toon paint's texture is decoded at once, from the texture path only,
// even where textures load in the background: the toon loader reads in mode 1.
TEST(TextureLoader, ToonPaintTexturesDecodeAtOnceFromTheTexturePath)
{
    CKivBase *base = CKivBase::GetInstance();
    WriteFileBytes("toonpaint/tex/inked.png", GradientPng(4, 4));
    std::string dict, paint, flags, paintName("shade"), textureName("inked");
    PutU32(dict, 0xBCDE0001);
    PutU32(dict, 1);
    PutU32(paint, 0x43210001);
    PutU32(paint, 1);   // textured
    paintName.resize(32, '\0');
    textureName.resize(8, '\0');
    PutU32(flags, 0x1101);
    const std::string texture =
        Chunk(6, Chunk(1, flags) + Chunk(2, textureName) + Chunk(2, std::string(4, '\0')) + Chunk(3, ""));
    WriteFileBytes("toonpaint/shade.pnt", Chunk(1, dict) + Chunk(1, paint + paintName) + texture);
    for (const char *path : {"toonpaint/tex/", "toonpaint/"}) {
        Dictionary d;
        CKivToon toon;
        base->Lock();   // a background fill would wait: only a decode at once is seen here
        const int loaded = toon.Load(nullptr, "toonpaint/shade.pnt", path);
        RwToonPaintDictionary *paints = toon.GetPaintDictionary();
        RwTexture *t = paints && paints->count == 1 ? paints->paints[0]->texture : nullptr;
        const int width = t && t->raster ? t->raster->width : 0;
        base->Unlock();
        ASSERT_EQ(1, loaded) << path;
        EXPECT_EQ(2, CKivBase::GetTextureReadMode());
        if (!strcmp(path, "toonpaint/")) {
            EXPECT_EQ(nullptr, t);   // not found beside the paint file
            continue;
        }
        ASSERT_NE(nullptr, t);
        EXPECT_STREQ("inked", t->name);
        EXPECT_EQ(4, width);
        EXPECT_EQ(7, RasterPixels(t->raster)[4 * 1 + 2]);   // the blue of (1, 0)
        EXPECT_EQ(1, t->filterMode);
    }
}

TEST(TextureLoader, KeyedNameLoadsTheBaseFileWithTheKeyColour)
{
    WriteFileBytes("tl/_3tooth_1.png", GradientPng(4, 4));
    Dictionary d;
    std::unique_ptr<TextureLoader> loader = IdleLoader();
    RwTexture *texture = loader->Request("_3tooth_1+tk1+tk0+tk5", "tl/", 2);
    ASSERT_NE(nullptr, texture);
    EXPECT_EQ(2, texture->filterMode);
    EXPECT_EQ(texture, RwTextureDictionaryFindTexture(d.dict, "_3tooth_1+tk1+tk0+tk5"));
    loader->Drain(0);
    ASSERT_EQ(4, texture->raster->width);
    // The gradient's clear top-left pixel takes the key colour, opaque.
    const std::vector<RwUInt8> pixels = RasterPixels(texture->raster);
    EXPECT_EQ((std::vector<RwUInt8>{1, 0, 5, 255}), std::vector<RwUInt8>(pixels.begin(), pixels.begin() + 4));
}

TEST(TextureLoader, CancelKeepsOtherDictionariesAndGoneTexturesAreSkipped)
{
    WriteFileBytes("tl/c.png", GradientPng(4, 4));
    std::unique_ptr<TextureLoader> loader = IdleLoader();
    Dictionary other;
    RwTexture *kept = loader->Request("c", "tl/", 2);
    RwTexture *gone = loader->Request("c", "tl/", 2);   // same name, destroyed below
    {
        Dictionary cancelled;
        loader->Request("c", "tl/", 2);
        loader->Request("c", "tl/", 2);
        EXPECT_EQ(4, loader->GetPendingCount());
        loader->Cancel(cancelled.dict);
        EXPECT_EQ(2, loader->GetPendingCount());
    }
    RwTextureDestroy(gone);
    // A dictionary destroyed with its request still queued is dropped too.
    Dictionary *lost = new Dictionary;
    loader->Request("c", "tl/", 2);
    delete lost;
    loader->Drain(0);
    EXPECT_EQ(0, loader->GetPendingCount());
    EXPECT_EQ(4, kept->raster->width);
    // A cancel waits for the render lock, under which placeholders change dictionaries.
    CKivBase *base = CKivBase::GetInstance();
    loader->Request("c", "tl/", 2);
    base->Lock();
    std::thread canceller([&] { loader->Cancel(other.dict); });
    Sleep(50);
    EXPECT_EQ(1, loader->GetPendingCount());
    base->Unlock();
    canceller.join();
    EXPECT_EQ(0, loader->GetPendingCount());
}

// A texture the game makes itself, with a raster of its own.
RwTexture *GameTexture(RwTextureDictionary *dict, const char *name, int width, int height)
{
    RwTexture *texture = RwTextureCreate(RwRasterCreate(width, height, 32, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888));
    RwTextureSetName(texture, name);
    RwTextureDictionaryAddTexture(dict, texture);
    return texture;
}

int CountNamed(RwTextureDictionary *dict, const char *name)
{
    int count = 0;
    for (RwLLLink *l = dict->texturesInDict.next; l != &dict->texturesInDict; l = l->next)
        count += !strcmp(rwLLLinkGetData(l, RwTexture, lInDictionary)->name, name);
    return count;
}

// Requests outlive dictionaries dropped by hand, whose addresses the next
// dictionaries made take again, and placeholders released with their names
// reused: a request fills only its own placeholder, while someone holds it
// and it still shows the raster the request made, and destroys nothing else.
TEST(TextureLoader, RequestsFillOnlyTheirOwnPlaceholder)
{
    WriteFileBytes("tl/w1.png", GradientPng(256, 256));
    WriteFileBytes("tl/w2.png", GradientPng(128, 64));
    {
        RwTextureDictionary *own = RwTextureDictionaryCreate();
        GameTexture(own, "w1", 8, 8);
        WriteFileBytes("tl/own.txd", KivTestWrite([own](RwStream *s) { RwPITextureDictionaryStreamWrite(own, s); }));
        RwTextureDictionaryDestroy(own);
    }
    std::unique_ptr<TextureLoader> loader = IdleLoader();
    Dictionary *dropped = new Dictionary;
    RwTextureDictionary *first = dropped->dict;
    loader->Request("w1", "tl/", 2);
    RwTexture *held = RwTextureAddRef(loader->Request("w1", "tl/", 2));   // a material's, say
    delete dropped;
    CKivWorld world;
    ASSERT_EQ(1, world.Load(nullptr, "tl/own.txd", nullptr));
    RwTexture *worlds = RwTextureDictionaryFindTexture(world.GetTextureDictionary(), "w1");
    ASSERT_NE(nullptr, worlds);
    RwRaster *worldsRaster = worlds->raster;

    dropped = new Dictionary;
    RwTextureDictionary *second = dropped->dict;
    loader->Request("w1", "tl/", 2);
    delete dropped;
    Dictionary made;
    // The game gives a placeholder a raster of its own.
    RwTexture *replaced = loader->Request("w1", "tl/", 2);
    RwRaster *placeholder = replaced->raster;
    RwTextureSetRaster(replaced, RwRasterCreate(4, 4, 32, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888));
    RwRaster *replacedRaster = replaced->raster;
    RwRasterDestroy(placeholder);
    RwTexture *game = GameTexture(made.dict, "w1", 4, 4);
    RwRaster *gameRaster = game->raster;
    loader->Request("w2", "tl/", 2);
    CKivBase::GetInstance()->ReleaseTexture("w2");
    RwTexture *reused = GameTexture(made.dict, "w2", 4, 4);
    RwRaster *reusedRaster = reused->raster;

    loader->Drain(0);
    EXPECT_EQ(0, loader->GetPendingCount());
    // Where the library gave the dropped addresses again, the lookups by address found these.
    EXPECT_TRUE(world.GetTextureDictionary() == first || made.dict == second || made.dict == first)
        << "no address came back";
    EXPECT_EQ(worldsRaster, worlds->raster);
    EXPECT_EQ(8, worlds->raster->width);
    EXPECT_EQ(gameRaster, game->raster);
    EXPECT_EQ(4, game->raster->width);
    EXPECT_EQ(reusedRaster, reused->raster);
    EXPECT_EQ(4, reused->raster->width);
    EXPECT_EQ(replacedRaster, replaced->raster);
    EXPECT_EQ(1, CountNamed(made.dict, "w2"));   // the released placeholder went with its request
    EXPECT_EQ(256, held->raster->width);
    RwTextureDestroy(held);
}

// A dictionary cancelled while the worker copies a texture's pixels (between
// its two locked sections) keeps its placeholder: the worker asks again
// before the swap. The cancel lands at times spread over the load's last
// part, where the copy is; a placeholder seen under the lock at the cancel
// must stay one.
TEST(TextureLoader, ACancelBetweenTheWorkersSectionsKeepsThePlaceholder)
{
    CKivBase *base = CKivBase::GetInstance();
    WriteFileBytes("tl/wide.png", GradientPng(1024, 1024));
    Dictionary d;
    std::unique_ptr<TextureLoader> loader = IdleLoader();
    RwTexture *timed = loader->Request("wide", "tl/", 2);
    DWORD start = GetTickCount();
    loader->Drain(0);
    const DWORD whole = GetTickCount() - start + 1;
    RwTextureDestroy(timed);
    RwTextureDictionary *other = RwTextureDictionaryCreate();
    int swapped = 0, kept = 0;
    for (int round = 0; round < 45; round++) {
        // Every third round cancels another dictionary: that load goes on.
        const bool others = round % 3 == 2;
        const DWORD step = static_cast<DWORD>(others ? round / 3 * 2 : round - round / 3);
        RwTexture *texture = loader->Request("wide", "tl/", 2);
        std::thread worker([&] { loader->Drain(0); });
        Sleep(whole / 2 + whole * step / 50);
        base->Lock();
        const bool placeholder = texture->raster->width == 2;
        loader->Cancel(others ? other : d.dict);
        base->Unlock();
        worker.join();
        swapped += !others && placeholder && texture->raster->width != 2;
        kept += others && texture->raster->width == 1024;
        RwTextureDestroy(texture);
    }
    RwTextureDictionaryDestroy(other);
    EXPECT_EQ(0, swapped);
    EXPECT_EQ(15, kept);
}

TEST(TextureLoader, DestructionWithQueuedAndInFlightRequests)
{
    WriteFileBytes("tl/q.png", GradientPng(4, 4));
    Dictionary d;
    {
        std::unique_ptr<TextureLoader> loader = IdleLoader();
        for (int i = 0; i < 3; i++)
            loader->Request("q", "tl/", 2);
        const DWORD start = GetTickCount();
        loader.reset();
        EXPECT_LT(GetTickCount() - start, 1000u);
    }
    RwTexture *placeholder = RwTextureDictionaryFindTexture(d.dict, "q");
    ASSERT_NE(nullptr, placeholder);
    EXPECT_EQ(2, placeholder->raster->width);
    TextureLoader *busy = new TextureLoader(1);
    for (int i = 0; i < 20; i++)
        busy->Request("q", "tl/", 2);
    Sleep(5);
    delete busy;
    // Destroyed by a thread holding the render lock, most likely with a long
    // read in flight: the stopping worker leaves the lock alone, and every
    // request gives its placeholder back.
    WriteFileBytes("tl/long.png", std::string(4 << 20, '\0'));
    GuardFreedBegin();
    TextureLoader *reading = new TextureLoader(1);
    RwTexture *read = reading->Request("long", "tl/", 2);
    Sleep(20);
    CKivBase::GetInstance()->Lock();
    delete reading;
    EXPECT_EQ(0, GuardFreedEnd());
    CKivBase::GetInstance()->Unlock();
    EXPECT_EQ(1, read->refCount);
    for (RwLLLink *l = d.dict->texturesInDict.next; l != &d.dict->texturesInDict; l = l->next)
        EXPECT_EQ(1, rwLLLinkGetData(l, RwTexture, lInDictionary)->refCount);
    std::unique_ptr<TextureLoader> drained = IdleLoader();
    drained->Request("q", "tl/", 2);
    drained->Drain(1);
    EXPECT_EQ(0, drained->GetPendingCount());
}

// Queueing, inside the library's texture read, allocates nothing that could throw
// through it: hundreds of requests with no other C++ allocation possible.
TEST(TextureLoader, RequestsQueueWithoutAllocating)
{
    Dictionary d;
    std::unique_ptr<TextureLoader> loader = IdleLoader();
    int queued = 0;
    FailNewBegin(sizeof(TextureRequest));
    try {
        for (int i = 0; i < 300; i++)
            queued += loader->Request("q", "tl/", 2) != nullptr;
    } catch (const std::bad_alloc &) {
        // The queue's lock is still held: the loader cannot be stopped.
        loader.release();
    }
    FailNewEnd();
    ASSERT_EQ(300, queued);
    EXPECT_EQ(300, loader->GetPendingCount());
    loader->Drain(1);
    EXPECT_EQ(0, loader->GetPendingCount());
}

// The loader archive reads a packed archive of the test's own, where opening
// a file allocates (its handle is registered); the loose tree is back after.
class PackedLoaderArchive {
public:
    explicit PackedLoaderArchive(std::initializer_list<const char *> names)
    {
        CParcel writer;
        DeleteFileA("loader.pcl");
        bool written = writer.Open(1, "loader.pcl", 4, 1024) != FALSE;
        const std::string png = GradientPng(4, 4);
        for (const char *name : names) {
            const std::string path = std::string("tl\\") + name + ".png";
            HANDLE h = writer.CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                         nullptr);
            DWORD done = 0;
            written = written && h != INVALID_HANDLE_VALUE;
            if (!written)
                break;
            writer.SetFileSize(h, static_cast<DWORD>(png.size()), 0);   // an entry's room is set before writing
            written = writer.WriteFile(h, png.data(), static_cast<DWORD>(png.size()), &done, nullptr) != FALSE;
            writer.CloseHandle(h);
        }
        written = written && writer.Flush(0);
        writer.Close();
        m_parcel->Close();
        m_opened = written && m_parcel->Open(1, "loader.pcl", 2, 0x2800);
    }
    ~PackedLoaderArchive()
    {
        m_parcel->Close();
        m_parcel->Open(0, "", 2, 0x2800);
        DeleteFileA("loader.pcl");
    }
    bool Opened() const { return m_opened; }

private:
    CParcel *m_parcel = CKivBase::GetInstance()->GetLoaderParcel();
    bool m_opened = false;
};

DWORD WINAPI DrainOnThread(void *loader)
{
    static_cast<TextureLoader *>(loader)->Drain(0);
    return 0;
}

// Memory running out inside the loader archive is a failed read: the
// placeholder stays, nothing is thrown, and the archive is free for the next
// read on another thread.
TEST(TextureLoader, ArchiveOutOfMemoryIsAFailedRead)
{
    PackedLoaderArchive archive({"short", "again"});
    ASSERT_TRUE(archive.Opened());
    Dictionary d;
    // The worker's first pass, late on a busy machine, may take the request
    // itself: then the read did not run out of memory here, and it is tried
    // again with a new loader.
    std::unique_ptr<TextureLoader> loader;
    RwTexture *failed = nullptr;
    bool thrown = false;
    long refused = 0;
    for (int tries = 0; tries < 20 && refused == 0; tries++) {
        loader = IdleLoader();
        failed = loader->Request("short", "tl\\", 2);
        ASSERT_NE(nullptr, failed);
        FailNewBegin(0);
        try {
            loader->Drain(0);
        } catch (...) {
            thrown = true;
        }
        refused = FailNewRefused();
        FailNewEnd();
    }
    ASSERT_NE(0, refused) << "the worker took the request every time";
    EXPECT_FALSE(thrown);
    EXPECT_EQ(0, loader->GetPendingCount());
    EXPECT_EQ(2, failed->raster->width);

    RwTexture *next = loader->Request("again", "tl\\", 2);
    HANDLE thread = CreateThread(nullptr, 0, DrainOnThread, loader.get(), 0, nullptr);
    ASSERT_NE(nullptr, thread);
    const DWORD waited = WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    if (waited != WAIT_OBJECT_0) {
        // Still waiting for the archive: the loader cannot be stopped.
        loader.release();
        FAIL() << "the archive's lock stayed held";
    }
    // Or the worker took it, late: its read ends as soon.
    for (int waited = 0; waited < 2000 && loader->GetPendingCount() > 0; waited++)
        Sleep(5);
    EXPECT_EQ(4, next->raster->width);
}

std::set<DWORD> ProcessThreads()
{
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ids.insert(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    return ids;
}

// Every allocation of the worker thread failing: it serves its requests as
// failed reads and lives on, and serves the next one whole.
TEST(TextureLoader, WorkerOutlivesMemoryRunningOut)
{
    PackedLoaderArchive archive({"late", "later"});
    ASSERT_TRUE(archive.Opened());
    Dictionary d;
    const std::set<DWORD> before = ProcessThreads();
    std::unique_ptr<TextureLoader> loader(new TextureLoader(1));
    std::set<DWORD> started = ProcessThreads();
    for (DWORD id : before)
        started.erase(id);
    ASSERT_EQ(1u, started.size());
    FailNewOnThread(*started.begin());
    RwTexture *failed = loader->Request("late", "tl\\", 2);
    ASSERT_NE(nullptr, failed);
    const bool idle = WaitIdle(loader.get());
    FailNewOnThread(0);
    ASSERT_TRUE(idle);
    EXPECT_EQ(2, failed->raster->width);
    RwTexture *next = loader->Request("later", "tl\\", 2);
    ASSERT_TRUE(WaitIdle(loader.get()));
    EXPECT_EQ(4, next->raster->width);
}

const int kThreadWorlds = 30;

// Each world loads, then asks for a texture into its dictionary, all under the render lock.
DWORD WINAPI LoadWorlds(void *data)
{
    std::vector<CKivWorld *> *worlds = static_cast<std::vector<CKivWorld *> *>(data);
    CKivBase *base = CKivBase::GetInstance();
    for (int i = 0; i < kThreadWorlds; i++) {
        CKivWorld *world = new CKivWorld(("w" + std::to_string(i)).c_str());
        base->Lock();
        world->Load("tl/ground.bsp", nullptr, "tl/");
        RwTextureDictionary *previous = RwTextureDictionarySetCurrent(world->GetTextureDictionary());
        base->ReadTexture(("s" + std::to_string(i)).c_str(), "tl/");
        RwTextureDictionarySetCurrent(previous);
        base->Unlock();
        (*worlds)[i] = world;
    }
    return 0;
}

// Worlds load on a thread while frames render, the worker swaps and every third world is destroyed.
TEST(TextureLoader, LoadingThreadFramesAndWorkerTogether)
{
    CKivBase *base = CKivBase::GetInstance();
    for (int i = 0; i < kThreadWorlds; i++)
        WriteFileBytes("tl/s" + std::to_string(i) + ".png", GradientPng(4, 4));
    WriteFileBytes("tl/ground.bsp", KivTestGround(10.0f, 0.0f, 5.0f));
    std::vector<CKivWorld *> worlds(kThreadWorlds, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, LoadWorlds, &worlds, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    CKivCamera *camera = base->GetDefaultCamera();
    for (int frame = 0; frame < 3000; frame++) {
        base->Lock();
        camera->BeginUpdate();
        camera->EndUpdate();
        base->Unlock();
        base->Present();
        const bool loaded = WaitForSingleObject(thread, 5) == WAIT_OBJECT_0;
        for (int i = 0; loaded && i < kThreadWorlds; i += 3) {
            delete worlds[i];
            worlds[i] = nullptr;
        }
        if (loaded && base->GetPendingTextureCount() == 0)
            break;
    }
    CloseHandle(thread);
    EXPECT_EQ(0, base->GetPendingTextureCount());
    for (int i = 0; i < kThreadWorlds; i++) {
        if (!worlds[i])
            continue;
        RwTexture *texture = RwTextureDictionaryFindTexture(worlds[i]->GetTextureDictionary(), ("s" + std::to_string(i)).c_str());
        ASSERT_NE(nullptr, texture) << i;
        EXPECT_EQ(4, texture->raster->width) << i;
        delete worlds[i];
    }
}

} // namespace
