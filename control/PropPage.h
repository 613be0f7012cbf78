// CTalRecorderForDvRecUpPropPage: the control's property page. It exchanges no property.
// It makes no window of its own; it reports its caption ("General") as its title and its
// dialog's one text as its description, so that a host can show them.
#pragma once

#include "platform/ext/comobject.h"
#include "platform/oleidl.h"

class CTalRecorderForDvRecUpPropPage final : public ComObject<IPropertyPage> {
  public:
    CTalRecorderForDvRecUpPropPage();

    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT STDMETHODCALLTYPE Show(UINT cmdShow) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR helpDir) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* msg) override;

  private:
    ~CTalRecorderForDvRecUpPropPage() override;
    IUnknown* Interface(REFIID riid) override;
};
