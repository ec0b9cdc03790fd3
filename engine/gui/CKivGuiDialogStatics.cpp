// The dialog's shortcuts for static text: adding a static, or moving and retexting one by id.
#include <exception>
#include <new>

#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiStatic.h"

namespace {

// The rectangle in the dialog's pixels; relative: given in screen pixels.
RECT Local(const CKivGuiDialog *dialog, const RECT &rect, int relative)
{
    RECT r = rect;
    int x, y;
    dialog->GetLocation(&x, &y);
    if (relative)
        OffsetRect(&r, -x, -y);
    return r;
}

} // namespace

CKivGuiStatic *CKivGuiDialog::AddStatic(int id, const RECT *rect, int relative, const char *text)
{
    if (!rect)
        return nullptr;
    const RECT r = Local(this, *rect, relative);
    // A control's own state is made in its constructor, which may run out of memory.
    CKivGuiStatic *control = nullptr;
    try {
        control = new CKivGuiStatic(this);
    } catch (const std::exception &) {
        return nullptr;
    }
    if (!control->Create(id, r.left, r.top, r.right, r.bottom, text)) {
        delete control;
        return nullptr;
    }
    control->SetFont("DefaultFont");
    control->SetTextFormat(0, 0);
    control->SetLocation(r.left, r.top);
    return control;
}

CKivGuiStatic *CKivGuiDialog::AddStatic(int id, int x, int y, int w, int h, int relative, const char *text)
{
    const RECT r = {x, y, x + w, y + h};
    return AddStatic(id, &r, relative, text);
}

CKivGuiControl *CKivGuiDialog::SetStatic(int id, const RECT *rect, int relative, const char *text)
{
    if (!rect)
        return nullptr;
    const RECT r = Local(this, *rect, relative);
    CKivGuiControl *control = GetControl(id);
    if (!control)
        control = AddStatic(id, &r, 0, text);
    if (!control)
        return nullptr;
    control->SetLocation(r.left, r.top);
    control->SetSize(r.right - r.left, r.bottom - r.top);
    control->SetText(text);
    return control;
}

CKivGuiControl *CKivGuiDialog::SetStatic(int id, float x, float y, float w, float h, int relative, const char *text)
{
    const int left = static_cast<int>(x), top = static_cast<int>(y);
    const RECT r = {left, top, left + static_cast<int>(w), top + static_cast<int>(h)};
    return SetStatic(id, &r, relative, text);
}

CKivGuiControl *CKivGuiDialog::SetStatic(int id, float x, float y, int relative, const char *text)
{
    return SetStatic(id, x, y, static_cast<float>(GetWidth()), static_cast<float>(GetHeight()), relative, text);
}
