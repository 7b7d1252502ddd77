// VornControl: creation, lifetime, interface identity, IDispatch and the IVorn entries.
#include "vorn_control.h"

#include <new>
#include <string>

#include "module_platform.h"
#include "module_server.h"
#ifdef RUZAZUV_WIN32_DIALOGS
#include "win32/win32_dialog_host.h"
#endif

namespace ruzazuv::com {
namespace {

// The module's type library, loaded from the module file itself (resource 1).
HRESULT loadTypeInfo(REFGUID guid, ITypeInfo** info) {
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(ModuleServer::instance().path().c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) return hr;
  hr = library->GetTypeInfoOfGuid(guid, info);
  library->Release();
  return hr;
}

template <typename Interface>
HRESULT answer(Interface* self, void** out) {
  *out = self;
  self->AddRef();
  return S_OK;
}

}  // namespace

HRESULT VornControl::create(IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  std::string error;
  ModulePlatform* platform = modulePlatform(&error);
  if (platform == nullptr) {
    OutputDebugStringA(("RuzaZUV: " + error + "\n").c_str());
    return kBadPcscChoice;
  }
  ITypeInfo* vornInfo = nullptr;
  ITypeInfo* classInfo = nullptr;
  HRESULT hr = loadTypeInfo(IID_IVorn, &vornInfo);
  if (SUCCEEDED(hr)) hr = loadTypeInfo(CLSID_Vorn, &classInfo);
  if (FAILED(hr)) {
    if (vornInfo != nullptr) vornInfo->Release();
    return hr;
  }
  VornControl* control = nullptr;
  try {
    control = new VornControl(*platform, vornInfo, classInfo);
  } catch (const std::bad_alloc&) {
    vornInfo->Release();
    classInfo->Release();
    return E_OUTOFMEMORY;
  }
  control->AddRef();
  hr = control->QueryInterface(iid, out);
  control->Release();
  return hr;
}

VornControl::VornControl(ModulePlatform& platform, ITypeInfo* vornInfo, ITypeInfo* classInfo)
    : vornInfo_(vornInfo), classInfo_(classInfo) {
  ControlServices services = platform.services();
#ifdef RUZAZUV_WIN32_DIALOGS
  // The dialogs come from the module's templates; message boxes belong to the control's window
  // while it has one.
  dialogs_ = makeWin32DialogHost(ModuleServer::instance().handle(), [this] { return window_; });
  services.dialogs = dialogs_.get();
#endif
  control_ = std::make_unique<CardControl>(services, platform.process());
  if (platform.pageAddress()) control_->setClientSite(platform.pageAddress());
  ModuleServer::instance().lock();
}

VornControl::~VornControl() {
  InPlaceDeactivate();
  destroyWindow();
  if (viewSink_ != nullptr) viewSink_->Release();
  if (oleAdvise_ != nullptr) oleAdvise_->Release();
  if (dataAdvise_ != nullptr) dataAdvise_->Release();
  if (site_ != nullptr) site_->Release();
  vornInfo_->Release();
  classInfo_->Release();
  control_.reset();
  ModuleServer::instance().unlock();
}

// The interfaces in the order they are asked for most; where several reach one base
// (IDispatch, IOleWindow, IPersist, IViewObject), the first listed owns it.
STDMETHODIMP VornControl::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IVorn) || IsEqualIID(iid, IID_IDispatch))
    return answer(static_cast<IVorn*>(this), out);
  if (IsEqualIID(iid, IID_IViewObjectEx) || IsEqualIID(iid, IID_IViewObject2) ||
      IsEqualIID(iid, IID_IViewObject))
    return answer(static_cast<IViewObjectEx*>(this), out);
  if (IsEqualIID(iid, IID_IOleInPlaceObjectWindowless) || IsEqualIID(iid, IID_IOleInPlaceObject) ||
      IsEqualIID(iid, IID_IOleWindow))
    return answer(static_cast<IOleInPlaceObjectWindowless*>(this), out);
  if (IsEqualIID(iid, IID_IOleInPlaceActiveObject))
    return answer(static_cast<IOleInPlaceActiveObject*>(this), out);
  if (IsEqualIID(iid, IID_IOleControl)) return answer(static_cast<IOleControl*>(this), out);
  if (IsEqualIID(iid, IID_IOleObject)) return answer(static_cast<IOleObject*>(this), out);
  if (IsEqualIID(iid, IID_IPersistStreamInit) || IsEqualIID(iid, IID_IPersist))
    return answer(static_cast<IPersistStreamInit*>(this), out);
  if (IsEqualIID(iid, IID_ISpecifyPropertyPages))
    return answer(static_cast<ISpecifyPropertyPages*>(this), out);
  if (IsEqualIID(iid, IID_IQuickActivate)) return answer(static_cast<IQuickActivate*>(this), out);
  if (IsEqualIID(iid, IID_IPersistStorage)) return answer(static_cast<IPersistStorage*>(this), out);
  if (IsEqualIID(iid, IID_IDataObject)) return answer(static_cast<IDataObject*>(this), out);
  if (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2))
    return answer(static_cast<IProvideClassInfo2*>(this), out);
  if (IsEqualIID(iid, IID_IObjectSafety)) return answer(static_cast<IObjectSafety*>(this), out);
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) VornControl::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&refs_));
}

STDMETHODIMP_(ULONG) VornControl::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

// --- IDispatch ---------------------------------------------------------------------------------

STDMETHODIMP VornControl::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP VornControl::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  vornInfo_->AddRef();
  *info = vornInfo_;
  return S_OK;
}

STDMETHODIMP VornControl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                        DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  return DispGetIDsOfNames(vornInfo_, names, count, ids);
}

STDMETHODIMP VornControl::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* exception, UINT* badArgument) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (params == nullptr) return E_INVALIDARG;
  // A put takes exactly its one value (some type-library implementations ignore the rest).
  if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0 && params->cArgs > 1)
    return DISP_E_BADPARAMCOUNT;
  return DispInvoke(static_cast<IVorn*>(this), vornInfo_, id, flags, params, result, exception,
                    badArgument);
}

// --- IVorn -------------------------------------------------------------------------------------

HRESULT VornControl::callMethod(int dispid, LONG* ret) {
  if (ret == nullptr) return E_POINTER;
  std::int32_t value = 0;
  HResult hr = hresult::kOk;
  // Nothing may be thrown across the interface.
  try {
    hr = control_->invoke(dispid, &value);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
  if (hr != hresult::kOk) return static_cast<HRESULT>(hr);
  *ret = value;
  return S_OK;
}

HRESULT VornControl::getString(int dispid, BSTR* value) {
  if (value == nullptr) return E_POINTER;
  *value = nullptr;
  PropertyValue v;
  const HResult hr = control_->getProperty(dispid, &v);
  if (hr != hresult::kOk) return static_cast<HRESULT>(hr);
  const auto& text = std::get<std::optional<std::u16string>>(v);
  if (!text) return S_OK;  // an absent value is a null string
  *value = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text->data()),
                             static_cast<UINT>(text->size()));
  return *value != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT VornControl::putString(int dispid, BSTR value) {
  std::optional<std::u16string> text;
  if (value != nullptr) {
    // Up to the first zero character, which the control stores as the end of the text.
    const auto* chars = reinterpret_cast<const char16_t*>(value);
    std::size_t length = 0;
    const std::size_t limit = SysStringLen(value);
    while (length < limit && chars[length] != 0) ++length;
    try {
      text.emplace(chars, length);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  return static_cast<HRESULT>(control_->putProperty(dispid, text));
}

HRESULT VornControl::getInteger(int dispid, LONG* value) {
  if (value == nullptr) return E_POINTER;
  PropertyValue v;
  const HResult hr = control_->getProperty(dispid, &v);
  if (hr != hresult::kOk) return static_cast<HRESULT>(hr);
  *value = std::get<std::int32_t>(v);
  return S_OK;
}

HRESULT VornControl::putInteger(int dispid, LONG value) {
  return static_cast<HRESULT>(control_->putProperty(dispid, static_cast<std::int32_t>(value)));
}

HRESULT VornControl::getShort(int dispid, SHORT* value) {
  if (value == nullptr) return E_POINTER;
  LONG wide = 0;
  const HRESULT hr = getInteger(dispid, &wide);
  if (SUCCEEDED(hr)) *value = static_cast<SHORT>(wide);
  return hr;
}

#define RUZAZUV_VORN_DEFINE_Method(id, name)  \
  STDMETHODIMP VornControl::name(LONG* ret) { \
    return callMethod(id, ret);               \
  }
#define RUZAZUV_VORN_DEFINE_String(id, name)          \
  STDMETHODIMP VornControl::get_##name(BSTR* value) { \
    return getString(id, value);                      \
  }                                                   \
  STDMETHODIMP VornControl::put_##name(BSTR value) {  \
    return putString(id, value);                      \
  }
#define RUZAZUV_VORN_DEFINE_Long(id, name)            \
  STDMETHODIMP VornControl::get_##name(LONG* value) { \
    return getInteger(id, value);                     \
  }                                                   \
  STDMETHODIMP VornControl::put_##name(LONG value) {  \
    return putInteger(id, value);                     \
  }
#define RUZAZUV_VORN_DEFINE_Short(id, name)            \
  STDMETHODIMP VornControl::get_##name(SHORT* value) { \
    return getShort(id, value);                        \
  }                                                    \
  STDMETHODIMP VornControl::put_##name(SHORT value) {  \
    return putInteger(id, value);                      \
  }
#define RUZAZUV_VORN_DEFINE(id, name, kind) RUZAZUV_VORN_DEFINE_##kind(id, name)
RUZAZUV_IVORN_MEMBERS(RUZAZUV_VORN_DEFINE)
#undef RUZAZUV_VORN_DEFINE
#undef RUZAZUV_VORN_DEFINE_Method
#undef RUZAZUV_VORN_DEFINE_String
#undef RUZAZUV_VORN_DEFINE_Long
#undef RUZAZUV_VORN_DEFINE_Short

}  // namespace ruzazuv::com
