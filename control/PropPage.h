// CTalRecorderForDvRecUpPropPage: the control's property page. It exchanges no property.
// On this platform it has no window; it reports its caption ("General") as its title and its
// dialog's one text as its description, so that a host can show them.
#pragma once

#include <atomic>

#include "platform/oleidl.h"

class CTalRecorderForDvRecUpPropPage final : public IPropertyPage {
  public:
    CTalRecorderForDvRecUpPropPage();
    CTalRecorderForDvRecUpPropPage(const CTalRecorderForDvRecUpPropPage&) = delete;
    CTalRecorderForDvRecUpPropPage& operator=(const CTalRecorderForDvRecUpPropPage&) = delete;

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT SetPageSite(IPropertyPageSite* site) override;
    HRESULT Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    HRESULT Deactivate() override;
    HRESULT GetPageInfo(PROPPAGEINFO* info) override;
    HRESULT SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT Show(UINT cmdShow) override;
    HRESULT Move(LPCRECT rect) override;
    HRESULT IsPageDirty() override;
    HRESULT Apply() override;
    HRESULT Help(LPCOLESTR helpDir) override;
    HRESULT TranslateAccelerator(MSG* msg) override;

  private:
    ~CTalRecorderForDvRecUpPropPage();
    std::atomic<ULONG> refs_{1};
};
