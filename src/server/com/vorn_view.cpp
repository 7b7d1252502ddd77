// VornControl's presentation: it draws nothing in its area, reports its extent, offers no data
// formats and no property pages, and describes its class through the type library.
#include "vorn_control.h"

namespace ruzazuv::com {

// --- IViewObject, IViewObject2, IViewObjectEx --------------------------------------------------

STDMETHODIMP VornControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC draw,
                               LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                               ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT && aspect != DVASPECT_OPAQUE && aspect != DVASPECT_TRANSPARENT)
    return DV_E_DVASPECT;
  if (draw == nullptr) return E_INVALIDARG;
  // Windowless containers pass no bounds; the control's area is then its position.
  if (bounds == nullptr && !inPlaceActive_) return E_INVALIDARG;
  return S_OK;  // nothing to paint
}

STDMETHODIMP VornControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                      LOGPALETTE** colours) {
  if (colours != nullptr) *colours = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::Freeze(DWORD, LONG, void*, DWORD*) {
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::Unfreeze(DWORD) {
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  if (sink != nullptr) sink->AddRef();
  if (viewSink_ != nullptr) viewSink_->Release();
  viewSink_ = sink;
  viewAspects_ = aspects;
  viewFlags_ = flags;
  return S_OK;
}

STDMETHODIMP VornControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects != nullptr) *aspects = viewAspects_;
  if (flags != nullptr) *flags = viewFlags_;
  if (sink != nullptr) {
    *sink = viewSink_;
    if (viewSink_ != nullptr) viewSink_->AddRef();
  }
  return S_OK;
}

STDMETHODIMP VornControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

STDMETHODIMP VornControl::GetRect(DWORD, LPRECTL) {
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::GetViewStatus(DWORD* status) {
  if (status == nullptr) return E_POINTER;
  *status = VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_OPAQUE;
  return S_OK;
}

STDMETHODIMP VornControl::QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG,
                                        DWORD* hit) {
  if (bounds == nullptr || hit == nullptr) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return E_FAIL;
  *hit = PtInRect(bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
  return S_OK;
}

STDMETHODIMP VornControl::QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG,
                                       DWORD* hit) {
  if (bounds == nullptr || location == nullptr || hit == nullptr) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return E_FAIL;
  RECT common{};
  *hit = IntersectRect(&common, bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
  return S_OK;
}

STDMETHODIMP VornControl::GetNaturalExtent(DWORD aspect, LONG, DVTARGETDEVICE*, HDC,
                                           DVEXTENTINFO* info, LPSIZEL size) {
  if (info == nullptr || size == nullptr) return E_POINTER;
  if (aspect != DVASPECT_CONTENT || info->dwExtentMode != DVEXTENT_CONTENT) return E_NOTIMPL;
  size->cx = kVornExtent;
  size->cy = kVornExtent;
  return S_OK;
}

// --- IDataObject: no formats; advise connections are kept for the container -------------------

STDMETHODIMP VornControl::GetData(FORMATETC*, STGMEDIUM*) {
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::GetDataHere(FORMATETC*, STGMEDIUM*) {
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::QueryGetData(FORMATETC*) {
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) {
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::SetData(FORMATETC*, STGMEDIUM*, BOOL) {
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::EnumFormatEtc(DWORD, IEnumFORMATETC** formats) {
  if (formats != nullptr) *formats = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP VornControl::DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink,
                                  DWORD* connection) {
  if (connection == nullptr) return E_POINTER;
  *connection = 0;
  if (dataAdvise_ == nullptr) {
    const HRESULT hr = CreateDataAdviseHolder(&dataAdvise_);
    if (FAILED(hr)) return hr;
  }
  return dataAdvise_->Advise(static_cast<IDataObject*>(this), format, flags, sink, connection);
}

STDMETHODIMP VornControl::DUnadvise(DWORD connection) {
  if (dataAdvise_ == nullptr) return OLE_E_NOCONNECTION;
  return dataAdvise_->Unadvise(connection);
}

STDMETHODIMP VornControl::EnumDAdvise(IEnumSTATDATA** advise) {
  if (advise == nullptr) return E_POINTER;
  *advise = nullptr;
  if (dataAdvise_ == nullptr) return E_FAIL;
  return dataAdvise_->EnumAdvise(advise);
}

// --- IProvideClassInfo, IProvideClassInfo2 -----------------------------------------------------

STDMETHODIMP VornControl::GetClassInfo(ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  classInfo_->AddRef();
  *info = classInfo_;
  return S_OK;
}

// The control fires no events: there is no default source interface to name.
STDMETHODIMP VornControl::GetGUID(DWORD, GUID* guid) {
  if (guid == nullptr) return E_POINTER;
  *guid = GUID_NULL;
  return E_FAIL;
}

// --- ISpecifyPropertyPages ---------------------------------------------------------------------

STDMETHODIMP VornControl::GetPages(CAUUID* pages) {
  if (pages == nullptr) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = nullptr;
  return S_OK;
}

}  // namespace ruzazuv::com
