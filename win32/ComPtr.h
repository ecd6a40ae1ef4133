#pragma once

#include <windows.h>

#include <objbase.h>

#include <utility>

#include "win32/ComFunctions.h"

// Owns one reference to a COM interface and releases it once, in its destructor.
template <typename Interface>
class ComPtr {
  public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    Interface* Get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // For the out-parameter of a call that hands over a new reference; drops the current one.
    Interface** Put() {
        Reset();
        return &pointer_;
    }
    // The same for calls that take an interface id and a void**.
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  private:
    void Reset() {
        if (pointer_ != nullptr) {
            std::exchange(pointer_, nullptr)->Release();
        }
    }

    Interface* pointer_ = nullptr;
};

// Owns a text that a COM call allocated with the task allocator, freed with CoTaskMemFree.
class CoTaskMemText {
  public:
    CoTaskMemText() = default;
    ~CoTaskMemText() { Free(text_); }
    CoTaskMemText(CoTaskMemText&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}
    CoTaskMemText& operator=(CoTaskMemText&& other) noexcept {
        if (this != &other) {
            Free(std::exchange(text_, std::exchange(other.text_, nullptr)));
        }
        return *this;
    }
    CoTaskMemText(const CoTaskMemText&) = delete;
    CoTaskMemText& operator=(const CoTaskMemText&) = delete;

    const wchar_t* Get() const { return text_; }

    // For the out-parameter of a call that hands over a new text; frees the current one.
    wchar_t** Put() {
        Free(std::exchange(text_, nullptr));
        return &text_;
    }

  private:
    // A text exists only where ole32 gave it, so its free function is there too.
    static void Free(wchar_t* text) {
        if (text != nullptr) {
            Com().taskMemFree(text);
        }
    }

    wchar_t* text_ = nullptr;
};
