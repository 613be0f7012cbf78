#include "control/PropPage.h"

#include <cstring>

#include "control/TalRecorderCtrl.h"
#include "framework/afxconv.h"
#include "platform/objbase.h"
#include "resources/Resources.h"

CTalRecorderForDvRecUpPropPage::CTalRecorderForDvRecUpPropPage() {
    CTalRecorderForDvRecUpCtrl::Module().AddObject();
}

CTalRecorderForDvRecUpPropPage::~CTalRecorderForDvRecUpPropPage() {
    CTalRecorderForDvRecUpCtrl::Module().RemoveObject();
}

IUnknown* CTalRecorderForDvRecUpPropPage::Interface(REFIID riid) {
    return riid == IID_IPropertyPage ? static_cast<IPropertyPage*>(this) : nullptr;
}

HRESULT CTalRecorderForDvRecUpPropPage::SetPageSite(IPropertyPageSite*) {
    return S_OK;
}
HRESULT CTalRecorderForDvRecUpPropPage::Activate(HWND, LPCRECT, BOOL) {
    return S_OK;
}
HRESULT CTalRecorderForDvRecUpPropPage::Deactivate() {
    return S_OK;
}

HRESULT CTalRecorderForDvRecUpPropPage::GetPageInfo(PROPPAGEINFO* info) {
    using namespace talrec::resources;
    if (info == nullptr) return E_POINTER;
    const DialogTemplate& dialog = PropertyPageDialog();
    *info = PROPPAGEINFO{};
    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = AfxAllocTaskString(LoadAnsiString(IDS_TALRECORDERFORDVRECUP_PPG_CAPTION));
    info->pszDocString = AfxAllocTaskString(dialog.controls[0].text);
    // Dialog units of an 8-point "MS Shell Dlg": 6 by 13 pixels per 4 by 8 units.
    info->size = {dialog.cx * 6 / 4, dialog.cy * 13 / 8};
    if (info->pszTitle == nullptr || info->pszDocString == nullptr) {
        CoTaskMemFree(info->pszTitle);
        CoTaskMemFree(info->pszDocString);
        *info = PROPPAGEINFO{};
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CTalRecorderForDvRecUpPropPage::SetObjects(ULONG, IUnknown**) {
    return S_OK;
}
HRESULT CTalRecorderForDvRecUpPropPage::Show(UINT) {
    return S_OK;
}
HRESULT CTalRecorderForDvRecUpPropPage::Move(LPCRECT) {
    return S_OK;
}
// The page exchanges nothing, so it is never dirty and applying does nothing.
HRESULT CTalRecorderForDvRecUpPropPage::IsPageDirty() {
    return S_FALSE;
}
HRESULT CTalRecorderForDvRecUpPropPage::Apply() {
    return S_OK;
}
HRESULT CTalRecorderForDvRecUpPropPage::Help(LPCOLESTR) {
    return E_NOTIMPL;
}
HRESULT CTalRecorderForDvRecUpPropPage::TranslateAccelerator(MSG*) {
    return S_FALSE;
}
