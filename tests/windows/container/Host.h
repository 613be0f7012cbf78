// The two ways the test container sites a control in its window:
//  - "atl": Wine's (or Windows') atl.dll, through AtlAxCreateControlEx, looked up at run time
//    because mingw-w64 has no ATL headers or import library. That host creates the control,
//    calls IPersistStreamInit::InitNew, SetClientSite, SetExtent and DoVerb(INPLACEACTIVATE);
//    it does not connect the sink it is given, so the container connects its own.
//  - "own": a minimal site of the container's own (IOleClientSite, IOleInPlaceSite,
//    IOleInPlaceFrame, and IDispatch for the ambient properties), which follows the control's
//    OLEMISC_SETCLIENTSITEFIRST and prints each call the control makes on it when asked.
// Threads: everything on the container's thread.
#pragma once

#include <windows.h>
// (windows.h comes first: the other SDK headers rely on it.)
#include <ole2.h>

#include <memory>
#include <string>

class Host {
  public:
    virtual ~Host() = default;
    // Creates the control by ProgID (or CLSID text), in-place activated in `window`.
    virtual HRESULT Create(const std::wstring& progId, HWND window, IUnknown** control) = 0;
    // Closes the control (IOleObject::Close, then the site lets it go); the atl host does so by
    // destroying the window it was given.
    virtual void Close() = 0;
    // Whether the control left the site in-place active after Close (only a site of the
    // container's own can tell; atl.dll's cannot).
    virtual bool LeftInPlace() const { return false; }
};

// Null with a reason when atl.dll or its entry points are missing.
std::unique_ptr<Host> MakeAtlHost(std::string& error);
std::unique_ptr<Host> MakeOwnSite(bool traceCalls);
