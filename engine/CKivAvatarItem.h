// An avatar item: its own atomics, the body parts it replaces and the slots it occupies.
#pragma once

#include <string>
#include <vector>

struct RwRGBA;
class CKivAvatarAtomic;
class CKivClump;
class CKivToon;

class CKivAvatarItem
{
public:
    CKivAvatarItem();
    virtual ~CKivAvatarItem();
    CKivAvatarItem(const CKivAvatarItem &) = delete;
    CKivAvatarItem &operator=(const CKivAvatarItem &) = delete;

    // Empties the lists and destroys the item atomics.
    void Clear();
    void SetKey(int key) { m_key = key; }
    void SetValue(int value) { m_value = value; }
    void SetDisplayMode(int mode) { m_displayMode = mode; }
    void SetFlag(int flag) { m_flag = flag; }
    // 0 when memory runs out, with the item as it was.
    int AddReplacedPart(const char *name);
    int AddSlot(int slot);
    // Copies the clump's part atomics (named frames, no bone shapes), coloured by the display mode.
    int AddClumpAtomics(CKivClump *clump);
    int HasSlot(int slot) const;
    int SharesSlot(const CKivAvatarItem *other) const;
    void ResetColor();
    void SetColor(const RwRGBA *colour);
    void SetupAlpha();
    void RestoreAlpha();
    void SetToon(CKivToon *toon);

    int GetKey() const { return m_key; }
    int GetValue() const { return m_value; }
    int GetDisplayMode() const { return m_displayMode; }
    int GetFlag() const { return m_flag; }
    CKivToon *GetToon() const { return m_toon; }
    const std::vector<std::string> &GetReplacedParts() const { return m_replacedParts; }
    const std::vector<int> &GetSlots() const { return m_slots; }
    const std::vector<CKivAvatarAtomic *> &GetAtomics() const { return m_atomics; }

private:
    int m_value;
    int m_key;
    int m_displayMode;   // 1: semi-transparent
    int m_flag;
    std::vector<std::string> m_replacedParts;
    std::vector<int> m_slots;
    std::vector<CKivAvatarAtomic *> m_atomics;   // owned
    CKivToon *m_toon;                            // not owned
};
