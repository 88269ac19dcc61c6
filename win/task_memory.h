// Holders for what Windows hands out in COM task memory: a block freed with CoTaskMemFree,
// and a PROPVARIANT cleared with PropVariantClear.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <propidl.h>

namespace ondelle {

template <class T>
class TaskMemory {
  public:
    TaskMemory() = default;
    ~TaskMemory() { CoTaskMemFree(pointer_); }
    TaskMemory(const TaskMemory&) = delete;
    TaskMemory& operator=(const TaskMemory&) = delete;

    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // Frees what is held and lends the slot to a call that hands out a block.
    T** put() {
        CoTaskMemFree(pointer_);
        pointer_ = nullptr;
        return &pointer_;
    }

  private:
    T* pointer_ = nullptr;
};

class PropVariant {
  public:
    PropVariant() { PropVariantInit(&value_); }
    ~PropVariant() { PropVariantClear(&value_); }
    PropVariant(const PropVariant&) = delete;
    PropVariant& operator=(const PropVariant&) = delete;

    PROPVARIANT* get() { return &value_; }
    const PROPVARIANT& operator*() const { return value_; }

  private:
    PROPVARIANT value_;
};

}  // namespace ondelle
