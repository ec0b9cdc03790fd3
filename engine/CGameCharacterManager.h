// The game's character manager, as far as the engine needs it: a blob shadow under each character's pelvis.
#pragma once

#include <vector>

#include "engine/CKivSimpleShadow.h"

class CKivClump;

class CGameCharacterManager : public CKivSimpleShadow
{
public:
    CGameCharacterManager() = default;

    // The characters are the game's; the manager only holds them.
    // 0 when memory runs out (the character then casts no shadow).
    int AddCharacter(CKivClump *clump);
    void RemoveCharacter(CKivClump *clump);
    void SetScene(RwWorld *world, CKivCamera *camera);
    // The game passes none: the engine then draws a plain dark blob.
    void SetShadowTexture(RwTexture *texture) { m_texture = texture; }

    // One blob per held character at its "Bip01 Pelvis" frame; the argument is not used.
    void DrawShadows(void *context) override;

private:
    std::vector<CKivClump *> m_characters;
    RwWorld *m_world = nullptr;
    CKivCamera *m_camera = nullptr;
    RwTexture *m_texture = nullptr;
};
