// A device that forwards every call to a real device and records the call names.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include <string>
#include <vector>

// Stands between the driver and the real device so that tests can see which
// calls reach the device and in what order. The real device keeps its own
// reference count; the wrapper itself is not reference counted.
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
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        Note("AddRef");
        return real->AddRef();
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        Note("Release");
        return real->Release();
    }
    HRESULT STDMETHODCALLTYPE TestCooperativeLevel() override
    {
        Note("TestCooperativeLevel");
        return real->TestCooperativeLevel();
    }
    UINT STDMETHODCALLTYPE GetAvailableTextureMem() override
    {
        Note("GetAvailableTextureMem");
        return real->GetAvailableTextureMem();
    }
    HRESULT STDMETHODCALLTYPE EvictManagedResources() override
    {
        Note("EvictManagedResources");
        return real->EvictManagedResources();
    }
    HRESULT STDMETHODCALLTYPE GetDirect3D(IDirect3D9** ppD3D9) override
    {
        Note("GetDirect3D");
        return real->GetDirect3D(ppD3D9);
    }
    HRESULT STDMETHODCALLTYPE GetDeviceCaps(D3DCAPS9* pCaps) override
    {
        Note("GetDeviceCaps");
        return real->GetDeviceCaps(pCaps);
    }
    HRESULT STDMETHODCALLTYPE GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode) override
    {
        Note("GetDisplayMode");
        return real->GetDisplayMode(iSwapChain, pMode);
    }
    HRESULT STDMETHODCALLTYPE GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS *pParameters) override
    {
        Note("GetCreationParameters");
        return real->GetCreationParameters(pParameters);
    }
    HRESULT STDMETHODCALLTYPE SetCursorProperties(UINT XHotSpot, UINT YHotSpot, IDirect3DSurface9* pCursorBitmap) override
    {
        Note("SetCursorProperties");
        return real->SetCursorProperties(XHotSpot, YHotSpot, pCursorBitmap);
    }
    void STDMETHODCALLTYPE SetCursorPosition(int X, int Y, DWORD Flags) override
    {
        Note("SetCursorPosition");
        real->SetCursorPosition(X, Y, Flags);
    }
    WINBOOL STDMETHODCALLTYPE ShowCursor(WINBOOL bShow) override
    {
        Note("ShowCursor");
        return real->ShowCursor(bShow);
    }
    HRESULT STDMETHODCALLTYPE CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* pPresentationParameters, IDirect3DSwapChain9** pSwapChain) override
    {
        Note("CreateAdditionalSwapChain");
        return real->CreateAdditionalSwapChain(pPresentationParameters, pSwapChain);
    }
    HRESULT STDMETHODCALLTYPE GetSwapChain(UINT iSwapChain, IDirect3DSwapChain9** pSwapChain) override
    {
        Note("GetSwapChain");
        return real->GetSwapChain(iSwapChain, pSwapChain);
    }
    UINT STDMETHODCALLTYPE GetNumberOfSwapChains() override
    {
        Note("GetNumberOfSwapChains");
        return real->GetNumberOfSwapChains();
    }
    HRESULT STDMETHODCALLTYPE Reset(D3DPRESENT_PARAMETERS* pPresentationParameters) override
    {
        Note("Reset");
        return real->Reset(pPresentationParameters);
    }
    HRESULT STDMETHODCALLTYPE Present(const RECT *src_rect, const RECT *dst_rect, HWND dst_window_override, const RGNDATA *dirty_region) override
    {
        Note("Present");
        return real->Present(src_rect, dst_rect, dst_window_override, dirty_region);
    }
    HRESULT STDMETHODCALLTYPE GetBackBuffer(UINT iSwapChain, UINT iBackBuffer, D3DBACKBUFFER_TYPE Type, IDirect3DSurface9** ppBackBuffer) override
    {
        Note("GetBackBuffer");
        return real->GetBackBuffer(iSwapChain, iBackBuffer, Type, ppBackBuffer);
    }
    HRESULT STDMETHODCALLTYPE GetRasterStatus(UINT iSwapChain, D3DRASTER_STATUS* pRasterStatus) override
    {
        Note("GetRasterStatus");
        return real->GetRasterStatus(iSwapChain, pRasterStatus);
    }
    HRESULT STDMETHODCALLTYPE SetDialogBoxMode(WINBOOL bEnableDialogs) override
    {
        Note("SetDialogBoxMode");
        return real->SetDialogBoxMode(bEnableDialogs);
    }
    void STDMETHODCALLTYPE SetGammaRamp(UINT swapchain_idx, DWORD flags, const D3DGAMMARAMP *ramp) override
    {
        Note("SetGammaRamp");
        real->SetGammaRamp(swapchain_idx, flags, ramp);
    }
    void STDMETHODCALLTYPE GetGammaRamp(UINT iSwapChain, D3DGAMMARAMP* pRamp) override
    {
        Note("GetGammaRamp");
        real->GetGammaRamp(iSwapChain, pRamp);
    }
    HRESULT STDMETHODCALLTYPE CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool, IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle) override
    {
        Note("CreateTexture");
        return real->CreateTexture(Width, Height, Levels, Usage, Format, Pool, ppTexture, pSharedHandle);
    }
    HRESULT STDMETHODCALLTYPE CreateVolumeTexture(UINT Width, UINT Height, UINT Depth, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool, IDirect3DVolumeTexture9** ppVolumeTexture, HANDLE* pSharedHandle) override
    {
        Note("CreateVolumeTexture");
        return real->CreateVolumeTexture(Width, Height, Depth, Levels, Usage, Format, Pool, ppVolumeTexture, pSharedHandle);
    }
    HRESULT STDMETHODCALLTYPE CreateCubeTexture(UINT EdgeLength, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool, IDirect3DCubeTexture9** ppCubeTexture, HANDLE* pSharedHandle) override
    {
        Note("CreateCubeTexture");
        return real->CreateCubeTexture(EdgeLength, Levels, Usage, Format, Pool, ppCubeTexture, pSharedHandle);
    }
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool, IDirect3DVertexBuffer9** ppVertexBuffer, HANDLE* pSharedHandle) override
    {
        Note("CreateVertexBuffer");
        return real->CreateVertexBuffer(Length, Usage, FVF, Pool, ppVertexBuffer, pSharedHandle);
    }
    HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool, IDirect3DIndexBuffer9** ppIndexBuffer, HANDLE* pSharedHandle) override
    {
        Note("CreateIndexBuffer");
        return real->CreateIndexBuffer(Length, Usage, Format, Pool, ppIndexBuffer, pSharedHandle);
    }
    HRESULT STDMETHODCALLTYPE CreateRenderTarget(UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample, DWORD MultisampleQuality, WINBOOL Lockable, IDirect3DSurface9** ppSurface, HANDLE* pSharedHandle) override
    {
        Note("CreateRenderTarget");
        return real->CreateRenderTarget(Width, Height, Format, MultiSample, MultisampleQuality, Lockable, ppSurface, pSharedHandle);
    }
    HRESULT STDMETHODCALLTYPE CreateDepthStencilSurface(UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample, DWORD MultisampleQuality, WINBOOL Discard, IDirect3DSurface9** ppSurface, HANDLE* pSharedHandle) override
    {
        Note("CreateDepthStencilSurface");
        return real->CreateDepthStencilSurface(Width, Height, Format, MultiSample, MultisampleQuality, Discard, ppSurface, pSharedHandle);
    }
    HRESULT STDMETHODCALLTYPE UpdateSurface(IDirect3DSurface9 *src_surface, const RECT *src_rect, IDirect3DSurface9 *dst_surface, const POINT *dst_point) override
    {
        Note("UpdateSurface");
        return real->UpdateSurface(src_surface, src_rect, dst_surface, dst_point);
    }
    HRESULT STDMETHODCALLTYPE UpdateTexture(IDirect3DBaseTexture9* pSourceTexture, IDirect3DBaseTexture9* pDestinationTexture) override
    {
        Note("UpdateTexture");
        return real->UpdateTexture(pSourceTexture, pDestinationTexture);
    }
    HRESULT STDMETHODCALLTYPE GetRenderTargetData(IDirect3DSurface9* pRenderTarget, IDirect3DSurface9* pDestSurface) override
    {
        Note("GetRenderTargetData");
        return real->GetRenderTargetData(pRenderTarget, pDestSurface);
    }
    HRESULT STDMETHODCALLTYPE GetFrontBufferData(UINT iSwapChain, IDirect3DSurface9* pDestSurface) override
    {
        Note("GetFrontBufferData");
        return real->GetFrontBufferData(iSwapChain, pDestSurface);
    }
    HRESULT STDMETHODCALLTYPE StretchRect(IDirect3DSurface9 *src_surface, const RECT *src_rect, IDirect3DSurface9 *dst_surface, const RECT *dst_rect, D3DTEXTUREFILTERTYPE filter) override
    {
        Note("StretchRect");
        return real->StretchRect(src_surface, src_rect, dst_surface, dst_rect, filter);
    }
    HRESULT STDMETHODCALLTYPE ColorFill(IDirect3DSurface9 *surface, const RECT *rect, D3DCOLOR color) override
    {
        Note("ColorFill");
        return real->ColorFill(surface, rect, color);
    }
    HRESULT STDMETHODCALLTYPE CreateOffscreenPlainSurface(UINT Width, UINT Height, D3DFORMAT Format, D3DPOOL Pool, IDirect3DSurface9** ppSurface, HANDLE* pSharedHandle) override
    {
        Note("CreateOffscreenPlainSurface");
        return real->CreateOffscreenPlainSurface(Width, Height, Format, Pool, ppSurface, pSharedHandle);
    }
    HRESULT STDMETHODCALLTYPE SetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9* pRenderTarget) override
    {
        Note("SetRenderTarget");
        return real->SetRenderTarget(RenderTargetIndex, pRenderTarget);
    }
    HRESULT STDMETHODCALLTYPE GetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9** ppRenderTarget) override
    {
        Note("GetRenderTarget");
        return real->GetRenderTarget(RenderTargetIndex, ppRenderTarget);
    }
    HRESULT STDMETHODCALLTYPE SetDepthStencilSurface(IDirect3DSurface9* pNewZStencil) override
    {
        Note("SetDepthStencilSurface");
        return real->SetDepthStencilSurface(pNewZStencil);
    }
    HRESULT STDMETHODCALLTYPE GetDepthStencilSurface(IDirect3DSurface9** ppZStencilSurface) override
    {
        Note("GetDepthStencilSurface");
        return real->GetDepthStencilSurface(ppZStencilSurface);
    }
    HRESULT STDMETHODCALLTYPE BeginScene() override
    {
        Note("BeginScene");
        return real->BeginScene();
    }
    HRESULT STDMETHODCALLTYPE EndScene() override
    {
        Note("EndScene");
        return real->EndScene();
    }
    HRESULT STDMETHODCALLTYPE Clear(DWORD rect_count, const D3DRECT *rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override
    {
        Note("Clear");
        return real->Clear(rect_count, rects, flags, color, z, stencil);
    }
    HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix) override
    {
        Note("SetTransform");
        return real->SetTransform(state, matrix);
    }
    HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) override
    {
        Note("GetTransform");
        return real->GetTransform(State, pMatrix);
    }
    HRESULT STDMETHODCALLTYPE MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix) override
    {
        Note("MultiplyTransform");
        return real->MultiplyTransform(state, matrix);
    }
    HRESULT STDMETHODCALLTYPE SetViewport(const D3DVIEWPORT9 *viewport) override
    {
        Note("SetViewport");
        return real->SetViewport(viewport);
    }
    HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT9* pViewport) override
    {
        Note("GetViewport");
        return real->GetViewport(pViewport);
    }
    HRESULT STDMETHODCALLTYPE SetMaterial(const D3DMATERIAL9 *material) override
    {
        Note("SetMaterial");
        return real->SetMaterial(material);
    }
    HRESULT STDMETHODCALLTYPE GetMaterial(D3DMATERIAL9* pMaterial) override
    {
        Note("GetMaterial");
        return real->GetMaterial(pMaterial);
    }
    HRESULT STDMETHODCALLTYPE SetLight(DWORD index, const D3DLIGHT9 *light) override
    {
        Note("SetLight");
        return real->SetLight(index, light);
    }
    HRESULT STDMETHODCALLTYPE GetLight(DWORD Index, D3DLIGHT9* arg1) override
    {
        Note("GetLight");
        return real->GetLight(Index, arg1);
    }
    HRESULT STDMETHODCALLTYPE LightEnable(DWORD Index, WINBOOL Enable) override
    {
        Note("LightEnable");
        return real->LightEnable(Index, Enable);
    }
    HRESULT STDMETHODCALLTYPE GetLightEnable(DWORD Index, WINBOOL* pEnable) override
    {
        Note("GetLightEnable");
        return real->GetLightEnable(Index, pEnable);
    }
    HRESULT STDMETHODCALLTYPE SetClipPlane(DWORD index, const float *plane) override
    {
        Note("SetClipPlane");
        return real->SetClipPlane(index, plane);
    }
    HRESULT STDMETHODCALLTYPE GetClipPlane(DWORD Index, float* pPlane) override
    {
        Note("GetClipPlane");
        return real->GetClipPlane(Index, pPlane);
    }
    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override
    {
        Note("SetRenderState");
        return real->SetRenderState(State, Value);
    }
    HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) override
    {
        Note("GetRenderState");
        return real->GetRenderState(State, pValue);
    }
    HRESULT STDMETHODCALLTYPE CreateStateBlock(D3DSTATEBLOCKTYPE Type, IDirect3DStateBlock9** ppSB) override
    {
        Note("CreateStateBlock");
        return real->CreateStateBlock(Type, ppSB);
    }
    HRESULT STDMETHODCALLTYPE BeginStateBlock() override
    {
        Note("BeginStateBlock");
        return real->BeginStateBlock();
    }
    HRESULT STDMETHODCALLTYPE EndStateBlock(IDirect3DStateBlock9** ppSB) override
    {
        Note("EndStateBlock");
        return real->EndStateBlock(ppSB);
    }
    HRESULT STDMETHODCALLTYPE SetClipStatus(const D3DCLIPSTATUS9 *clip_status) override
    {
        Note("SetClipStatus");
        return real->SetClipStatus(clip_status);
    }
    HRESULT STDMETHODCALLTYPE GetClipStatus(D3DCLIPSTATUS9* pClipStatus) override
    {
        Note("GetClipStatus");
        return real->GetClipStatus(pClipStatus);
    }
    HRESULT STDMETHODCALLTYPE GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) override
    {
        Note("GetTexture");
        return real->GetTexture(Stage, ppTexture);
    }
    HRESULT STDMETHODCALLTYPE SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) override
    {
        Note("SetTexture");
        return real->SetTexture(Stage, pTexture);
    }
    HRESULT STDMETHODCALLTYPE GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue) override
    {
        Note("GetTextureStageState");
        return real->GetTextureStageState(Stage, Type, pValue);
    }
    HRESULT STDMETHODCALLTYPE SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) override
    {
        Note("SetTextureStageState");
        return real->SetTextureStageState(Stage, Type, Value);
    }
    HRESULT STDMETHODCALLTYPE GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) override
    {
        Note("GetSamplerState");
        return real->GetSamplerState(Sampler, Type, pValue);
    }
    HRESULT STDMETHODCALLTYPE SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) override
    {
        Note("SetSamplerState");
        return real->SetSamplerState(Sampler, Type, Value);
    }
    HRESULT STDMETHODCALLTYPE ValidateDevice(DWORD* pNumPasses) override
    {
        Note("ValidateDevice");
        return real->ValidateDevice(pNumPasses);
    }
    HRESULT STDMETHODCALLTYPE SetPaletteEntries(UINT palette_idx, const PALETTEENTRY *entries) override
    {
        Note("SetPaletteEntries");
        return real->SetPaletteEntries(palette_idx, entries);
    }
    HRESULT STDMETHODCALLTYPE GetPaletteEntries(UINT PaletteNumber, PALETTEENTRY* pEntries) override
    {
        Note("GetPaletteEntries");
        return real->GetPaletteEntries(PaletteNumber, pEntries);
    }
    HRESULT STDMETHODCALLTYPE SetCurrentTexturePalette(UINT PaletteNumber) override
    {
        Note("SetCurrentTexturePalette");
        return real->SetCurrentTexturePalette(PaletteNumber);
    }
    HRESULT STDMETHODCALLTYPE GetCurrentTexturePalette(UINT *PaletteNumber) override
    {
        Note("GetCurrentTexturePalette");
        return real->GetCurrentTexturePalette(PaletteNumber);
    }
    HRESULT STDMETHODCALLTYPE SetScissorRect(const RECT *rect) override
    {
        Note("SetScissorRect");
        return real->SetScissorRect(rect);
    }
    HRESULT STDMETHODCALLTYPE GetScissorRect(RECT* pRect) override
    {
        Note("GetScissorRect");
        return real->GetScissorRect(pRect);
    }
    HRESULT STDMETHODCALLTYPE SetSoftwareVertexProcessing(WINBOOL bSoftware) override
    {
        Note("SetSoftwareVertexProcessing");
        return real->SetSoftwareVertexProcessing(bSoftware);
    }
    WINBOOL STDMETHODCALLTYPE GetSoftwareVertexProcessing() override
    {
        Note("GetSoftwareVertexProcessing");
        return real->GetSoftwareVertexProcessing();
    }
    HRESULT STDMETHODCALLTYPE SetNPatchMode(float nSegments) override
    {
        Note("SetNPatchMode");
        return real->SetNPatchMode(nSegments);
    }
    float STDMETHODCALLTYPE GetNPatchMode() override
    {
        Note("GetNPatchMode");
        return real->GetNPatchMode();
    }
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) override
    {
        Note("DrawPrimitive");
        return real->DrawPrimitive(PrimitiveType, StartVertex, PrimitiveCount);
    }
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE arg0, INT BaseVertexIndex, UINT MinVertexIndex, UINT NumVertices, UINT startIndex, UINT primCount) override
    {
        Note("DrawIndexedPrimitive");
        return real->DrawIndexedPrimitive(arg0, BaseVertexIndex, MinVertexIndex, NumVertices, startIndex, primCount);
    }
    HRESULT STDMETHODCALLTYPE DrawPrimitiveUP(D3DPRIMITIVETYPE primitive_type, UINT primitive_count, const void *data, UINT stride) override
    {
        Note("DrawPrimitiveUP");
        return real->DrawPrimitiveUP(primitive_type, primitive_count, data, stride);
    }
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE primitive_type, UINT min_vertex_idx, UINT vertex_count, UINT primitive_count, const void *index_data, D3DFORMAT index_format, const void *data, UINT stride) override
    {
        Note("DrawIndexedPrimitiveUP");
        return real->DrawIndexedPrimitiveUP(primitive_type, min_vertex_idx, vertex_count, primitive_count, index_data, index_format, data, stride);
    }
    HRESULT STDMETHODCALLTYPE ProcessVertices(UINT SrcStartIndex, UINT DestIndex, UINT VertexCount, IDirect3DVertexBuffer9* pDestBuffer, IDirect3DVertexDeclaration9* pVertexDecl, DWORD Flags) override
    {
        Note("ProcessVertices");
        return real->ProcessVertices(SrcStartIndex, DestIndex, VertexCount, pDestBuffer, pVertexDecl, Flags);
    }
    HRESULT STDMETHODCALLTYPE CreateVertexDeclaration(const D3DVERTEXELEMENT9 *elements, IDirect3DVertexDeclaration9 **declaration) override
    {
        Note("CreateVertexDeclaration");
        return real->CreateVertexDeclaration(elements, declaration);
    }
    HRESULT STDMETHODCALLTYPE SetVertexDeclaration(IDirect3DVertexDeclaration9* pDecl) override
    {
        Note("SetVertexDeclaration");
        return real->SetVertexDeclaration(pDecl);
    }
    HRESULT STDMETHODCALLTYPE GetVertexDeclaration(IDirect3DVertexDeclaration9** ppDecl) override
    {
        Note("GetVertexDeclaration");
        return real->GetVertexDeclaration(ppDecl);
    }
    HRESULT STDMETHODCALLTYPE SetFVF(DWORD FVF) override
    {
        Note("SetFVF");
        return real->SetFVF(FVF);
    }
    HRESULT STDMETHODCALLTYPE GetFVF(DWORD* pFVF) override
    {
        Note("GetFVF");
        return real->GetFVF(pFVF);
    }
    HRESULT STDMETHODCALLTYPE CreateVertexShader(const DWORD *byte_code, IDirect3DVertexShader9 **shader) override
    {
        Note("CreateVertexShader");
        return real->CreateVertexShader(byte_code, shader);
    }
    HRESULT STDMETHODCALLTYPE SetVertexShader(IDirect3DVertexShader9* pShader) override
    {
        Note("SetVertexShader");
        return real->SetVertexShader(pShader);
    }
    HRESULT STDMETHODCALLTYPE GetVertexShader(IDirect3DVertexShader9** ppShader) override
    {
        Note("GetVertexShader");
        return real->GetVertexShader(ppShader);
    }
    HRESULT STDMETHODCALLTYPE SetVertexShaderConstantF(UINT reg_idx, const float *data, UINT count) override
    {
        Note("SetVertexShaderConstantF");
        return real->SetVertexShaderConstantF(reg_idx, data, count);
    }
    HRESULT STDMETHODCALLTYPE GetVertexShaderConstantF(UINT StartRegister, float* pConstantData, UINT Vector4fCount) override
    {
        Note("GetVertexShaderConstantF");
        return real->GetVertexShaderConstantF(StartRegister, pConstantData, Vector4fCount);
    }
    HRESULT STDMETHODCALLTYPE SetVertexShaderConstantI(UINT reg_idx, const int *data, UINT count) override
    {
        Note("SetVertexShaderConstantI");
        return real->SetVertexShaderConstantI(reg_idx, data, count);
    }
    HRESULT STDMETHODCALLTYPE GetVertexShaderConstantI(UINT StartRegister, int* pConstantData, UINT Vector4iCount) override
    {
        Note("GetVertexShaderConstantI");
        return real->GetVertexShaderConstantI(StartRegister, pConstantData, Vector4iCount);
    }
    HRESULT STDMETHODCALLTYPE SetVertexShaderConstantB(UINT reg_idx, const WINBOOL *data, UINT count) override
    {
        Note("SetVertexShaderConstantB");
        return real->SetVertexShaderConstantB(reg_idx, data, count);
    }
    HRESULT STDMETHODCALLTYPE GetVertexShaderConstantB(UINT StartRegister, WINBOOL* pConstantData, UINT BoolCount) override
    {
        Note("GetVertexShaderConstantB");
        return real->GetVertexShaderConstantB(StartRegister, pConstantData, BoolCount);
    }
    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes, UINT Stride) override
    {
        Note("SetStreamSource");
        return real->SetStreamSource(StreamNumber, pStreamData, OffsetInBytes, Stride);
    }
    HRESULT STDMETHODCALLTYPE GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData, UINT* OffsetInBytes, UINT* pStride) override
    {
        Note("GetStreamSource");
        return real->GetStreamSource(StreamNumber, ppStreamData, OffsetInBytes, pStride);
    }
    HRESULT STDMETHODCALLTYPE SetStreamSourceFreq(UINT StreamNumber, UINT Divider) override
    {
        Note("SetStreamSourceFreq");
        return real->SetStreamSourceFreq(StreamNumber, Divider);
    }
    HRESULT STDMETHODCALLTYPE GetStreamSourceFreq(UINT StreamNumber, UINT* Divider) override
    {
        Note("GetStreamSourceFreq");
        return real->GetStreamSourceFreq(StreamNumber, Divider);
    }
    HRESULT STDMETHODCALLTYPE SetIndices(IDirect3DIndexBuffer9* pIndexData) override
    {
        Note("SetIndices");
        return real->SetIndices(pIndexData);
    }
    HRESULT STDMETHODCALLTYPE GetIndices(IDirect3DIndexBuffer9** ppIndexData) override
    {
        Note("GetIndices");
        return real->GetIndices(ppIndexData);
    }
    HRESULT STDMETHODCALLTYPE CreatePixelShader(const DWORD *byte_code, IDirect3DPixelShader9 **shader) override
    {
        Note("CreatePixelShader");
        return real->CreatePixelShader(byte_code, shader);
    }
    HRESULT STDMETHODCALLTYPE SetPixelShader(IDirect3DPixelShader9* pShader) override
    {
        Note("SetPixelShader");
        return real->SetPixelShader(pShader);
    }
    HRESULT STDMETHODCALLTYPE GetPixelShader(IDirect3DPixelShader9** ppShader) override
    {
        Note("GetPixelShader");
        return real->GetPixelShader(ppShader);
    }
    HRESULT STDMETHODCALLTYPE SetPixelShaderConstantF(UINT reg_idx, const float *data, UINT count) override
    {
        Note("SetPixelShaderConstantF");
        return real->SetPixelShaderConstantF(reg_idx, data, count);
    }
    HRESULT STDMETHODCALLTYPE GetPixelShaderConstantF(UINT StartRegister, float* pConstantData, UINT Vector4fCount) override
    {
        Note("GetPixelShaderConstantF");
        return real->GetPixelShaderConstantF(StartRegister, pConstantData, Vector4fCount);
    }
    HRESULT STDMETHODCALLTYPE SetPixelShaderConstantI(UINT reg_idx, const int *data, UINT count) override
    {
        Note("SetPixelShaderConstantI");
        return real->SetPixelShaderConstantI(reg_idx, data, count);
    }
    HRESULT STDMETHODCALLTYPE GetPixelShaderConstantI(UINT StartRegister, int* pConstantData, UINT Vector4iCount) override
    {
        Note("GetPixelShaderConstantI");
        return real->GetPixelShaderConstantI(StartRegister, pConstantData, Vector4iCount);
    }
    HRESULT STDMETHODCALLTYPE SetPixelShaderConstantB(UINT reg_idx, const WINBOOL *data, UINT count) override
    {
        Note("SetPixelShaderConstantB");
        return real->SetPixelShaderConstantB(reg_idx, data, count);
    }
    HRESULT STDMETHODCALLTYPE GetPixelShaderConstantB(UINT StartRegister, WINBOOL* pConstantData, UINT BoolCount) override
    {
        Note("GetPixelShaderConstantB");
        return real->GetPixelShaderConstantB(StartRegister, pConstantData, BoolCount);
    }
    HRESULT STDMETHODCALLTYPE DrawRectPatch(UINT handle, const float *segment_count, const D3DRECTPATCH_INFO *patch_info) override
    {
        Note("DrawRectPatch");
        return real->DrawRectPatch(handle, segment_count, patch_info);
    }
    HRESULT STDMETHODCALLTYPE DrawTriPatch(UINT handle, const float *segment_count, const D3DTRIPATCH_INFO *patch_info) override
    {
        Note("DrawTriPatch");
        return real->DrawTriPatch(handle, segment_count, patch_info);
    }
    HRESULT STDMETHODCALLTYPE DeletePatch(UINT Handle) override
    {
        Note("DeletePatch");
        return real->DeletePatch(Handle);
    }
    HRESULT STDMETHODCALLTYPE CreateQuery(D3DQUERYTYPE Type, IDirect3DQuery9** ppQuery) override
    {
        Note("CreateQuery");
        return real->CreateQuery(Type, ppQuery);
    }

private:
    void Note(const char *name)
    {
        if (recording)
            calls.emplace_back(name);
    }
};
