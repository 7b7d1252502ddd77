// Shared harness of the module's container tests: COM on the test's thread, the module loaded
// and registered from the build tree, controls made through CoCreateInstance, a client site
// whose container moniker the test chooses, and a count of the task-memory blocks (BSTRs among
// them) that are alive.
#pragma once

#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

#include <string>

#include "ruzazuv_idl.h"

namespace ruzazuv::wine_test {

// An owning interface pointer.
template <typename T>
class Ptr {
 public:
  Ptr() = default;
  explicit Ptr(T* p) : p_(p) {}
  Ptr(const Ptr&) = delete;
  Ptr& operator=(const Ptr&) = delete;
  Ptr(Ptr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  Ptr& operator=(Ptr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  ~Ptr() { reset(); }
  void reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** out() {
    reset();
    return &p_;
  }
  void** outVoid() { return reinterpret_cast<void**>(out()); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// The module as the harness loaded it (the same instance CoCreateInstance uses).
HMODULE module();
using DllFunction = HRESULT(STDAPICALLTYPE*)();
using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
DllFunction canUnloadNow();
GetClassObjectFunction getClassObject();

// A new control through CoCreateInstance, asked for `T`; fails the test when it cannot be made.
Ptr<IVorn> createControl();

// Task-memory blocks alive now (the allocation spy is registered by the test main).
long liveAllocations();

// A BSTR that frees itself.
class Bstr {
 public:
  explicit Bstr(const std::wstring& value)
      : b_(SysAllocStringLen(value.data(), static_cast<UINT>(value.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }
  BSTR get() const { return b_; }

 private:
  BSTR b_;
};

// What the client site answers to IOleClientSite::GetMoniker for the container's moniker.
enum class SiteMoniker {
  kUrl,            // a URL moniker of the address (CreateURLMonikerEx)
  kVerbatim,       // a moniker whose display name is the address exactly as given
  kNone,           // GetMoniker fails
  kNoDisplayName,  // a moniker whose GetDisplayName fails
};

// A client site whose container is the page at `address`. It records the GetMoniker request.
class TestSite final : public IOleClientSite {
 public:
  TestSite(SiteMoniker kind, std::wstring address) : kind_(kind), address_(std::move(address)) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP SaveObject() override { return S_OK; }
  STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  STDMETHODIMP GetContainer(IOleContainer** container) override;
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  DWORD lastAssign = 0;
  DWORD lastWhich = 0;
  int monikerRequests = 0;

 private:
  long refs_ = 1;
  SiteMoniker kind_;
  std::wstring address_;
};

// The text of a BSTR the caller owned, which is freed.
std::wstring take(BSTR value);

}  // namespace ruzazuv::wine_test
