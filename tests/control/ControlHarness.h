// The control driven in-process, as a container on this thread drives it: a message loop,
// the control created through its class, an event sink that records what arrives.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "control/Guids.h"
#include "control/Interfaces.h"
#include "control/TalRecorderCtrl.h"
#include "framework/afxconv.h"
#include "platform/ext/messageloop.h"
#include "platform/oleauto.h"
#include "platform/winuser.h"

namespace talrec::test {

struct Event {
    DISPID id;
    std::string text;  // RecorderStateNotify's state
    LONG number = 0;   // VolumeStatus's value
    std::thread::id thread;
};

// Records events; `onEvent` may call back into the control while an event is delivered.
class RecordingSink final : public IDispatch {
  public:
    std::vector<Event> events;
    std::function<void(const Event&)> onEvent;

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch ||
            riid == control::DIID__DTalRecorderForDvRecUpEvents) {
            *object = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }  // lives on the test's stack
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                   UINT*) override {
        Event event{id, {}, 0, std::this_thread::get_id()};
        if (params->cArgs == 1 && params->rgvarg[0].vt == VT_BSTR) {
            event.text = AfxBstrToAnsi(params->rgvarg[0].bstrVal);
        } else if (params->cArgs == 1 && params->rgvarg[0].vt == VT_I4) {
            event.number = params->rgvarg[0].lVal;
        }
        events.push_back(event);
        if (onEvent) onEvent(event);
        return S_OK;
    }

    std::vector<std::string> States() const {
        std::vector<std::string> out;
        for (const Event& e : events) {
            if (e.id == control::EVENTID_RECORDERSTATENOTIFY) out.push_back(e.text);
        }
        return out;
    }
};

class ControlHarness {
  public:
    ControlHarness() {
        control_ = new CTalRecorderForDvRecUpCtrl;
        IConnectionPointContainer* points = nullptr;
        control_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points));
        points->FindConnectionPoint(control::DIID__DTalRecorderForDvRecUpEvents, &point_);
        points->Release();
        point_->Advise(static_cast<IDispatch*>(&sink), &cookie_);
    }
    ~ControlHarness() {
        point_->Unadvise(cookie_);
        point_->Release();
        control_->Release();
    }
    ControlHarness(const ControlHarness&) = delete;
    ControlHarness& operator=(const ControlHarness&) = delete;

    HRESULT CreateWindow() {
        return Ole()->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, nullptr);
    }
    HRESULT DestroyWindow() { return Ole()->Close(OLECLOSE_NOSAVE); }
    HWND Window() const { return control_->GetSafeHwnd(); }
    IDispatch* Dispatch() const { return static_cast<IDispatch*>(control_); }

    // Calls a member by dispatch id with string or number arguments; the result as a LONG or
    // text.
    VARIANT Invoke(DISPID id, std::vector<VARIANT> args = {}, WORD flags = DISPATCH_METHOD,
                   HRESULT* hr = nullptr) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS dp{reversed.empty() ? nullptr : reversed.data(),
                      flags == DISPATCH_PROPERTYPUT ? &put : nullptr,
                      static_cast<UINT>(reversed.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO excep{};
        HRESULT status = Dispatch()->Invoke(id, IID_NULL, 0, flags, &dp, &result, &excep, nullptr);
        if (hr != nullptr) *hr = status;
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        for (VARIANT& arg : args) VariantClear(&arg);
        return result;
    }
    LONG Long(DISPID id, std::vector<VARIANT> args = {}) {
        return Invoke(id, std::move(args)).lVal;
    }
    std::string Text(DISPID id, std::vector<VARIANT> args = {}) {
        VARIANT v = Invoke(id, std::move(args));
        std::string out = AfxBstrToAnsi(v.bstrVal);
        VariantClear(&v);
        return out;
    }

    RecordingSink sink;

    IOleObject* Ole() {
        IOleObject* ole = nullptr;
        control_->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole));
        ole->Release();  // the control holds itself; the harness holds the control
        return ole;
    }

  private:
    CTalRecorderForDvRecUpCtrl* control_;
    IConnectionPoint* point_ = nullptr;
    DWORD cookie_ = 0;
};

inline VARIANT Str(const std::string& text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = AfxAllocBstr(text);
    return v;
}

inline VARIANT Num(LONG n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

// Runs the calling thread's loop for a while.
inline void RunLoopFor(MessageLoop& loop, std::chrono::milliseconds duration) {
    MessageLoop::Poster poster = loop.GetPoster();
    std::thread stopper([poster, duration] {
        std::this_thread::sleep_for(duration);
        poster.Quit(0);
    });
    loop.Run();
    stopper.join();
}

}  // namespace talrec::test
