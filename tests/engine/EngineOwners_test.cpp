// Engine and GUI objects that own graphics, sound, thread or heap resources cannot be copied: a copy would release them twice.
#include <type_traits>

#include "engine/CKivAnimManager.h"
#include "engine/CKivAvatar.h"
#include "engine/CKivAvatarAtomic.h"
#include "engine/CKivAvatarItem.h"
#include "engine/CKivBase.h"
#include "engine/CKivBehaviorManager.h"
#include "engine/CKivCamera.h"
#include "engine/CKivClump.h"
#include "engine/CKivEngineScriptBinder.h"
#include "engine/CKivLight.h"
#include "engine/CKivSound2D.h"
#include "engine/CKivSound3D.h"
#include "engine/CKivSoundManager.h"
#include "engine/CKivTextureTrailer.h"
#include "engine/CKivToon.h"
#include "engine/CKivUVAnim.h"
#include "engine/CKivViewport.h"
#include "engine/CKivWorld.h"
#include "engine/TextureLoader.h"
#include "engine/gui/CKivGuiButton.h"
#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CKivGuiIMEEditBox.h"
#include "engine/gui/CKivGuiResourceManager.h"
#include "engine/gui/CKivGuiSprite.h"
#include "engine/gui/CKivGuiStatic.h"
#include "engine/gui/CKivGuiSystem.h"
#include "engine/gui/CKivGuiTempScrollBar.h"
#include "engine/gui/CKivGuiTooltip.h"
#include "engine/gui/CKivGuiTooltipManager.h"
#include "engine/gui/CKivSprite.h"
#include "engine/gui/CUniBuffer.h"

namespace {

template <typename... T>
constexpr bool kNoneCopies = ((!std::is_copy_constructible_v<T> && !std::is_copy_assignable_v<T>) && ...);

static_assert(kNoneCopies<CKivBase, CKivClump, CKivAvatar, CKivAvatarAtomic, CKivAvatarItem, CKivTextureTrailer,
                          CKivLight, CKivToon, CKivUVAnim, CKivCamera, CKivViewport, CKivWorld, CKivAnimManager,
                          CKivBehaviorManager, CKivSoundManager, CKivSound2D, CKivSound3D, TextureLoader,
                          CKivEngineScriptBinder>,
              "engine objects that own resources are not copied");
static_assert(kNoneCopies<CKivGuiSystem, CKivGuiDialog, CKivGuiButton, CKivGuiCheckBox, CKivGuiStatic,
                          CKivGuiTempScrollBar, CKivGuiIMEEditBox, CKivGuiDxFont, CKivGuiResourceManager,
                          CKivGuiSprite, CKivSprite, CKivGuiTooltip, CKivGuiTooltipManager, CUniBuffer>,
              "GUI objects that own resources are not copied");

} // namespace
