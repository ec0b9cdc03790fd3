// A device that forwards every call to a real device and records the call names.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include <string>
#include <vector>

// Stands between the driver and the real device so that tests can see which
// calls reach the device and in what order. The real device keeps its own
// reference count; the wrapper itself is not reference counted.
// Each method notes its name and forwards the call unchanged.
#define KIV_FORWARD(type, name, params, args)                                                                   \
    type STDMETHODCALLTYPE name params override                                                                 \
    {                                                                                                           \
        Note(#name);                                                                                            \
        return real->name args;                                                                                 \
    }

class CountingDevice : public IDirect3DDevice9 {
public:
    explicit CountingDevice(IDirect3DDevice9 *device) : real(device) {}
    virtual ~CountingDevice() = default;

    IDirect3DDevice9 *real;
    std::vector<std::string> calls;
    bool recording = true;

    void ResetLog() { calls.clear(); }
    int Count(const std::string &name) const
    {
        int n = 0;
        for (const std::string &c : calls)
            n += (c == name);
        return n;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override
    {
        return real->QueryInterface(riid, object);
    }
    KIV_FORWARD(ULONG, AddRef, (), ())
    KIV_FORWARD(ULONG, Release, (), ())
    KIV_FORWARD(HRESULT, TestCooperativeLevel, (), ())
    KIV_FORWARD(UINT, GetAvailableTextureMem, (), ())
    KIV_FORWARD(HRESULT, EvictManagedResources, (), ())
    KIV_FORWARD(HRESULT, GetDirect3D, (IDirect3D9 **ppD3D9), (ppD3D9))
    KIV_FORWARD(HRESULT, GetDeviceCaps, (D3DCAPS9 *pCaps), (pCaps))
    KIV_FORWARD(HRESULT, GetDisplayMode, (UINT iSwapChain, D3DDISPLAYMODE *pMode), (iSwapChain, pMode))
    KIV_FORWARD(HRESULT, GetCreationParameters, (D3DDEVICE_CREATION_PARAMETERS *pParameters), (pParameters))
    KIV_FORWARD(HRESULT, SetCursorProperties, (UINT XHotSpot, UINT YHotSpot, IDirect3DSurface9 *pCursorBitmap),
                (XHotSpot, YHotSpot, pCursorBitmap))
    KIV_FORWARD(void, SetCursorPosition, (int X, int Y, DWORD Flags), (X, Y, Flags))
    KIV_FORWARD(WINBOOL, ShowCursor, (WINBOOL bShow), (bShow))
    KIV_FORWARD(HRESULT, CreateAdditionalSwapChain,
                (D3DPRESENT_PARAMETERS *pPresentationParameters, IDirect3DSwapChain9 **pSwapChain),
                (pPresentationParameters, pSwapChain))
    KIV_FORWARD(HRESULT, GetSwapChain, (UINT iSwapChain, IDirect3DSwapChain9 **pSwapChain), (iSwapChain, pSwapChain))
    KIV_FORWARD(UINT, GetNumberOfSwapChains, (), ())
    KIV_FORWARD(HRESULT, Reset, (D3DPRESENT_PARAMETERS *pPresentationParameters), (pPresentationParameters))
    KIV_FORWARD(HRESULT, Present,
                (const RECT *src_rect, const RECT *dst_rect, HWND dst_window_override, const RGNDATA *dirty_region),
                (src_rect, dst_rect, dst_window_override, dirty_region))
    KIV_FORWARD(HRESULT, GetBackBuffer,
                (UINT iSwapChain, UINT iBackBuffer, D3DBACKBUFFER_TYPE Type, IDirect3DSurface9 **ppBackBuffer),
                (iSwapChain, iBackBuffer, Type, ppBackBuffer))
    KIV_FORWARD(HRESULT, GetRasterStatus, (UINT iSwapChain, D3DRASTER_STATUS *pRasterStatus),
                (iSwapChain, pRasterStatus))
    KIV_FORWARD(HRESULT, SetDialogBoxMode, (WINBOOL bEnableDialogs), (bEnableDialogs))
    KIV_FORWARD(void, SetGammaRamp, (UINT swapchain_idx, DWORD flags, const D3DGAMMARAMP *ramp),
                (swapchain_idx, flags, ramp))
    KIV_FORWARD(void, GetGammaRamp, (UINT iSwapChain, D3DGAMMARAMP *pRamp), (iSwapChain, pRamp))
    KIV_FORWARD(HRESULT, CreateTexture,
                (UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                 IDirect3DTexture9 **ppTexture, HANDLE *pSharedHandle),
                (Width, Height, Levels, Usage, Format, Pool, ppTexture, pSharedHandle))
    KIV_FORWARD(HRESULT, CreateVolumeTexture,
                (UINT Width, UINT Height, UINT Depth, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                 IDirect3DVolumeTexture9 **ppVolumeTexture, HANDLE *pSharedHandle),
                (Width, Height, Depth, Levels, Usage, Format, Pool, ppVolumeTexture, pSharedHandle))
    KIV_FORWARD(HRESULT, CreateCubeTexture,
                (UINT EdgeLength, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                 IDirect3DCubeTexture9 **ppCubeTexture, HANDLE *pSharedHandle),
                (EdgeLength, Levels, Usage, Format, Pool, ppCubeTexture, pSharedHandle))
    KIV_FORWARD(HRESULT, CreateVertexBuffer,
                (UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool, IDirect3DVertexBuffer9 **ppVertexBuffer,
                 HANDLE *pSharedHandle),
                (Length, Usage, FVF, Pool, ppVertexBuffer, pSharedHandle))
    KIV_FORWARD(HRESULT, CreateIndexBuffer,
                (UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool, IDirect3DIndexBuffer9 **ppIndexBuffer,
                 HANDLE *pSharedHandle),
                (Length, Usage, Format, Pool, ppIndexBuffer, pSharedHandle))
    KIV_FORWARD(HRESULT, CreateRenderTarget,
                (UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample, DWORD MultisampleQuality,
                 WINBOOL Lockable, IDirect3DSurface9 **ppSurface, HANDLE *pSharedHandle),
                (Width, Height, Format, MultiSample, MultisampleQuality, Lockable, ppSurface, pSharedHandle))
    KIV_FORWARD(HRESULT, CreateDepthStencilSurface,
                (UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample, DWORD MultisampleQuality,
                 WINBOOL Discard, IDirect3DSurface9 **ppSurface, HANDLE *pSharedHandle),
                (Width, Height, Format, MultiSample, MultisampleQuality, Discard, ppSurface, pSharedHandle))
    KIV_FORWARD(HRESULT, UpdateSurface,
                (IDirect3DSurface9 *src_surface, const RECT *src_rect, IDirect3DSurface9 *dst_surface,
                 const POINT *dst_point),
                (src_surface, src_rect, dst_surface, dst_point))
    KIV_FORWARD(HRESULT, UpdateTexture,
                (IDirect3DBaseTexture9 *pSourceTexture, IDirect3DBaseTexture9 *pDestinationTexture),
                (pSourceTexture, pDestinationTexture))
    KIV_FORWARD(HRESULT, GetRenderTargetData, (IDirect3DSurface9 *pRenderTarget, IDirect3DSurface9 *pDestSurface),
                (pRenderTarget, pDestSurface))
    KIV_FORWARD(HRESULT, GetFrontBufferData, (UINT iSwapChain, IDirect3DSurface9 *pDestSurface),
                (iSwapChain, pDestSurface))
    KIV_FORWARD(HRESULT, StretchRect,
                (IDirect3DSurface9 *src_surface, const RECT *src_rect, IDirect3DSurface9 *dst_surface,
                 const RECT *dst_rect, D3DTEXTUREFILTERTYPE filter),
                (src_surface, src_rect, dst_surface, dst_rect, filter))
    KIV_FORWARD(HRESULT, ColorFill, (IDirect3DSurface9 *surface, const RECT *rect, D3DCOLOR color),
                (surface, rect, color))
    KIV_FORWARD(HRESULT, CreateOffscreenPlainSurface,
                (UINT Width, UINT Height, D3DFORMAT Format, D3DPOOL Pool, IDirect3DSurface9 **ppSurface,
                 HANDLE *pSharedHandle),
                (Width, Height, Format, Pool, ppSurface, pSharedHandle))
    KIV_FORWARD(HRESULT, SetRenderTarget, (DWORD RenderTargetIndex, IDirect3DSurface9 *pRenderTarget),
                (RenderTargetIndex, pRenderTarget))
    KIV_FORWARD(HRESULT, GetRenderTarget, (DWORD RenderTargetIndex, IDirect3DSurface9 **ppRenderTarget),
                (RenderTargetIndex, ppRenderTarget))
    KIV_FORWARD(HRESULT, SetDepthStencilSurface, (IDirect3DSurface9 *pNewZStencil), (pNewZStencil))
    KIV_FORWARD(HRESULT, GetDepthStencilSurface, (IDirect3DSurface9 **ppZStencilSurface), (ppZStencilSurface))
    KIV_FORWARD(HRESULT, BeginScene, (), ())
    KIV_FORWARD(HRESULT, EndScene, (), ())
    KIV_FORWARD(HRESULT, Clear,
                (DWORD rect_count, const D3DRECT *rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil),
                (rect_count, rects, flags, color, z, stencil))
    KIV_FORWARD(HRESULT, SetTransform, (D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix), (state, matrix))
    KIV_FORWARD(HRESULT, GetTransform, (D3DTRANSFORMSTATETYPE State, D3DMATRIX *pMatrix), (State, pMatrix))
    KIV_FORWARD(HRESULT, MultiplyTransform, (D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix), (state, matrix))
    KIV_FORWARD(HRESULT, SetViewport, (const D3DVIEWPORT9 *viewport), (viewport))
    KIV_FORWARD(HRESULT, GetViewport, (D3DVIEWPORT9 *pViewport), (pViewport))
    KIV_FORWARD(HRESULT, SetMaterial, (const D3DMATERIAL9 *material), (material))
    KIV_FORWARD(HRESULT, GetMaterial, (D3DMATERIAL9 *pMaterial), (pMaterial))
    KIV_FORWARD(HRESULT, SetLight, (DWORD index, const D3DLIGHT9 *light), (index, light))
    KIV_FORWARD(HRESULT, GetLight, (DWORD Index, D3DLIGHT9 *arg1), (Index, arg1))
    KIV_FORWARD(HRESULT, LightEnable, (DWORD Index, WINBOOL Enable), (Index, Enable))
    KIV_FORWARD(HRESULT, GetLightEnable, (DWORD Index, WINBOOL *pEnable), (Index, pEnable))
    KIV_FORWARD(HRESULT, SetClipPlane, (DWORD index, const float *plane), (index, plane))
    KIV_FORWARD(HRESULT, GetClipPlane, (DWORD Index, float *pPlane), (Index, pPlane))
    KIV_FORWARD(HRESULT, SetRenderState, (D3DRENDERSTATETYPE State, DWORD Value), (State, Value))
    KIV_FORWARD(HRESULT, GetRenderState, (D3DRENDERSTATETYPE State, DWORD *pValue), (State, pValue))
    KIV_FORWARD(HRESULT, CreateStateBlock, (D3DSTATEBLOCKTYPE Type, IDirect3DStateBlock9 **ppSB), (Type, ppSB))
    KIV_FORWARD(HRESULT, BeginStateBlock, (), ())
    KIV_FORWARD(HRESULT, EndStateBlock, (IDirect3DStateBlock9 **ppSB), (ppSB))
    KIV_FORWARD(HRESULT, SetClipStatus, (const D3DCLIPSTATUS9 *clip_status), (clip_status))
    KIV_FORWARD(HRESULT, GetClipStatus, (D3DCLIPSTATUS9 *pClipStatus), (pClipStatus))
    KIV_FORWARD(HRESULT, GetTexture, (DWORD Stage, IDirect3DBaseTexture9 **ppTexture), (Stage, ppTexture))
    KIV_FORWARD(HRESULT, SetTexture, (DWORD Stage, IDirect3DBaseTexture9 *pTexture), (Stage, pTexture))
    KIV_FORWARD(HRESULT, GetTextureStageState, (DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD *pValue),
                (Stage, Type, pValue))
    KIV_FORWARD(HRESULT, SetTextureStageState, (DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value),
                (Stage, Type, Value))
    KIV_FORWARD(HRESULT, GetSamplerState, (DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD *pValue),
                (Sampler, Type, pValue))
    KIV_FORWARD(HRESULT, SetSamplerState, (DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value),
                (Sampler, Type, Value))
    KIV_FORWARD(HRESULT, ValidateDevice, (DWORD *pNumPasses), (pNumPasses))
    KIV_FORWARD(HRESULT, SetPaletteEntries, (UINT palette_idx, const PALETTEENTRY *entries), (palette_idx, entries))
    KIV_FORWARD(HRESULT, GetPaletteEntries, (UINT PaletteNumber, PALETTEENTRY *pEntries), (PaletteNumber, pEntries))
    KIV_FORWARD(HRESULT, SetCurrentTexturePalette, (UINT PaletteNumber), (PaletteNumber))
    KIV_FORWARD(HRESULT, GetCurrentTexturePalette, (UINT *PaletteNumber), (PaletteNumber))
    KIV_FORWARD(HRESULT, SetScissorRect, (const RECT *rect), (rect))
    KIV_FORWARD(HRESULT, GetScissorRect, (RECT *pRect), (pRect))
    KIV_FORWARD(HRESULT, SetSoftwareVertexProcessing, (WINBOOL bSoftware), (bSoftware))
    KIV_FORWARD(WINBOOL, GetSoftwareVertexProcessing, (), ())
    KIV_FORWARD(HRESULT, SetNPatchMode, (float nSegments), (nSegments))
    KIV_FORWARD(float, GetNPatchMode, (), ())
    KIV_FORWARD(HRESULT, DrawPrimitive, (D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount),
                (PrimitiveType, StartVertex, PrimitiveCount))
    KIV_FORWARD(HRESULT, DrawIndexedPrimitive,
                (D3DPRIMITIVETYPE arg0, INT BaseVertexIndex, UINT MinVertexIndex, UINT NumVertices, UINT startIndex,
                 UINT primCount),
                (arg0, BaseVertexIndex, MinVertexIndex, NumVertices, startIndex, primCount))
    KIV_FORWARD(HRESULT, DrawPrimitiveUP,
                (D3DPRIMITIVETYPE primitive_type, UINT primitive_count, const void *data, UINT stride),
                (primitive_type, primitive_count, data, stride))
    KIV_FORWARD(HRESULT, DrawIndexedPrimitiveUP,
                (D3DPRIMITIVETYPE primitive_type, UINT min_vertex_idx, UINT vertex_count, UINT primitive_count,
                 const void *index_data, D3DFORMAT index_format, const void *data, UINT stride),
                (primitive_type, min_vertex_idx, vertex_count, primitive_count, index_data, index_format, data, stride))
    KIV_FORWARD(HRESULT, ProcessVertices,
                (UINT SrcStartIndex, UINT DestIndex, UINT VertexCount, IDirect3DVertexBuffer9 *pDestBuffer,
                 IDirect3DVertexDeclaration9 *pVertexDecl, DWORD Flags),
                (SrcStartIndex, DestIndex, VertexCount, pDestBuffer, pVertexDecl, Flags))
    KIV_FORWARD(HRESULT, CreateVertexDeclaration,
                (const D3DVERTEXELEMENT9 *elements, IDirect3DVertexDeclaration9 **declaration), (elements, declaration))
    KIV_FORWARD(HRESULT, SetVertexDeclaration, (IDirect3DVertexDeclaration9 *pDecl), (pDecl))
    KIV_FORWARD(HRESULT, GetVertexDeclaration, (IDirect3DVertexDeclaration9 **ppDecl), (ppDecl))
    KIV_FORWARD(HRESULT, SetFVF, (DWORD FVF), (FVF))
    KIV_FORWARD(HRESULT, GetFVF, (DWORD *pFVF), (pFVF))
    KIV_FORWARD(HRESULT, CreateVertexShader, (const DWORD *byte_code, IDirect3DVertexShader9 **shader),
                (byte_code, shader))
    KIV_FORWARD(HRESULT, SetVertexShader, (IDirect3DVertexShader9 *pShader), (pShader))
    KIV_FORWARD(HRESULT, GetVertexShader, (IDirect3DVertexShader9 **ppShader), (ppShader))
    KIV_FORWARD(HRESULT, SetVertexShaderConstantF, (UINT reg_idx, const float *data, UINT count),
                (reg_idx, data, count))
    KIV_FORWARD(HRESULT, GetVertexShaderConstantF, (UINT StartRegister, float *pConstantData, UINT Vector4fCount),
                (StartRegister, pConstantData, Vector4fCount))
    KIV_FORWARD(HRESULT, SetVertexShaderConstantI, (UINT reg_idx, const int *data, UINT count), (reg_idx, data, count))
    KIV_FORWARD(HRESULT, GetVertexShaderConstantI, (UINT StartRegister, int *pConstantData, UINT Vector4iCount),
                (StartRegister, pConstantData, Vector4iCount))
    KIV_FORWARD(HRESULT, SetVertexShaderConstantB, (UINT reg_idx, const WINBOOL *data, UINT count),
                (reg_idx, data, count))
    KIV_FORWARD(HRESULT, GetVertexShaderConstantB, (UINT StartRegister, WINBOOL *pConstantData, UINT BoolCount),
                (StartRegister, pConstantData, BoolCount))
    KIV_FORWARD(HRESULT, SetStreamSource,
                (UINT StreamNumber, IDirect3DVertexBuffer9 *pStreamData, UINT OffsetInBytes, UINT Stride),
                (StreamNumber, pStreamData, OffsetInBytes, Stride))
    KIV_FORWARD(HRESULT, GetStreamSource,
                (UINT StreamNumber, IDirect3DVertexBuffer9 **ppStreamData, UINT *OffsetInBytes, UINT *pStride),
                (StreamNumber, ppStreamData, OffsetInBytes, pStride))
    KIV_FORWARD(HRESULT, SetStreamSourceFreq, (UINT StreamNumber, UINT Divider), (StreamNumber, Divider))
    KIV_FORWARD(HRESULT, GetStreamSourceFreq, (UINT StreamNumber, UINT *Divider), (StreamNumber, Divider))
    KIV_FORWARD(HRESULT, SetIndices, (IDirect3DIndexBuffer9 *pIndexData), (pIndexData))
    KIV_FORWARD(HRESULT, GetIndices, (IDirect3DIndexBuffer9 **ppIndexData), (ppIndexData))
    KIV_FORWARD(HRESULT, CreatePixelShader, (const DWORD *byte_code, IDirect3DPixelShader9 **shader),
                (byte_code, shader))
    KIV_FORWARD(HRESULT, SetPixelShader, (IDirect3DPixelShader9 *pShader), (pShader))
    KIV_FORWARD(HRESULT, GetPixelShader, (IDirect3DPixelShader9 **ppShader), (ppShader))
    KIV_FORWARD(HRESULT, SetPixelShaderConstantF, (UINT reg_idx, const float *data, UINT count), (reg_idx, data, count))
    KIV_FORWARD(HRESULT, GetPixelShaderConstantF, (UINT StartRegister, float *pConstantData, UINT Vector4fCount),
                (StartRegister, pConstantData, Vector4fCount))
    KIV_FORWARD(HRESULT, SetPixelShaderConstantI, (UINT reg_idx, const int *data, UINT count), (reg_idx, data, count))
    KIV_FORWARD(HRESULT, GetPixelShaderConstantI, (UINT StartRegister, int *pConstantData, UINT Vector4iCount),
                (StartRegister, pConstantData, Vector4iCount))
    KIV_FORWARD(HRESULT, SetPixelShaderConstantB, (UINT reg_idx, const WINBOOL *data, UINT count),
                (reg_idx, data, count))
    KIV_FORWARD(HRESULT, GetPixelShaderConstantB, (UINT StartRegister, WINBOOL *pConstantData, UINT BoolCount),
                (StartRegister, pConstantData, BoolCount))
    KIV_FORWARD(HRESULT, DrawRectPatch, (UINT handle, const float *segment_count, const D3DRECTPATCH_INFO *patch_info),
                (handle, segment_count, patch_info))
    KIV_FORWARD(HRESULT, DrawTriPatch, (UINT handle, const float *segment_count, const D3DTRIPATCH_INFO *patch_info),
                (handle, segment_count, patch_info))
    KIV_FORWARD(HRESULT, DeletePatch, (UINT Handle), (Handle))
    KIV_FORWARD(HRESULT, CreateQuery, (D3DQUERYTYPE Type, IDirect3DQuery9 **ppQuery), (Type, ppQuery))

protected:
    void Note(const char *name)
    {
        if (recording)
            calls.emplace_back(name);
    }
};

#undef KIV_FORWARD
