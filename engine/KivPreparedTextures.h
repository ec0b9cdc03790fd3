// Pictures a load decodes before it takes the render lock, for the texture reads its own thread makes under the hold.
//
// A load names its files before it locks: the pictures its textures will ask
// for are read and decoded then, with no lock, their rasters made under a
// brief hold and filled with none, so that under the load's hold the texture
// read callback only puts each raster under its texture. What the callback
// returns does not depend on this: a picture that was not prepared, or was
// prepared for another scale, is read and decoded under the lock as always.
// The list is the thread's own; only a thread that holds no render lock
// prepares (under a hold the decoding would wait in it anyway).
// Names are compared as the texture dictionary compares them, letter case
// aside: spellings the dictionary takes for one texture are one picture.
#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>

struct KivPngPixels;
struct RwRaster;
struct RwTextureDictionary;

class KivPreparedTextures
{
public:
    // Becomes the calling thread's innermost list until destroyed.
    KivPreparedTextures();
    ~KivPreparedTextures();
    KivPreparedTextures(const KivPreparedTextures &) = delete;
    KivPreparedTextures &operator=(const KivPreparedTextures &) = delete;

    // Names a list takes at most: those a file names past them are read
    // under the lock, as unprepared ones are.
    static const size_t kMostNames = 1024;

    // 0 when nothing will be prepared (the thread holds the lock, say).
    int Active() const { return m_active; }
    // The file "<path><name>.png" the callback would read for the name.
    void Want(const char *name, const char *path);
    // Every texture name a stream's texture chunks carry, less the names
    // the texture chunks of skip carry (a dictionary's own), up to the
    // list's room.
    void WantStream(const unsigned char *bytes, size_t size, const char *path, const unsigned char *skip = nullptr,
                    size_t skipSize = 0);
    // Reads and decodes what is wanted, at the present read mode and scales,
    // leaving out names the dictionary (or, with current set, the current
    // dictionary, looked at under a brief hold) already has.
    void Decode(RwTextureDictionary *dictionary, int current);

    // Under the hold, on the preparing thread: the filled raster of the
    // picture prepared for the name under the path when its size is the one
    // the mode and the present scales give (the read mode changes nothing
    // else of a picture), now the caller's; null otherwise.
    static RwRaster *Take(const char *path, const char *name, int mode);

    // What every list has done so far, for tests and benchmarks: the name
    // comparisons its lookups made, and the pictures it decoded.
    static unsigned long NamesCompared();
    static unsigned long PicturesDecoded();

private:
    struct Entry {
        std::string name;
        std::string path;
        std::string file;
        KivPngPixels *pixels;   // decoded with no lock
        RwRaster *raster;       // made under a brief hold, or null
        int copied;             // the raster holds the pixels
        int inDictionary;       // the dictionary has it: never asked for, not read
        RwRaster *Finish();
    };
    // A hash that leaves letter case out, beside the dictionary's comparison.
    struct NameHash {
        size_t operator()(const char *name) const;
        size_t operator()(const std::string &name) const { return (*this)(name.c_str()); }
    };
    struct NameEqual {
        bool operator()(const char *a, const char *b) const;
        bool operator()(const std::string &a, const std::string &b) const { return (*this)(a.c_str(), b.c_str()); }
    };

    Entry *Find(const char *path, const char *name);
    bool Known(const char *path, const char *name);
    void DropNamesIn(RwTextureDictionary *dictionary);
    void MakeRasters();

    int m_active;
    int m_mode;                      // the read mode the pictures are decoded for
    KivPreparedTextures *m_outer;    // the thread's list before this one
    std::list<Entry> m_entries;      // kept in place (the index points into them); made empty with no memory
    std::unordered_multimap<const char *, Entry *, NameHash, NameEqual> m_byName;
};
