// Registration-only stand-ins for the FreeImage plug-ins this build leaves out.
//
// FreeImage numbers its formats by the order in which FreeImage_Initialise
// registers the plug-ins, so each left-out codec still registers its format
// name, description, extensions and MIME type. With no load, save or
// signature check, such a format is never detected and loading it fails
// cleanly instead of shifting the ids of the formats that follow.
#include "FreeImage.h"
#include "Plugin.h"

namespace {

struct FormatInfo {
    const char *format;
    const char *description;
    const char *extensions;
    const char *mime;
};

// One set of callbacks per stand-in: Plugin's callbacks take no context, so
// the table entry is a template argument.
template <const FormatInfo &info>
struct Absent {
    static const char *DLL_CALLCONV Format() { return info.format; }
    static const char *DLL_CALLCONV Description() { return info.description; }
    static const char *DLL_CALLCONV Extension() { return info.extensions; }
    static const char *DLL_CALLCONV MimeType() { return info.mime; }

    static void Init(Plugin *plugin) {
        plugin->format_proc = Format;
        plugin->description_proc = Description;
        plugin->extension_proc = Extension;
        plugin->mime_proc = MimeType;
    }
};

extern const FormatInfo kJpeg = {"JPEG", "JPEG - JFIF Compliant (not available)", "jpg,jif,jpeg,jpe", "image/jpeg"};
extern const FormatInfo kJng = {"JNG", "JPEG Network Graphics (not available)", "jng", "image/x-mng"};
extern const FormatInfo kMng = {"MNG", "Multiple-image Network Graphics (not available)", "mng", "video/x-mng"};
extern const FormatInfo kTiff = {"TIFF", "Tagged Image File Format (not available)", "tif,tiff", "image/tiff"};
extern const FormatInfo kExr = {"EXR", "OpenEXR high dynamic range (not available)", "exr", "image/x-exr"};
extern const FormatInfo kJ2k = {"J2K", "JPEG-2000 codestream (not available)", "j2k,j2c", "image/j2k"};
extern const FormatInfo kJp2 = {"JP2", "JPEG-2000 File Format (not available)", "jp2", "image/jp2"};
extern const FormatInfo kRaw = {"RAW", "RAW camera image (not available)",
    "3fr,arw,bay,bmq,cap,cine,cr2,crw,cs1,dc2,dcr,drf,dsc,dng,erf,fff,ia,iiq,k25,kc2,kdc,mdc,mef,"
    "mos,mrw,nef,nrw,orf,pef,ptx,pxn,qtk,raf,raw,rdc,rw2,rwl,rwz,sr2,srf,srw,sti,x3f",
    "image/x-dcraw"};
extern const FormatInfo kWebp = {"WebP", "WebP image format (not available)", "webp", "image/webp"};
extern const FormatInfo kJxr = {"JPEG-XR", "JPEG XR image format (not available)", "jxr,wdp,hdp", "image/vnd.ms-photo"};

}  // namespace

void DLL_CALLCONV InitJPEG(Plugin *plugin, int) { Absent<kJpeg>::Init(plugin); }
void DLL_CALLCONV InitJNG(Plugin *plugin, int) { Absent<kJng>::Init(plugin); }
void DLL_CALLCONV InitMNG(Plugin *plugin, int) { Absent<kMng>::Init(plugin); }
void DLL_CALLCONV InitTIFF(Plugin *plugin, int) { Absent<kTiff>::Init(plugin); }
void DLL_CALLCONV InitEXR(Plugin *plugin, int) { Absent<kExr>::Init(plugin); }
void DLL_CALLCONV InitJ2K(Plugin *plugin, int) { Absent<kJ2k>::Init(plugin); }
void DLL_CALLCONV InitJP2(Plugin *plugin, int) { Absent<kJp2>::Init(plugin); }
void DLL_CALLCONV InitRAW(Plugin *plugin, int) { Absent<kRaw>::Init(plugin); }
void DLL_CALLCONV InitWEBP(Plugin *plugin, int) { Absent<kWebp>::Init(plugin); }
void DLL_CALLCONV InitJXR(Plugin *plugin, int) { Absent<kJxr>::Init(plugin); }
