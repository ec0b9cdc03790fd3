// The dialog's shortcuts for static text: adding a static, or moving and retexting one by id.
#include <exception>
#include <new>

#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiStatic.h"
#include "engine/gui/GuiSums.h"

namespace {

// The rectangle in the dialog's pixels; relative: given in screen pixels.
RECT Local(const CKivGuiDialog *dialog, const RECT &rect, int relative)
{
    if (!relative)
        return rect;
    int x, y;
    dialog->GetLocation(&x, &y);
    const long long dx = -static_cast<long long>(x), dy = -static_cast<long long>(y);
    return RECT{GuiSum(rect.left, dx), GuiSum(rect.top, dy), GuiSum(rect.right, dx), GuiSum(rect.bottom, dy)};
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
    const RECT r = {x, y, GuiSum(x, w), GuiSum(y, h)};
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
    control->SetSize(GuiSpan(r.left, r.right), GuiSpan(r.top, r.bottom));
    control->SetText(text);
    return control;
}

CKivGuiControl *CKivGuiDialog::SetStatic(int id, float x, float y, float w, float h, int relative, const char *text)
{
    const int left = GuiNearestInt(static_cast<double>(x)), top = GuiNearestInt(static_cast<double>(y));
    const RECT r = {left, top, GuiSum(left, GuiNearestInt(static_cast<double>(w))),
                    GuiSum(top, GuiNearestInt(static_cast<double>(h)))};
    return SetStatic(id, &r, relative, text);
}

CKivGuiControl *CKivGuiDialog::SetStatic(int id, float x, float y, int relative, const char *text)
{
    return SetStatic(id, x, y, static_cast<float>(GetWidth()), static_cast<float>(GetHeight()), relative, text);
}
