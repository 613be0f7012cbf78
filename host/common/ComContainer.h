// The host's container of one control: created by ProgID through the registry (and refused
// unless marked safe for scripting), its events connected, its window created and destroyed,
// its dispatch members called by name. On the host's user-interface thread.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "host/common/EventSink.h"
#include "platform/oleidl.h"
#include "platform/wrl/client.h"

namespace talrec::host {

struct CallResult {
    HRESULT hr = S_OK;
    nlohmann::json result;           // when hr succeeded
    std::string message;             // when it failed
    bool badParams = false;          // a JSON argument with no automation form
    DISPID dispid = DISPID_UNKNOWN;  // the member called, once its name was found
};

class ComContainer {
  public:
    // Null with `error` set when the ProgID is not registered, the class cannot be created,
    // or it is not marked safe for scripting.
    static std::unique_ptr<ComContainer> Create(const std::string& progId, std::string& error);
    // Takes over an object already made (its reference), for containers of objects that are
    // not created through the registry.
    static std::unique_ptr<ComContainer> Adopt(IDispatch* control);
    ~ComContainer();  // disconnects, closes and releases the control
    ComContainer(const ComContainer&) = delete;
    ComContainer& operator=(const ComContainer&) = delete;

    // Connects the event sink (before the window is created, as containers do).
    HRESULT Connect(EventSink::Handler handler);
    HRESULT CreateControlWindow();
    HRESULT DestroyControlWindow();

    // The dispatch id of a member's name, or DISPID_UNKNOWN; looked up as Call looks it up.
    DISPID DispatchId(const std::string& name, LCID lcid) const;

    // Calls a member by name ("#N" is dispatch id N). A property is read with no argument and
    // set with one.
    CallResult Call(const std::string& name, const nlohmann::json& params, LCID lcid);

  private:
    explicit ComContainer(IDispatch* control) { control_.Attach(control); }
    void LoadTypeDescriptions();

    Microsoft::WRL::ComPtr<IDispatch> control_;
    Microsoft::WRL::ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
    IID eventsIid_{};
    std::map<DISPID, std::string> eventNames_;
    std::set<DISPID> properties_;
};

}  // namespace talrec::host
