// The avatar: a character clump assembled from a numbered body, skins, faces, script-made emotions and items.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "engine/CKivClump.h"

class CKivAvatarAtomic;
class CKivAvatarItem;
class CKivTextureTrailer;
class KivPreparedTextures;

class CKivAvatar : public CKivClump
{
public:
    static const int kPartCount = 5;
    static const int kFaceFrames = 22;
    static const int kNameSize = 260;         // emotion names and built paths
    static const int kDisplacedSize = 1024;   // keys of the displaced-item list
    static const int kSlotListSize = 50;
    static const char *const kPartNames[kPartCount];

    CKivAvatar();
    ~CKivAvatar() override;

    // The four scripts that define the avatar's script functions; failures are
    // only logged. 0 only when memory runs out for the folder's name.
    static int LoadScripts(const char *dataFolder);
    static void UnloadScripts() {}
    static const char *GetDataFolder();

    int Create(int body, int skin, int face);
    int CreateVariant(int body, int skin, int face, int variant1, int variant2, int variant3);
    int SetBody(int body);
    int SetSkin(int skin);
    int SetFace(int face);
    void SetVariant(int skin, int variant1, int variant2, int variant3, int save);
    void RestoreVariant();

    // Emotions: texture trailers on the "_headShape" atomic, keyed by lower-cased name.
    // AddEmotion gives 0 and adds nothing when memory runs out.
    int AddEmotion(const char *name, int frame, float seconds);
    CKivTextureTrailer *FindEmotion(const char *name) const;
    int RemoveEmotion(const char *name);
    int SetEmotion(const char *name);
    int PlayEmotion(const char *name, float duration, int repeatCount);
    void ReturnToBaseEmotion();
    int Update(float dt) override;

    // Items: the script attaches them; the list is the keys displaced, zero-ended.
    // The lists returned are the calling thread's, kept until its next such
    // call or its end; null when memory for them runs out.
    const int *AttachItem(int itemId, int itemNumber, int second, int flag);
    // Takes the item in every case: 1 when it is worn; 0 when its key stays
    // with a worn item or memory runs out, and the item is deleted then.
    int AttachItemObject(CKivAvatarItem *item);
    int RemoveItem(int key);
    int HasItem(int key) const;
    CKivAvatarItem *FindItemByValue(int value) const;
    int ItemHasMode(int value) const;
    int AnyItemHasMode() const;
    const int *GetItemSlots(int itemId, int itemNumber);
    void RebuildParts();
    void SetBodyHidden(int hidden);
    void ResetColor();
    void Release();

    int GetBody() const { return m_body; }
    int GetSkin() const { return m_skin; }
    int GetFace() const { return m_face; }
    int GetSkinId() const { return m_skinId; }
    int GetFaceId() const { return m_faceId; }
    const char *GetBaseEmotion() const { return m_baseEmotion.c_str(); }
    const char *GetCurrentEmotion() const { return m_currentEmotion.c_str(); }
    float GetEmotionTimer() const { return m_emotionTimer; }
    int GetItemCount() const { return static_cast<int>(m_items.size()); }
    CKivAvatarItem *GetItem(int key) const;
    const std::vector<CKivAvatarAtomic *> &GetPartAtomics() const { return m_parts; }

    // Texture names of the current numbers and variant state.
    void PartSkinName(int part, char *name, int size) const;
    void FaceFrameName(int frame, char *name, int size) const;

private:
    // The same names for other numbers, with the current variant state.
    void PartSkinName(int body, int skin, int part, char *name, int size) const;
    void FaceFrameName(int body, int skin, int face, int frame, char *name, int size) const;
    void PrepareTextures(KivPreparedTextures *prepared, int body, int skin, int face) const;
    static int ModelPaths(int body, char (&path)[kNameSize], char (&images)[kNameSize]);
    int CallScript(const char *function, const char *label, int number, const int *itemArgs);
    int PlayKey(std::string &&key, float duration, int repeatCount);
    int ReadTextures();
    void ReleaseTextures();
    void ClearPartTextures(int firstOnly);
    int CapturePartAtomics();
    void DeletePartAtomics();
    void AttachBodyParts();
    void DetachItemAtomics();
    void AttachItems();
    void ReapplyToon();
    void DeleteEmotions();
    void DeleteItems();

    std::vector<CKivAvatarAtomic *> m_parts;          // owned
    std::map<int, CKivAvatarItem *> m_items;          // owned, in key order
    int m_skinId;
    int m_faceId;
    int m_body;
    int m_skin;
    int m_face;
    int m_variant;
    unsigned char m_variants[3];
    int m_savedVariant;
    unsigned char m_savedVariants[3];
    int m_savedSkin;
    std::string m_baseEmotion;
    std::string m_currentEmotion;
    std::map<std::string, CKivTextureTrailer *> m_emotions;   // owned
    float m_emotionTimer;
    float m_emotionDuration;
    int m_emotionRepeat;
    int m_bodyHidden;
    std::vector<RwTexture *> m_readTextures;   // one reference each, dropped by Release
};
