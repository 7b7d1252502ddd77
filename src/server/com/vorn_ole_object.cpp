// VornControl as an embedded object: the client site and SiteApproval, verbs and in-place
// activation with or without a window of its own, the extent, advise sinks, IOleControl and
// IQuickActivate.
#include <string>

#include "module_server.h"
#include "vorn_control.h"

namespace ruzazuv::com {
namespace {

constexpr wchar_t kWindowClass[] = L"RuzaZUVVornWindow";

// The control's own window draws nothing: its background is the button face.
ATOM registerWindowClass() {
  static const ATOM atom = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = ModuleServer::instance().handle();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    return RegisterClassExW(&wc);
  }();
  return atom;
}

template <typename T>
void releaseInto(T*& slot, T* value) {
  if (value != nullptr) value->AddRef();
  if (slot != nullptr) slot->Release();
  slot = value;
}

}  // namespace

// --- SiteApproval ------------------------------------------------------------------------------

void VornControl::approveSite(IOleClientSite* site) {
  IMoniker* moniker = nullptr;
  if (FAILED(site->GetMoniker(OLEGETMONIKER_TEMPFORUSER, OLEWHICHMK_CONTAINER, &moniker)) ||
      moniker == nullptr)
    return;
  IBindCtx* context = nullptr;
  LPOLESTR name = nullptr;
  if (SUCCEEDED(CreateBindCtx(0, &context))) {
    if (SUCCEEDED(moniker->GetDisplayName(context, nullptr, &name)) && name != nullptr) {
      try {
        control_->setClientSite(std::u16string(reinterpret_cast<const char16_t*>(name)));
      } catch (...) {
        // Without memory for the address the page stays unapproved.
      }
      CoTaskMemFree(name);
    }
    context->Release();
  }
  moniker->Release();
}

// --- IOleObject --------------------------------------------------------------------------------

STDMETHODIMP VornControl::SetClientSite(IOleClientSite* site) {
  if (site != nullptr) approveSite(site);
  releaseInto(site_, site);
  return S_OK;
}

STDMETHODIMP VornControl::GetClientSite(IOleClientSite** site) {
  if (site == nullptr) return E_POINTER;
  *site = site_;
  if (site_ != nullptr) site_->AddRef();
  return S_OK;
}

STDMETHODIMP VornControl::SetHostNames(LPCOLESTR, LPCOLESTR) {
  return S_OK;
}

STDMETHODIMP VornControl::Close(DWORD saveOption) {
  InPlaceDeactivate();
  if (dirty_ && site_ != nullptr &&
      (saveOption == OLECLOSE_SAVEIFDIRTY || saveOption == OLECLOSE_PROMPTSAVE))
    site_->SaveObject();
  if (oleAdvise_ != nullptr) oleAdvise_->SendOnClose();
  return S_OK;
}

STDMETHODIMP VornControl::SetMoniker(DWORD, IMoniker*) {
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker != nullptr) *moniker = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::InitFromData(IDataObject*, BOOL, DWORD) {
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::GetClipboardData(DWORD, IDataObject** data) {
  if (data != nullptr) *data = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND,
                                 LPCRECT position) {
  if (site_ == nullptr && activeSite != nullptr) SetClientSite(activeSite);
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
      return inPlaceActivate(verb, position);
    case OLEIVERB_HIDE:
      UIDeactivate();
      if (window_ != nullptr) ShowWindow(window_, SW_HIDE);
      return S_OK;
    case OLEIVERB_OPEN:
    case OLEIVERB_PROPERTIES:
    case OLEIVERB_DISCARDUNDOSTATE:
      return S_OK;  // no separate window, no property pages, no undo state
    default:
      if (verb > 0) {
        // An unknown positive verb runs the primary one.
        const HRESULT hr = inPlaceActivate(OLEIVERB_PRIMARY, position);
        return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
      }
      return E_NOTIMPL;
  }
}

STDMETHODIMP VornControl::EnumVerbs(IEnumOLEVERB** verbs) {
  if (verbs == nullptr) return E_POINTER;
  return OleRegEnumVerbs(CLSID_Vorn, verbs);
}

STDMETHODIMP VornControl::Update() {
  return S_OK;
}

STDMETHODIMP VornControl::IsUpToDate() {
  return S_OK;
}

STDMETHODIMP VornControl::GetUserClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = CLSID_Vorn;
  return S_OK;
}

STDMETHODIMP VornControl::GetUserType(DWORD form, LPOLESTR* type) {
  if (type == nullptr) return E_POINTER;
  return OleRegGetUserType(CLSID_Vorn, form, type);
}

STDMETHODIMP VornControl::SetExtent(DWORD aspect, SIZEL* size) {
  if (size == nullptr) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  setExtent(*size);
  return S_OK;
}

STDMETHODIMP VornControl::GetExtent(DWORD aspect, SIZEL* size) {
  if (size == nullptr) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return E_FAIL;
  *size = extent_;
  return S_OK;
}

STDMETHODIMP VornControl::Advise(IAdviseSink* sink, DWORD* connection) {
  if (connection == nullptr) return E_POINTER;
  *connection = 0;
  if (oleAdvise_ == nullptr) {
    const HRESULT hr = CreateOleAdviseHolder(&oleAdvise_);
    if (FAILED(hr)) return hr;
  }
  return oleAdvise_->Advise(sink, connection);
}

STDMETHODIMP VornControl::Unadvise(DWORD connection) {
  if (oleAdvise_ == nullptr) return OLE_E_NOCONNECTION;
  return oleAdvise_->Unadvise(connection);
}

STDMETHODIMP VornControl::EnumAdvise(IEnumSTATDATA** advise) {
  if (advise == nullptr) return E_POINTER;
  *advise = nullptr;
  if (oleAdvise_ == nullptr) return E_FAIL;
  return oleAdvise_->EnumAdvise(advise);
}

STDMETHODIMP VornControl::GetMiscStatus(DWORD, DWORD* status) {
  if (status == nullptr) return E_POINTER;
  *status = kVornMiscStatus;
  return S_OK;
}

STDMETHODIMP VornControl::SetColorScheme(LOGPALETTE*) {
  return E_NOTIMPL;
}

void VornControl::setExtent(SIZEL size) {
  if (size.cx == extent_.cx && size.cy == extent_.cy) return;
  extent_ = size;
  dirty_ = true;
  viewChanged();
}

void VornControl::viewChanged() {
  if (viewSink_ != nullptr && (viewAspects_ & DVASPECT_CONTENT) != 0)
    viewSink_->OnViewChange(DVASPECT_CONTENT, -1);
}

// --- In-place activation -----------------------------------------------------------------------

HRESULT VornControl::inPlaceActivate(LONG verb, LPCRECT position) {
  if (site_ == nullptr) return E_UNEXPECTED;
  if (!inPlaceActive_) {
    IOleInPlaceSite* site = nullptr;
    if (FAILED(site_->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site))))
      return OLEOBJ_S_CANNOT_DOVERB_NOW;
    IOleInPlaceSiteWindowless* windowless = nullptr;
    site->QueryInterface(IID_IOleInPlaceSiteWindowless, reinterpret_cast<void**>(&windowless));
    if (windowless != nullptr && windowless->CanWindowlessActivate() != S_OK) {
      windowless->Release();
      windowless = nullptr;
    }
    if (site->CanInPlaceActivate() != S_OK) {
      if (windowless != nullptr) windowless->Release();
      site->Release();
      return E_FAIL;
    }
    HRESULT hr = windowless != nullptr
                     ? windowless->OnInPlaceActivateEx(nullptr, ACTIVATE_WINDOWLESS)
                     : site->OnInPlaceActivate();
    if (FAILED(hr)) {
      if (windowless != nullptr) windowless->Release();
      site->Release();
      return hr;
    }
    inPlaceSite_ = site;
    windowlessSite_ = windowless;
    inPlaceActive_ = true;

    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = nullptr;
    RECT clip{};
    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof(frameInfo);
    hr = site->GetWindowContext(&frame, &document, &position_, &clip, &frameInfo);
    if (frame != nullptr) frame->Release();
    if (document != nullptr) document->Release();
    if (position != nullptr) position_ = *position;
    if (windowless == nullptr) {
      HWND parent = nullptr;
      if (FAILED(site->GetWindow(&parent)) || parent == nullptr) {
        InPlaceDeactivate();
        return E_FAIL;
      }
      hr = createWindow(parent, position_);
      if (FAILED(hr)) {
        InPlaceDeactivate();
        return hr;
      }
    }
  }
  if (window_ != nullptr) ShowWindow(window_, SW_SHOW);
  if (verb == OLEIVERB_UIACTIVATE && !uiActive_) {
    uiActive_ = true;
    inPlaceSite_->OnUIActivate();
    if (window_ != nullptr) SetFocus(window_);
  }
  return S_OK;
}

HRESULT VornControl::createWindow(HWND parent, const RECT& position) {
  if (registerWindowClass() == 0) return HRESULT_FROM_WIN32(GetLastError());
  window_ = CreateWindowExW(
      0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
      position.left, position.top, position.right - position.left, position.bottom - position.top,
      parent, nullptr, ModuleServer::instance().handle(), nullptr);
  return window_ != nullptr ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

void VornControl::destroyWindow() {
  if (window_ != nullptr) DestroyWindow(window_);
  window_ = nullptr;
}

STDMETHODIMP VornControl::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = window_;
  return window_ != nullptr ? S_OK : E_FAIL;
}

STDMETHODIMP VornControl::ContextSensitiveHelp(BOOL) {
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::InPlaceDeactivate() {
  if (!inPlaceActive_) return S_OK;
  UIDeactivate();
  inPlaceActive_ = false;
  destroyWindow();
  if (windowlessSite_ != nullptr) {
    windowlessSite_->OnInPlaceDeactivateEx(TRUE);
    windowlessSite_->Release();
    windowlessSite_ = nullptr;
  } else if (inPlaceSite_ != nullptr) {
    inPlaceSite_->OnInPlaceDeactivate();
  }
  if (inPlaceSite_ != nullptr) inPlaceSite_->Release();
  inPlaceSite_ = nullptr;
  return S_OK;
}

STDMETHODIMP VornControl::UIDeactivate() {
  if (!uiActive_) return S_OK;
  uiActive_ = false;
  if (inPlaceSite_ != nullptr) inPlaceSite_->OnUIDeactivate(FALSE);
  return S_OK;
}

STDMETHODIMP VornControl::SetObjectRects(LPCRECT position, LPCRECT) {
  if (position == nullptr) return E_POINTER;
  position_ = *position;
  if (window_ != nullptr)
    SetWindowPos(window_, nullptr, position->left, position->top, position->right - position->left,
                 position->bottom - position->top, SWP_NOZORDER | SWP_NOACTIVATE);
  return S_OK;
}

STDMETHODIMP VornControl::ReactivateAndUndo() {
  return E_NOTIMPL;
}

// The control draws nothing and takes no input, so no message concerns it.
STDMETHODIMP VornControl::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) {
  if (result != nullptr) *result = 0;
  return S_FALSE;
}

STDMETHODIMP VornControl::GetDropTarget(IDropTarget** target) {
  if (target == nullptr) return E_POINTER;
  *target = nullptr;
  return E_NOTIMPL;
}

// --- IOleInPlaceActiveObject -------------------------------------------------------------------

STDMETHODIMP VornControl::TranslateAccelerator(LPMSG) {
  return S_FALSE;
}

STDMETHODIMP VornControl::OnFrameWindowActivate(BOOL) {
  return S_OK;
}

STDMETHODIMP VornControl::OnDocWindowActivate(BOOL) {
  return S_OK;
}

STDMETHODIMP VornControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
  return S_OK;
}

STDMETHODIMP VornControl::EnableModeless(BOOL) {
  return S_OK;
}

// --- IOleControl -------------------------------------------------------------------------------

STDMETHODIMP VornControl::GetControlInfo(CONTROLINFO*) {
  return E_NOTIMPL;  // no mnemonics
}

STDMETHODIMP VornControl::OnMnemonic(MSG*) {
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::OnAmbientPropertyChange(DISPID) {
  return S_OK;
}

STDMETHODIMP VornControl::FreezeEvents(BOOL freeze) {
  if (freeze)
    ++frozenEvents_;
  else if (frozenEvents_ > 0)
    --frozenEvents_;
  return S_OK;
}

// --- IQuickActivate ----------------------------------------------------------------------------

STDMETHODIMP VornControl::QuickActivate(QACONTAINER* container, QACONTROL* control) {
  if (container == nullptr || control == nullptr) return E_POINTER;
  if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL))
    return E_INVALIDARG;
  // The site first, as OLEMISC_SETCLIENTSITEFIRST asks: SiteApproval runs here as well.
  SetClientSite(container->pClientSite);
  if (container->pAdviseSink != nullptr) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
  const ULONG size = control->cbSize;
  ZeroMemory(control, size);
  control->cbSize = size;
  control->dwMiscStatus = kVornMiscStatus;
  GetViewStatus(&control->dwViewStatus);
  return S_OK;
}

STDMETHODIMP VornControl::SetContentExtent(LPSIZEL size) {
  return SetExtent(DVASPECT_CONTENT, size);
}

STDMETHODIMP VornControl::GetContentExtent(LPSIZEL size) {
  return GetExtent(DVASPECT_CONTENT, size);
}

}  // namespace ruzazuv::com
