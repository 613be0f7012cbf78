// Helpers for implementing COM objects: a reference-counted base that answers QueryInterface
// from a list the object gives, and a snapshot enumerator for the IEnumXXX interfaces.
// Written only against the published COM declarations, so that both targets have them.
//
//   class Sink final : public ComObject<IDispatch> {
//       IUnknown* Interface(REFIID riid) override {
//           return riid == IID_IDispatch || riid == eventsIid_ ? static_cast<IDispatch*>(this)
//                                                              : nullptr;
//       }
//       ...
//   };
//   auto* sink = new Sink;  // one reference, the creator's
#pragma once

#include <atomic>
#include <utility>
#include <vector>

#include "platform/unknwn.h"

// A heap object implementing the interfaces it derives from. Its count starts at 1 (the
// creator's reference); the last Release deletes it (OnFinalRelease). AddRef and Release may be
// called from any thread.
template <class First, class... Rest>
class ComObject : public First, public Rest... {
  public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        IUnknown* found = riid == IID_IUnknown ? static_cast<First*>(this) : Interface(riid);
        *object = found;
        if (found == nullptr) return E_NOINTERFACE;
        found->AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1) + 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = refs_.fetch_sub(1) - 1;
        if (left == 0) OnFinalRelease();
        return left;
    }

  protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    // The object's interface for riid (never asked for IID_IUnknown), or null.
    virtual IUnknown* Interface(REFIID riid) = 0;
    // Runs when the last reference has gone, on the thread of that Release: deletes the
    // object. An object that must tear something down while it is still whole (a window
    // whose handlers are in a derived class) overrides it and deletes itself at its end.
    virtual void OnFinalRelease() { delete this; }

  private:
    std::atomic<ULONG> refs_{1};
};

// How an enumerator's items are held: plain values are copied; CountedItems hold a reference.
struct PlainItems {
    template <class Item>
    static void Retain(const Item&) {}
    template <class Item>
    static void Drop(const Item&) {}
};
// Items that are, or carry, an interface pointer, which UnknownOf{}(item) gives.
template <class UnknownOf>
struct CountedItems {
    template <class Item>
    static void Retain(const Item& item) {
        if (IUnknown* u = UnknownOf{}(item)) u->AddRef();
    }
    template <class Item>
    static void Drop(const Item& item) {
        if (IUnknown* u = UnknownOf{}(item)) u->Release();
    }
};

// IEnumXXX over a copy of the items taken when it was made: Next, Skip, Reset, Clone.
// Enum is the enumerator interface (iid its identifier), Item what Next hands out.
template <class Enum, class Item, class Hold = PlainItems>
class SnapshotEnum final : public ComObject<Enum> {
  public:
    // Takes a copy of the items; counted items get a reference of the enumerator's own.
    SnapshotEnum(std::vector<Item> items, REFIID iid) : items_(std::move(items)), iid_(iid) {
        for (const Item& item : items_) Hold::Retain(item);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
        if (out == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
        ULONG n = 0;
        while (n < count && next_ < items_.size()) {
            out[n] = items_[next_++];
            Hold::Retain(out[n]);
            ++n;
        }
        if (fetched != nullptr) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const std::size_t left = items_.size() - next_;
        next_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Enum** copy) override {
        if (copy == nullptr) return E_POINTER;
        auto* clone = new SnapshotEnum(items_, iid_);
        clone->next_ = next_;
        *copy = clone;
        return S_OK;
    }

  private:
    ~SnapshotEnum() override {
        for (const Item& item : items_) Hold::Drop(item);
    }
    IUnknown* Interface(REFIID riid) override {
        return riid == iid_ ? static_cast<Enum*>(this) : nullptr;
    }

    std::vector<Item> items_;
    std::size_t next_ = 0;
    const IID iid_;
};
