// Reference counting for the simulated COM objects: the last Release deletes the object,
// as COM does, so the programs' own owning holders decide every lifetime.
#pragma once

#include <windows.h>

#include <atomic>
#include <utility>

namespace compat {

template <class Interface>
class ComObject : public Interface {
  public:
    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // A new object holding one reference, which the caller owns.
    template <class Derived, class... Args>
    static Derived* create(Args&&... args) {
        return new Derived(std::forward<Args>(args)...);
    }

  protected:
    virtual ~ComObject() = default;

  private:
    std::atomic<ULONG> references_{1};
};

// Hands out an interface pointer with the reference the caller now owns.
template <class Interface>
HRESULT hand_out(ComObject<Interface>* object, void** out) {
    if (!out) {
        object->Release();
        return E_POINTER;
    }
    *out = static_cast<Interface*>(object);
    return S_OK;
}

}  // namespace compat
