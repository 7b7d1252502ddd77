// The COM face of CardControl (coclass Vorn): IVorn and IDispatch on the embedded type library,
// the interfaces a container uses to host a windowless, invisible control, persistence of the
// extent, object safety and the site check that approves the hosting page.
//
// Every IVorn entry forwards to CardControl by DISPID; the entries are generated from the
// member list, as the type library is.
#pragma once

#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>
#include <oleidl.h>
#include <windows.h>

#include <memory>

#include "control/card_control.h"
#include "control/member_list.h"
#include "ruzazuv_idl.h"
#include "ui/dialog_host.h"

namespace ruzazuv::com {

class ModulePlatform;

// 0x00020191: recompose on resize, can't link inside, inside-out, activate when visible, set
// client site first.
inline constexpr DWORD kVornMiscStatus = 131473;
// Two inches square in 0.01 mm.
inline constexpr LONG kVornExtent = 5080;

// IPersistStreamInit data: a format number, then _cx and _cy as unsigned 32-bit values.
inline constexpr DWORD kPersistFormat = 1;

class VornControl final : public IVorn,
                          public IViewObjectEx,
                          public IOleInPlaceObjectWindowless,
                          public IOleInPlaceActiveObject,
                          public IOleControl,
                          public IOleObject,
                          public IPersistStreamInit,
                          public ISpecifyPropertyPages,
                          public IQuickActivate,
                          public IPersistStorage,
                          public IDataObject,
                          public IProvideClassInfo2,
                          public IObjectSafety {
 public:
  // The class object's instance creator (no aggregation).
  static HRESULT create(IUnknown* outer, REFIID iid, void** out);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* badArgument) override;

  // IVorn: one entry per method, a get and a put per property.
#define RUZAZUV_VORN_DECLARE_Method(name) STDMETHODIMP name(LONG* ret) override;
#define RUZAZUV_VORN_DECLARE_String(name)        \
  STDMETHODIMP get_##name(BSTR* value) override; \
  STDMETHODIMP put_##name(BSTR value) override;
#define RUZAZUV_VORN_DECLARE_Long(name)          \
  STDMETHODIMP get_##name(LONG* value) override; \
  STDMETHODIMP put_##name(LONG value) override;
#define RUZAZUV_VORN_DECLARE_Short(name)          \
  STDMETHODIMP get_##name(SHORT* value) override; \
  STDMETHODIMP put_##name(SHORT value) override;
#define RUZAZUV_VORN_DECLARE(id, name, kind) RUZAZUV_VORN_DECLARE_##kind(name)
  RUZAZUV_IVORN_MEMBERS(RUZAZUV_VORN_DECLARE)
#undef RUZAZUV_VORN_DECLARE
#undef RUZAZUV_VORN_DECLARE_Method
#undef RUZAZUV_VORN_DECLARE_String
#undef RUZAZUV_VORN_DECLARE_Long
#undef RUZAZUV_VORN_DECLARE_Short

  // IViewObject, IViewObject2, IViewObjectEx
  STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                    HDC targetDevice, HDC draw, LPCRECTL bounds, LPCRECTL wBounds,
                    BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR), ULONG_PTR contArg) override;
  STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                           HDC targetDevice, LOGPALETTE** colours) override;
  STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) override;
  STDMETHODIMP Unfreeze(DWORD freeze) override;
  STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;
  STDMETHODIMP GetRect(DWORD aspect, LPRECTL rect) override;
  STDMETHODIMP GetViewStatus(DWORD* status) override;
  STDMETHODIMP QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG closeHint,
                             DWORD* hit) override;
  STDMETHODIMP QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG closeHint,
                            DWORD* hit) override;
  STDMETHODIMP GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, HDC targetDevice,
                                DVEXTENTINFO* info, LPSIZEL size) override;

  // IOleWindow, IOleInPlaceObject, IOleInPlaceObjectWindowless
  STDMETHODIMP GetWindow(HWND* window) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;
  STDMETHODIMP InPlaceDeactivate() override;
  STDMETHODIMP UIDeactivate() override;
  STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
  STDMETHODIMP ReactivateAndUndo() override;
  STDMETHODIMP OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam,
                               LRESULT* result) override;
  STDMETHODIMP GetDropTarget(IDropTarget** target) override;

  // IOleInPlaceActiveObject
  STDMETHODIMP TranslateAccelerator(LPMSG message) override;
  STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
  STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
  STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) override;
  STDMETHODIMP EnableModeless(BOOL enable) override;

  // IOleControl
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
  STDMETHODIMP OnMnemonic(MSG* message) override;
  STDMETHODIMP OnAmbientPropertyChange(DISPID id) override;
  STDMETHODIMP FreezeEvents(BOOL freeze) override;

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP GetClientSite(IOleClientSite** site) override;
  STDMETHODIMP SetHostNames(LPCOLESTR application, LPCOLESTR document) override;
  STDMETHODIMP Close(DWORD saveOption) override;
  STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
  STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
  STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG message, IOleClientSite* activeSite, LONG index, HWND parent,
                      LPCRECT position) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
  STDMETHODIMP Update() override;
  STDMETHODIMP IsUpToDate() override;
  STDMETHODIMP GetUserClassID(CLSID* clsid) override;
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
  STDMETHODIMP Unadvise(DWORD connection) override;
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override;
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
  STDMETHODIMP SetColorScheme(LOGPALETTE* palette) override;

  // IPersist, IPersistStreamInit, IPersistStorage
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(LPSTREAM stream) override;
  STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  STDMETHODIMP InitNew() override;
  STDMETHODIMP InitNew(IStorage* storage) override;
  STDMETHODIMP Load(IStorage* storage) override;
  STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) override;
  STDMETHODIMP SaveCompleted(IStorage* storage) override;
  STDMETHODIMP HandsOffStorage() override;

  // ISpecifyPropertyPages
  STDMETHODIMP GetPages(CAUUID* pages) override;

  // IQuickActivate
  STDMETHODIMP QuickActivate(QACONTAINER* container, QACONTROL* control) override;
  STDMETHODIMP SetContentExtent(LPSIZEL size) override;
  STDMETHODIMP GetContentExtent(LPSIZEL size) override;

  // IDataObject
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP QueryGetData(FORMATETC* format) override;
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override;
  STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
  STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override;
  STDMETHODIMP DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink,
                       DWORD* connection) override;
  STDMETHODIMP DUnadvise(DWORD connection) override;
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA** advise) override;

  // IProvideClassInfo, IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

  // IObjectSafety
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override;
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enable) override;

 private:
  VornControl(ModulePlatform& platform, ITypeInfo* vornInfo, ITypeInfo* classInfo);
  ~VornControl();
  VornControl(const VornControl&) = delete;
  VornControl& operator=(const VornControl&) = delete;

  // Dispatch by DISPID to the core.
  HRESULT callMethod(int dispid, LONG* ret);
  HRESULT getString(int dispid, BSTR* value);
  HRESULT putString(int dispid, BSTR value);
  HRESULT getInteger(int dispid, LONG* value);
  HRESULT putInteger(int dispid, LONG value);
  HRESULT getShort(int dispid, SHORT* value);

  // SiteApproval: the address of the page that holds `site`, from the container's moniker.
  void approveSite(IOleClientSite* site);
  // In-place activation as the container offers it: windowless when the site supports it,
  // else in a child window of the site's.
  HRESULT inPlaceActivate(LONG verb, LPCRECT position);
  HRESULT createWindow(HWND parent, const RECT& position);
  void destroyWindow();
  void setExtent(SIZEL size);
  void viewChanged();

  volatile LONG refs_ = 0;
  std::unique_ptr<DialogHost> dialogs_;  // outlives the control that shows its dialogs
  std::unique_ptr<CardControl> control_;
  ITypeInfo* vornInfo_;   // IVorn
  ITypeInfo* classInfo_;  // coclass Vorn

  IOleClientSite* site_ = nullptr;
  IOleInPlaceSite* inPlaceSite_ = nullptr;
  IOleInPlaceSiteWindowless* windowlessSite_ = nullptr;  // set while active without a window
  IOleAdviseHolder* oleAdvise_ = nullptr;
  IDataAdviseHolder* dataAdvise_ = nullptr;
  IAdviseSink* viewSink_ = nullptr;
  DWORD viewAspects_ = 0;
  DWORD viewFlags_ = 0;
  HWND window_ = nullptr;
  bool inPlaceActive_ = false;
  bool uiActive_ = false;
  RECT position_{};
  SIZEL extent_{kVornExtent, kVornExtent};
  bool dirty_ = false;
  LONG frozenEvents_ = 0;
  DWORD safety_ = 0;
};

}  // namespace ruzazuv::com
