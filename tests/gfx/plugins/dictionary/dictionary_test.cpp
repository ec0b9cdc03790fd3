// Tests of named dictionaries: reading, finding, walking, writing and destroying them, and hostile streams.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gfx/core/started_engine.h"
#include "gfx/plugins/dictionary/dictionary.h"
#include "support/stream_bytes.h"

namespace {

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine());

// Entries of the test schema: a reference count and a 16-byte name.
struct Entry {
    RwInt32 refs;
    char name[16];
};
const RwUInt32 kEntryChunk = 0x7E7;
int alive = 0;
int oldReads = 0;

void *AddRef(void *e) { return ++static_cast<Entry *>(e)->refs, e; }
RwBool Release(void *e)
{
    if (--static_cast<Entry *>(e)->refs == 0) {
        RwFree(e);
        --alive;
    }
    return TRUE;
}
const RwChar *Name(void *e) { return static_cast<Entry *>(e)->name; }
RwUInt32 Size(const void *) { return 16; }
void *ReadEntry(RwStream *stream)
{
    char name[16];
    if (!RwStreamReadExact(stream, name, 16)) {
        return nullptr;
    }
    Entry *e = static_cast<Entry *>(RwMalloc(sizeof(Entry), 0x3002B));
    e->refs = 1;
    std::memcpy(e->name, name, 16);
    e->name[15] = 0;
    ++alive;
    return e;
}
const void *WriteEntry(const void *e, RwStream *stream)
{
    return RwStreamWriteChunkHeader(stream, kEntryChunk, 16) ? RwStreamWrite(stream, static_cast<const Entry *>(e)->name, 16)
                                                           : nullptr;
}
RwDictionary *OldRead(RwStream *) { return ++oldReads, nullptr; }

RwDictionarySchema schema = {"Test", 0x2B, kEntryChunk, 0x36000, nullptr, nullptr, AddRef, Release,
                             Name,   Size, ReadEntry,   nullptr, WriteEntry};

// A dictionary chunk of the given names; the struct chunk may carry another stamp.
Bytes DictionaryBytes(const std::vector<const char *> &names, RwUInt32 stamp = 0x1C020055, RwUInt32 count = ~0u)
{
    Build body;
    body.Header(1, 4, stamp).U32(count == ~0u ? static_cast<RwUInt32>(names.size()) : count);
    for (const char *n : names) {
        char name[16] = {};
        std::strncpy(name, n, 15);
        body.Header(kEntryChunk, 16).Text(name, 16);
    }
    Build all;
    all.Header(0x2B, static_cast<RwUInt32>(body.bytes.size()));
    all.bytes.insert(all.bytes.end(), body.bytes.begin(), body.bytes.end());
    return all;
}

RwDictionary *Read(Bytes &bytes, size_t n = static_cast<size_t>(-1))
{
    return ReadChunkWith(bytes, 0x2B, [](RwStream *s) { return RwDictionaryStreamRead(&schema, s); }, n);
}

class Dictionary : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(&schema, RwDictionarySchemaInit(&schema));
        // The stream pool lets its first block go with the first stream closed.
        Bytes none(1);
        RwStreamClose(OpenRead(none), nullptr);
        live_ = rwTestMemory.live;
    }
    void TearDown() override
    {
        EXPECT_EQ(0, alive);
        EXPECT_EQ(live_, rwTestMemory.live);
        RwDictionarySchemaDestruct(&schema);
        rwTestMemory.failRealloc = false;
    }
    RwInt32 live_ = 0;
};

void *StopAtFirst(void *, void *data) { return ++*static_cast<int *>(data), nullptr; }

TEST_F(Dictionary, ReadsFindsWalksAndWritesBack)
{
    Bytes bytes = DictionaryBytes({"run", "walk", "run"});
    RwDictionary *d = Read(bytes);
    ASSERT_NE(nullptr, d);
    ASSERT_EQ(3, d->entries->count);
    void **e = static_cast<void **>(d->entries->data);
    EXPECT_EQ(1, static_cast<Entry *>(e[2])->refs);
    EXPECT_EQ(e[0], RwDictionaryFindNamedEntry(d, "run"));
    EXPECT_EQ(e[1], RwDictionaryFindNamedEntry(d, "walk"));
    EXPECT_EQ(nullptr, RwDictionaryFindNamedEntry(d, "Run"));
    int visits = 0;
    RwDictionaryForAllEntries(d, StopAtFirst, &visits);
    EXPECT_EQ(1, visits);
    EXPECT_EQ(bytes.size() - 12, RwDictionaryStreamGetSize(d) + 0u);
    EXPECT_EQ(bytes, WrittenWith([&](RwStream *w) { return RwDictionaryStreamWrite(d, w) == d; }));
    RwDictionarySchemaSetCurrent(&schema, d);
    RwDictionaryDestroy(d);
    EXPECT_EQ(nullptr, RwDictionarySchemaGetCurrent(&schema));
    EXPECT_EQ(0, schema.dictionaries->count);
}

TEST_F(Dictionary, EmptyDictionariesAreListedAndDestroyMovesTheLast)
{
    Bytes bytes = DictionaryBytes({});
    RwDictionary *d[3] = {Read(bytes), Read(bytes), Read(bytes)};
    ASSERT_NE(nullptr, d[2]);
    EXPECT_EQ(0, d[0]->entries->count);
    RwDictionaryDestroy(d[0]);
    ASSERT_EQ(2, schema.dictionaries->count);
    RwDictionary **list = static_cast<RwDictionary **>(schema.dictionaries->data);
    EXPECT_EQ(d[2], list[0]);
    EXPECT_EQ(d[1], list[1]);
    RwDictionaryDestroy(d[1]);
    RwDictionaryDestroy(d[2]);
}

TEST_F(Dictionary, OldVersionsGoToTheOldReader)
{
    Bytes bytes = DictionaryBytes({"a"}, RwChunkVersionStamp(0x35FFF, 0));
    oldReads = 0;
    EXPECT_EQ(nullptr, Read(bytes));
    schema.oldStreamReadCB = OldRead;
    EXPECT_EQ(nullptr, Read(bytes));
    schema.oldStreamReadCB = nullptr;
    EXPECT_EQ(1, oldReads);
}

TEST_F(Dictionary, HostileStreamsFailAndReleaseWhatWasRead)
{
    Bytes bytes = DictionaryBytes({"a", "b", "c"});
    for (size_t n = 0; n < bytes.size(); ++n) {
        EXPECT_EQ(nullptr, Read(bytes, n)) << n;
        EXPECT_EQ(0, alive) << n;
    }
    for (RwUInt32 count : {0x7FFFFFFFu, 0x80000000u, 4u}) {
        Bytes hostile = DictionaryBytes({"a", "b", "c"}, 0x1C020055, count);
        EXPECT_EQ(nullptr, Read(hostile)) << count;
        EXPECT_LT(rwTestMemory.lastSize, 1000u);
    }
    EXPECT_EQ(0, schema.dictionaries->count);
}

TEST_F(Dictionary, EntryThatCannotBeAppendedIsReleased)
{
    Bytes bytes = DictionaryBytes(std::vector<const char *>(21, "x"));
    rwTestMemory.failRealloc = true;   // the 21st entry needs a larger array
    EXPECT_EQ(nullptr, Read(bytes));
    rwTestMemory.failRealloc = false;
    RwDictionary *d = Read(bytes);
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(21, d->entries->count);
    RwDictionaryDestroy(d);
}

}  // namespace
