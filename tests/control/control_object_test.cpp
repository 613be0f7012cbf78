// The control object on its own thread: window lifecycle, level messages, the end of a
// playback, persistence, and sinks that call back while an event is delivered.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "control/ControlHarness.h"
#include "platform/ext/comobject.h"
#include "platform/ext/messageloop.h"
#include "support/TempDir.h"

using namespace talrec::control;
using namespace talrec::test;
using namespace std::chrono_literals;

namespace {

class ControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(tmp_ / "data");
        data_.emplace("XDG_DATA_HOME", tmp_ / "data");
        device_.emplace("TALREC_WAVE_DEVICE", "virtual");
    }
    std::string InData(const std::string& name) { return tmp_ / ("data/quorvex/" + name); }

    TempDir tmp_;
    std::optional<ScopedEnv> data_, device_;
    MessageLoop loop_;
};

TEST_F(ControlTest, EachWindowCreationBringsAFreshIdleManager) {
    ControlHarness control;
    EXPECT_EQ(control.Long(DISPID_RECSTART, {Str(InData("a.wav"))}), -1) << "no manager yet";
    ASSERT_EQ(control.CreateWindow(), S_OK);
    VARIANT folder = control.Invoke(DISPID_TEMPFOLDERPASS, {}, DISPATCH_PROPERTYGET);
    EXPECT_EQ(AfxBstrToAnsi(folder.bstrVal), tmp_ / "data/quorvex/");
    VariantClear(&folder);
    EXPECT_EQ(control.Long(DISPID_RECSTART, {Str(InData("a.wav"))}), 0);
    RunLoopFor(loop_, 200ms);

    // The window goes and comes back: the running recording is destroyed unwritten with its
    // manager, and the new one is idle (a start is not refused with -2).
    ASSERT_EQ(control.DestroyWindow(), S_OK);
    ASSERT_EQ(control.CreateWindow(), S_OK);
    EXPECT_EQ(control.Long(DISPID_RECSTART, {Str(InData("b.wav"))}), 0);
    EXPECT_EQ(control.Long(DISPID_RECSTOP), 0);
    EXPECT_FALSE(std::filesystem::exists(InData("a.wav")));
    EXPECT_TRUE(std::filesystem::exists(InData("b.wav")));
    ASSERT_EQ(control.CreateWindow(), S_OK) << "activating an active control changes nothing";
}

TEST_F(ControlTest, LevelsPostedFromAnotherThreadArriveAsVolumeOnTheControlsThread) {
    ControlHarness control;
    ASSERT_EQ(control.CreateWindow(), S_OK);
    HWND window = control.Window();
    std::thread poster([window] {
        for (WPARAM level : {9000u, 89u, 90u, 4499u, 0u})
            PostMessageA(window, WM_WAVE_LEVEL, level, 0);
    });
    poster.join();
    RunLoopFor(loop_, 100ms);
    std::vector<LONG> volumes;
    for (const Event& e : control.sink.events) {
        ASSERT_EQ(e.id, EVENTID_VOLUMESTATUS);
        EXPECT_EQ(e.thread, std::this_thread::get_id());
        volumes.push_back(e.number);
    }
    EXPECT_EQ(volumes, (std::vector<LONG>{100, 0, 1, 49, 0}));
}

TEST_F(ControlTest, AFileThatEndsIsReportedOnceAtTheNextTickAndAPausedOneNever) {
    ControlHarness control;
    ASSERT_EQ(control.CreateWindow(), S_OK);
    // A quarter of a second of sound to play.
    EXPECT_EQ(control.Long(DISPID_RECSTART, {Str(InData("short.wav"))}), 0);
    RunLoopFor(loop_, 250ms);
    control.Long(DISPID_RECSTOP);

    control.sink.events.clear();
    EXPECT_EQ(control.Long(DISPID_PLAYSTART, {Str(InData("short.wav"))}), 0);
    EXPECT_EQ(control.Long(DISPID_PLAYPAUSE), 0);
    RunLoopFor(loop_, 2200ms);
    EXPECT_EQ(control.sink.States(), (std::vector<std::string>{"play-start", "play-pause"}));

    EXPECT_EQ(control.Long(DISPID_PLAYCONTINUE), 0);
    RunLoopFor(loop_, 2500ms);
    std::vector<DISPID> ids;
    for (const Event& e : control.sink.events) {
        if (e.id != EVENTID_VOLUMESTATUS) ids.push_back(e.id);  // late levels of the recording
    }
    EXPECT_EQ(ids, (std::vector<DISPID>{EVENTID_RECORDERSTATENOTIFY, EVENTID_RECORDERSTATENOTIFY,
                                        EVENTID_RECORDERSTATENOTIFY, EVENTID_EVTPLAYSTOP,
                                        EVENTID_RECORDERSTATENOTIFY}));
    EXPECT_EQ(control.sink.States().back(), "play-complete");
}

TEST_F(ControlTest, ASinkMayCallBackIntoTheControlWhileAnEventIsDelivered) {
    ControlHarness control;
    ASSERT_EQ(control.CreateWindow(), S_OK);
    std::vector<std::string> nested;
    control.sink.onEvent = [&](const Event& e) {
        if (e.text == "record-start") {
            nested.push_back(control.Text(DISPID_RECORDTOTALFILENAME));
            control.Long(DISPID_RECORDPAUSE);  // fires "record-pause" inside "record-start"
        }
    };
    EXPECT_EQ(control.Long(DISPID_RECSTART, {Str(InData("n.wav"))}), 0);
    EXPECT_EQ(nested, std::vector<std::string>{InData("n.wav")});
    EXPECT_EQ(control.sink.States(), (std::vector<std::string>{"record-start", "record-pause"}));
    control.sink.onEvent = nullptr;
    EXPECT_EQ(control.Long(DISPID_RECORDCONTINUE), 0);
    EXPECT_EQ(control.Long(DISPID_RECSTOP), 0);
}

// A property bag that keeps what it is given.
class MemoryBag final : public IPropertyBag {
  public:
    std::map<std::string, VARIANT> values;
    ~MemoryBag() {
        for (auto& [name, value] : values) VariantClear(&value);
    }
    HRESULT QueryInterface(REFIID, void** object) override {
        return *object = nullptr, E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        auto it = values.find(AfxWideToAnsi(name));
        if (it == values.end()) return E_INVALIDARG;
        return VariantCopy(value, &it->second);
    }
    HRESULT Write(LPCOLESTR name, VARIANT* value) override {
        VARIANT copy;
        VariantInit(&copy);
        VariantCopy(&copy, value);
        values[AfxWideToAnsi(name)] = copy;
        return S_OK;
    }
};

TEST_F(ControlTest, SavedStateHoldsTheVersionAndTheExtentOnly) {
    ControlHarness control;
    ASSERT_EQ(control.CreateWindow(), S_OK);
    control.Long(DISPID_RECSTART, {Str(InData("p.wav"))});
    control.Long(DISPID_RECSTOP);
    IPersistPropertyBag* persist = nullptr;
    ASSERT_EQ(control.Dispatch()->QueryInterface(IID_IPersistPropertyBag,
                                                 reinterpret_cast<void**>(&persist)),
              S_OK);
    MemoryBag saved;
    ASSERT_EQ(persist->Save(&saved, TRUE, TRUE), S_OK);
    std::vector<std::string> names;
    for (const auto& [name, value] : saved.values) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"_ExtentX", "_ExtentY", "_StockProps", "_Version"}));
    EXPECT_EQ(saved.values["_Version"].lVal, 65536);
    EXPECT_EQ(saved.values["_StockProps"].lVal, 0);

    // Loading an older version and saving again writes this version; no path comes back.
    MemoryBag old;
    VARIANT v = Num(0x00000002);
    old.Write(u"_Version", &v);
    ControlHarness fresh;
    IPersistPropertyBag* freshPersist = nullptr;
    fresh.Dispatch()->QueryInterface(IID_IPersistPropertyBag,
                                     reinterpret_cast<void**>(&freshPersist));
    EXPECT_EQ(freshPersist->Load(&old, nullptr), S_OK);
    EXPECT_EQ(fresh.Text(DISPID_RECORDTOTALFILENAME), "");
    MemoryBag again;
    freshPersist->Save(&again, TRUE, TRUE);
    EXPECT_EQ(again.values["_Version"].lVal, 65536);
    freshPersist->Release();
    persist->Release();
}

// A container's site that takes the control in place: it records the calls the control makes
// and gives its own window and a position.
class RecordingSite final : public ComObject<IOleClientSite, IOleInPlaceSite> {
  public:
    explicit RecordingSite(HWND window, bool agree = true) : window_(window), agree_(agree) {}
    std::vector<std::string> calls;

    HRESULT SaveObject() override { return E_NOTIMPL; }
    HRESULT GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT GetContainer(IOleContainer**) override { return E_NOTIMPL; }
    HRESULT ShowObject() override { return Call("ShowObject"); }
    HRESULT OnShowWindow(BOOL) override { return S_OK; }
    HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }
    HRESULT GetWindow(HWND* window) override {
        *window = window_;
        return Call("GetWindow");
    }
    HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT CanInPlaceActivate() override {
        Call("CanInPlaceActivate");
        return agree_ ? S_OK : S_FALSE;
    }
    HRESULT OnInPlaceActivate() override { return Call("OnInPlaceActivate"); }
    HRESULT OnUIActivate() override { return S_OK; }
    HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                             LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO) override {
        *frame = nullptr;
        *document = nullptr;
        *position = *clip = RECT{10, 20, 110, 70};
        return Call("GetWindowContext");
    }
    HRESULT Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT OnInPlaceDeactivate() override { return Call("OnInPlaceDeactivate"); }
    HRESULT DiscardUndoState() override { return S_OK; }
    HRESULT DeactivateAndUndo() override { return S_OK; }
    HRESULT OnPosRectChange(LPCRECT) override { return S_OK; }

  private:
    IUnknown* Interface(REFIID riid) override {
        if (riid == IID_IOleClientSite) return static_cast<IOleClientSite*>(this);
        if (riid == IID_IOleInPlaceSite) return static_cast<IOleInPlaceSite*>(this);
        return nullptr;
    }
    HRESULT Call(const char* name) {
        calls.push_back(name);
        return S_OK;
    }
    HWND window_;
    bool agree_;
};

TEST_F(ControlTest, ASiteTakesTheControlInPlaceAndBackOut) {
    WNDCLASSA parentClass{};
    parentClass.lpfnWndProc = DefWindowProcA;
    parentClass.lpszClassName = "TalrecTestSiteWindow";
    RegisterClassA(&parentClass);
    HWND parent = CreateWindowExA(0, parentClass.lpszClassName, "", 0, 0, 0, 200, 100, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    ControlHarness control;
    auto* site = new RecordingSite(parent);
    IOleObject* ole = control.Ole();
    ASSERT_EQ(ole->SetClientSite(site), S_OK);
    ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(site->calls,
              (std::vector<std::string>{"CanInPlaceActivate", "OnInPlaceActivate", "GetWindow",
                                        "GetWindowContext", "ShowObject"}));
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(control.Window(), &rect));
    EXPECT_EQ(std::vector<LONG>({rect.left, rect.top, rect.right, rect.bottom}),
              std::vector<LONG>({10, 20, 110, 70}));
    EXPECT_TRUE(IsWindowVisible(control.Window()));
    VARIANT folder = control.Invoke(DISPID_TEMPFOLDERPASS, {}, DISPATCH_PROPERTYGET);
    EXPECT_EQ(AfxBstrToAnsi(folder.bstrVal), tmp_ / "data/quorvex/") << "the window was made";
    VariantClear(&folder);

    IOleInPlaceObject* inPlace = nullptr;
    ASSERT_EQ(control.Dispatch()->QueryInterface(IID_IOleInPlaceObject,
                                                 reinterpret_cast<void**>(&inPlace)),
              S_OK);
    HWND window = nullptr;
    EXPECT_EQ(inPlace->GetWindow(&window), S_OK);
    EXPECT_EQ(window, control.Window());
    RECT moved{0, 0, 50, 40};
    EXPECT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.right, 50);
    EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(site->calls.back(), "OnInPlaceDeactivate");
    EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL);
    inPlace->Release();
    ole->SetClientSite(nullptr);

    // A site that does not agree gets no window.
    auto* refusing = new RecordingSite(parent, false);
    EXPECT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, refusing, 0, nullptr, nullptr),
              E_FAIL);
    EXPECT_EQ(control.Window(), nullptr);
    refusing->Release();
    site->Release();
    DestroyWindow(parent);
}

// A stream over memory, for IPersistStreamInit.
class MemoryStream final : public ComObject<IStream> {
  public:
    std::string bytes;
    std::size_t at = 0;
    HRESULT Read(void* data, ULONG size, ULONG* read) override {
        ULONG n = static_cast<ULONG>(std::min<std::size_t>(size, bytes.size() - at));
        std::memcpy(data, bytes.data() + at, n);
        at += n;
        if (read != nullptr) *read = n;
        return n == size ? S_OK : S_FALSE;
    }
    HRESULT Write(const void* data, ULONG size, ULONG* written) override {
        bytes.append(static_cast<const char*>(data), size);
        if (written != nullptr) *written = size;
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT Revert() override { return E_NOTIMPL; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT Clone(IStream**) override { return E_NOTIMPL; }

  private:
    IUnknown* Interface(REFIID riid) override {
        return riid == IID_IStream ? static_cast<IStream*>(this) : nullptr;
    }
};

TEST_F(ControlTest, AStreamHoldsTheSameExchangeAndFrozenEventsAreDropped) {
    ControlHarness control;
    IPersistStreamInit* persist = nullptr;
    ASSERT_EQ(control.Dispatch()->QueryInterface(IID_IPersistStreamInit,
                                                 reinterpret_cast<void**>(&persist)),
              S_OK);
    EXPECT_EQ(persist->InitNew(), S_OK);
    IOleObject* ole = control.Ole();
    SIZEL extent{5000, 3000};
    ole->SetExtent(DVASPECT_CONTENT, &extent);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    auto* stream = new MemoryStream;
    ASSERT_EQ(persist->Save(stream, TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    ULARGE_INTEGER size{};
    persist->GetSizeMax(&size);
    EXPECT_EQ(size.QuadPart, stream->bytes.size());
    EXPECT_EQ(stream->bytes.size(), 16u) << "version, extent, stock mask";

    ControlHarness fresh;
    IPersistStreamInit* freshPersist = nullptr;
    fresh.Dispatch()->QueryInterface(IID_IPersistStreamInit,
                                     reinterpret_cast<void**>(&freshPersist));
    ASSERT_EQ(freshPersist->Load(stream), S_OK);
    IOleObject* freshOle = fresh.Ole();
    SIZEL loaded{};
    freshOle->GetExtent(DVASPECT_CONTENT, &loaded);
    EXPECT_EQ(loaded.cx, 5000);
    EXPECT_EQ(loaded.cy, 3000);

    IOleControl* oleControl = nullptr;
    ASSERT_EQ(
        control.Dispatch()->QueryInterface(IID_IOleControl, reinterpret_cast<void**>(&oleControl)),
        S_OK);
    ASSERT_EQ(control.CreateWindow(), S_OK);
    oleControl->FreezeEvents(TRUE);
    EXPECT_EQ(control.Long(DISPID_RECORDPAUSE), 0);
    EXPECT_TRUE(control.sink.events.empty());
    oleControl->FreezeEvents(FALSE);
    EXPECT_EQ(control.Long(DISPID_RECORDPAUSE), 0);
    EXPECT_EQ(control.sink.States(), std::vector<std::string>{"record-pause"});

    oleControl->Release();
    freshPersist->Release();
    stream->Release();
    persist->Release();
}

TEST_F(ControlTest, InvokeChecksCountsAndTypesBeforeAnyHandler) {
    ControlHarness control;
    HRESULT hr = S_OK;
    control.Invoke(DISPID_RECSTART, {}, DISPATCH_METHOD, &hr);
    EXPECT_EQ(hr, DISP_E_BADPARAMCOUNT);
    VARIANT result = control.Invoke(DISPID_GETERRORSTRING, {Str("12")}, DISPATCH_METHOD, &hr);
    EXPECT_EQ(hr, S_OK) << "digits convert to a long";
    EXPECT_EQ(AfxBstrToAnsi(result.bstrVal), "Failed");
    VariantClear(&result);
    control.Invoke(DISPID_GETERRORSTRING, {Str("twelve")}, DISPATCH_METHOD, &hr);
    EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);
    control.Invoke(99, {}, DISPATCH_METHOD, &hr);
    EXPECT_EQ(hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_TRUE(control.sink.events.empty());
}

}  // namespace
