// In-place activation as the container chooses: windowless when the site offers it, else in a
// visible child window of the site's window that clips its siblings and children.
#include <gtest/gtest.h>

#include "com_harness.h"

namespace ruzazuv::wine_test {
namespace {

// A site that offers windowless activation or only windowed activation in `parent`.
class InPlaceSite final : public IOleClientSite, public IOleInPlaceSiteWindowless {
 public:
  InPlaceSite(HWND parent, bool windowless) : parent_(parent), windowless_(windowless) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
      *out = static_cast<IOleClientSite*>(this);
    } else if (IsEqualIID(iid, IID_IOleInPlaceSite) || IsEqualIID(iid, IID_IOleWindow) ||
               (windowless_ && (IsEqualIID(iid, IID_IOleInPlaceSiteEx) ||
                                IsEqualIID(iid, IID_IOleInPlaceSiteWindowless)))) {
      *out = static_cast<IOleInPlaceSiteWindowless*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs_); }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return S_OK; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    *moniker = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    *container = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow, IOleInPlaceSite
  STDMETHODIMP GetWindow(HWND* window) override {
    *window = parent_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override {
    ++activations;
    return S_OK;
  }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO) override {
    *frame = nullptr;
    *document = nullptr;
    *position = RECT{10, 20, 110, 70};
    *clip = *position;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override {
    ++deactivations;
    return S_OK;
  }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceSiteEx, IOleInPlaceSiteWindowless
  STDMETHODIMP OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) override {
    if (noRedraw != nullptr) *noRedraw = FALSE;
    windowlessActivation = (flags & ACTIVATE_WINDOWLESS) != 0;
    ++activations;
    return S_OK;
  }
  STDMETHODIMP OnInPlaceDeactivateEx(BOOL) override {
    ++deactivations;
    return S_OK;
  }
  STDMETHODIMP RequestUIActivate() override { return S_OK; }
  STDMETHODIMP CanWindowlessActivate() override { return S_OK; }
  STDMETHODIMP GetCapture() override { return S_FALSE; }
  STDMETHODIMP SetCapture(BOOL) override { return S_OK; }
  STDMETHODIMP GetFocus() override { return S_FALSE; }
  STDMETHODIMP SetFocus(BOOL) override { return S_OK; }
  STDMETHODIMP GetDC(LPCRECT, DWORD, HDC* dc) override {
    *dc = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP ReleaseDC(HDC) override { return E_NOTIMPL; }
  STDMETHODIMP InvalidateRect(LPCRECT, BOOL) override { return S_OK; }
  STDMETHODIMP InvalidateRgn(HRGN, BOOL) override { return S_OK; }
  STDMETHODIMP ScrollRect(INT, INT, LPCRECT, LPCRECT) override { return E_NOTIMPL; }
  STDMETHODIMP AdjustRect(LPRECT) override { return S_OK; }
  STDMETHODIMP OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) override {
    *result = 0;
    return S_OK;
  }

  int activations = 0;
  int deactivations = 0;
  bool windowlessActivation = false;

 private:
  long refs_ = 1;
  HWND parent_;
  bool windowless_;
};

HWND makeParent() {
  return CreateWindowExW(0, L"STATIC", L"container", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr,
                         nullptr, GetModuleHandleW(nullptr), nullptr);
}

TEST(InPlace, WithoutAWindowWhenTheSiteIsWindowless) {
  HWND parent = makeParent();  // none without a display: a windowless control needs none
  InPlaceSite site(parent, true);
  {
    Ptr<IVorn> control = createControl();
    Ptr<IOleObject> object;
    ASSERT_EQ(control->QueryInterface(IID_IOleObject, object.outVoid()), S_OK);
    ASSERT_EQ(object->SetClientSite(&site), S_OK);
    RECT position{10, 20, 110, 70};
    EXPECT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, parent, &position), S_OK);
    EXPECT_EQ(site.activations, 1);
    EXPECT_TRUE(site.windowlessActivation);
    Ptr<IOleInPlaceObjectWindowless> inPlace;
    ASSERT_EQ(control->QueryInterface(IID_IOleInPlaceObjectWindowless, inPlace.outVoid()), S_OK);
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL);
    EXPECT_EQ(window, nullptr);
    LRESULT result = 1;
    EXPECT_EQ(inPlace->OnWindowMessage(WM_KEYDOWN, 'A', 0, &result), S_FALSE);
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(site.deactivations, 1);
    object->SetClientSite(nullptr);
  }
  if (parent != nullptr) DestroyWindow(parent);
}

TEST(InPlace, InAVisibleChildWindowOtherwise) {
  HWND parent = makeParent();
  if (parent == nullptr) GTEST_SKIP() << "no display to make windows on (run under Xvfb)";
  InPlaceSite site(parent, false);
  {
    Ptr<IVorn> control = createControl();
    Ptr<IOleObject> object;
    ASSERT_EQ(control->QueryInterface(IID_IOleObject, object.outVoid()), S_OK);
    ASSERT_EQ(object->SetClientSite(&site), S_OK);
    RECT position{10, 20, 110, 70};
    EXPECT_EQ(object->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, parent, &position), S_OK);
    EXPECT_EQ(site.activations, 1);
    Ptr<IOleInPlaceObject> inPlace;
    ASSERT_EQ(control->QueryInterface(IID_IOleInPlaceObject, inPlace.outVoid()), S_OK);
    HWND window = nullptr;
    ASSERT_EQ(inPlace->GetWindow(&window), S_OK);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(GetParent(window), parent);
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    const LONG wanted = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    EXPECT_EQ(style & wanted, wanted);
    RECT moved{5, 5, 55, 35};
    EXPECT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 50);
    EXPECT_EQ(client.bottom, 30);
    // A second activation reuses the window.
    EXPECT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, parent, &position), S_OK);
    EXPECT_EQ(site.activations, 1);
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(site.deactivations, 1);
    object->SetClientSite(nullptr);
  }
  DestroyWindow(parent);
}

}  // namespace
}  // namespace ruzazuv::wine_test
