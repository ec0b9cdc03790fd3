// The game's character manager, as far as the engine needs it: a blob shadow under each character's pelvis.
#include "engine/CGameCharacterManager.h"

#include <algorithm>
#include <new>

#include "engine/CKivClump.h"
#include "gfx/core/matrix.h"

int CGameCharacterManager::AddCharacter(CKivClump *clump)
{
    if (!clump)
        return 0;
    try {
        if (std::find(m_characters.begin(), m_characters.end(), clump) == m_characters.end())
            m_characters.push_back(clump);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    return 1;
}

void CGameCharacterManager::RemoveCharacter(CKivClump *clump)
{
    m_characters.erase(std::remove(m_characters.begin(), m_characters.end(), clump), m_characters.end());
}

void CGameCharacterManager::SetScene(RwWorld *world, CKivCamera *camera)
{
    m_world = world;
    m_camera = camera;
}

void CGameCharacterManager::DrawShadows(void *)
{
    for (CKivClump *clump : m_characters) {
        const RwMatrix *pelvis = clump->GetFrameMatrix("Bip01 Pelvis");
        if (pelvis)
            RenderShadow(m_world, &pelvis->pos, 30.0f, 1000.0f, m_texture, m_camera);
    }
}
