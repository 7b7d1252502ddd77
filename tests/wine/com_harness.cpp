#include "com_harness.h"

#include <gtest/gtest.h>
#include <urlmon.h>

namespace ruzazuv::wine_test {
namespace {

HMODULE loadedModule = nullptr;
volatile LONG allocations = 0;

// Counts the task-memory blocks that are alive: BSTRs, display names and the like.
class AllocationSpy final : public IMallocSpy {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override { return size; }
  STDMETHODIMP_(void*) PostAlloc(void* block) override {
    if (block != nullptr) InterlockedIncrement(&allocations);
    return block;
  }
  STDMETHODIMP_(void*) PreFree(void* block, BOOL spied) override {
    if (block != nullptr && spied) InterlockedDecrement(&allocations);
    return block;
  }
  STDMETHODIMP_(void) PostFree(BOOL) override {}
  STDMETHODIMP_(SIZE_T) PreRealloc(void* block, SIZE_T size, void** newBlock, BOOL spied) override {
    reallocFromNothing_ = block == nullptr;
    if (block != nullptr && size == 0 && spied) InterlockedDecrement(&allocations);
    *newBlock = block;
    return size;
  }
  STDMETHODIMP_(void*) PostRealloc(void* block, BOOL) override {
    if (reallocFromNothing_ && block != nullptr) InterlockedIncrement(&allocations);
    return block;
  }
  STDMETHODIMP_(void*) PreGetSize(void* block, BOOL) override { return block; }
  STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T size, BOOL) override { return size; }
  STDMETHODIMP_(void*) PreDidAlloc(void* block, BOOL) override { return block; }
  STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  STDMETHODIMP_(void) PreHeapMinimize() override {}
  STDMETHODIMP_(void) PostHeapMinimize() override {}

 private:
  bool reallocFromNothing_ = false;
};

AllocationSpy spy;

// A moniker whose display name is the given text, or that has none.
class NamedMoniker final : public IMoniker {
 public:
  explicit NamedMoniker(const std::wstring* name)
      : name_(name != nullptr ? *name : L""), hasName_(name != nullptr) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMoniker)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    const long left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
  STDMETHODIMP IsDirty() override { return S_FALSE; }
  STDMETHODIMP Load(IStream*) override { return E_NOTIMPL; }
  STDMETHODIMP Save(IStream*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP BindToObject(IBindCtx*, IMoniker*, REFIID, void**) override { return E_NOTIMPL; }
  STDMETHODIMP BindToStorage(IBindCtx*, IMoniker*, REFIID, void**) override { return E_NOTIMPL; }
  STDMETHODIMP Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP ComposeWith(IMoniker*, BOOL, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP Enum(BOOL, IEnumMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP IsEqual(IMoniker*) override { return S_FALSE; }
  STDMETHODIMP Hash(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP IsRunning(IBindCtx*, IMoniker*, IMoniker*) override { return S_FALSE; }
  STDMETHODIMP GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override { return E_NOTIMPL; }
  STDMETHODIMP Inverse(IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP CommonPrefixWith(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP RelativePathTo(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
    *name = nullptr;
    if (!hasName_) return E_FAIL;
    const std::size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
    *name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (*name == nullptr) return E_OUTOFMEMORY;
    CopyMemory(*name, name_.c_str(), bytes);
    return S_OK;
  }
  STDMETHODIMP ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker**) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP IsSystemMoniker(DWORD* kind) override {
    *kind = MKSYS_NONE;
    return S_FALSE;
  }

 private:
  long refs_ = 1;
  std::wstring name_;
  bool hasName_;
};

}  // namespace

HMODULE module() {
  return loadedModule;
}

DllFunction canUnloadNow() {
  return reinterpret_cast<DllFunction>(
      reinterpret_cast<void*>(GetProcAddress(loadedModule, "DllCanUnloadNow")));
}

GetClassObjectFunction getClassObject() {
  return reinterpret_cast<GetClassObjectFunction>(
      reinterpret_cast<void*>(GetProcAddress(loadedModule, "DllGetClassObject")));
}

Ptr<IVorn> createControl() {
  Ptr<IVorn> control;
  const HRESULT hr =
      CoCreateInstance(CLSID_Vorn, nullptr, CLSCTX_INPROC_SERVER, IID_IVorn, control.outVoid());
  EXPECT_EQ(hr, S_OK) << "CoCreateInstance of Vorn";
  return control;
}

long liveAllocations() {
  return InterlockedCompareExchange(&allocations, 0, 0);
}

std::wstring take(BSTR value) {
  std::wstring result = value != nullptr ? std::wstring(value, SysStringLen(value)) : L"";
  SysFreeString(value);
  return result;
}

STDMETHODIMP TestSite::QueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
    *out = static_cast<IOleClientSite*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TestSite::Release() {
  return static_cast<ULONG>(--refs_);  // owned by the test
}

STDMETHODIMP TestSite::GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) {
  ++monikerRequests;
  lastAssign = assign;
  lastWhich = which;
  *moniker = nullptr;
  switch (kind_) {
    case SiteMoniker::kUrl:
      return CreateURLMonikerEx(nullptr, address_.c_str(), moniker, URL_MK_UNIFORM);
    case SiteMoniker::kNone:
      return E_FAIL;
    case SiteMoniker::kVerbatim:
      *moniker = new NamedMoniker(&address_);
      return S_OK;
    case SiteMoniker::kNoDisplayName:
      *moniker = new NamedMoniker(nullptr);
      return S_OK;
  }
  return E_FAIL;
}

STDMETHODIMP TestSite::GetContainer(IOleContainer** container) {
  *container = nullptr;
  return E_NOINTERFACE;
}

}  // namespace ruzazuv::wine_test

// Registers the module from the build tree, on the simulated card, with the allocation spy in
// place before any test runs.
int main(int argc, char** argv) {
  using namespace ruzazuv::wine_test;
  testing::InitGoogleTest(&argc, argv);
  SetEnvironmentVariableW(L"RUZAZUV_PCSC", L"simulated:" RUZAZUV_PROFILE_PATH);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  if (FAILED(CoRegisterMallocSpy(&spy))) return 3;
  // BSTRs freed must be freed at once for the count to see them.
  using SetOaNoCacheFunction = void(WINAPI*)();
  if (auto noCache = reinterpret_cast<SetOaNoCacheFunction>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "SetOaNoCache"))))
    noCache();
  loadedModule = LoadLibraryW(RUZAZUV_MODULE_PATH);
  if (loadedModule == nullptr) {
    fprintf(stderr, "cannot load %ls\n", RUZAZUV_MODULE_PATH);
    return 4;
  }
  auto registerServer = reinterpret_cast<DllFunction>(
      reinterpret_cast<void*>(GetProcAddress(loadedModule, "DllRegisterServer")));
  if (registerServer == nullptr || FAILED(registerServer())) {
    fprintf(stderr, "DllRegisterServer failed\n");
    return 5;
  }
  const int result = RUN_ALL_TESTS();
  CoRevokeMallocSpy();
  CoUninitialize();
  return result;
}
