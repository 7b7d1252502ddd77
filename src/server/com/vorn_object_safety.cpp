// IObjectSafety: safe for scripting through IDispatch, safe for initialisation through the
// persistence interfaces; options once enabled stay enabled.
#include "vorn_control.h"

namespace ruzazuv::com {
namespace {

bool isPersistence(REFIID iid) {
  return IsEqualIID(iid, IID_IPersistStreamInit) || IsEqualIID(iid, IID_IPersistStorage) ||
         IsEqualIID(iid, IID_IPersistPropertyBag);
}

}  // namespace

STDMETHODIMP VornControl::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) {
  if (supported == nullptr || enabled == nullptr) return E_POINTER;
  IUnknown* probe = nullptr;
  const HRESULT has = QueryInterface(iid, reinterpret_cast<void**>(&probe));
  if (FAILED(has)) return has;
  probe->Release();
  if (IsEqualIID(iid, IID_IDispatch)) {
    *supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
    *enabled = safety_ & INTERFACESAFE_FOR_UNTRUSTED_CALLER;
    return S_OK;
  }
  if (isPersistence(iid)) {
    *supported = INTERFACESAFE_FOR_UNTRUSTED_DATA;
    *enabled = safety_ & INTERFACESAFE_FOR_UNTRUSTED_DATA;
    return S_OK;
  }
  *supported = 0;
  *enabled = 0;
  return E_FAIL;
}

STDMETHODIMP VornControl::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enable) {
  IUnknown* probe = nullptr;
  const HRESULT has = QueryInterface(iid, reinterpret_cast<void**>(&probe));
  if (FAILED(has)) return has;
  probe->Release();
  safety_ |= mask & enable;
  if (IsEqualIID(iid, IID_IDispatch) && (safety_ & INTERFACESAFE_FOR_UNTRUSTED_CALLER) != 0)
    return S_OK;
  if (isPersistence(iid) && (safety_ & INTERFACESAFE_FOR_UNTRUSTED_DATA) != 0) return S_OK;
  return E_FAIL;
}

}  // namespace ruzazuv::com
