// The module as a container sees it: the interfaces of the control, the class object, the
// module's lifetime, the site check, object safety, persistence of the extent, presentation.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "com_harness.h"

namespace ruzazuv::wine_test {
namespace {

struct NamedIid {
  const char* name;
  const IID* iid;
};

// The interfaces the control answers to.
const std::vector<NamedIid> kInterfaces = {
    {"IVorn", &IID_IVorn},
    {"IDispatch", &IID_IDispatch},
    {"IViewObjectEx", &IID_IViewObjectEx},
    {"IViewObject2", &IID_IViewObject2},
    {"IViewObject", &IID_IViewObject},
    {"IOleInPlaceObjectWindowless", &IID_IOleInPlaceObjectWindowless},
    {"IOleInPlaceObject", &IID_IOleInPlaceObject},
    {"IOleWindow", &IID_IOleWindow},
    {"IOleInPlaceActiveObject", &IID_IOleInPlaceActiveObject},
    {"IOleControl", &IID_IOleControl},
    {"IOleObject", &IID_IOleObject},
    {"IPersistStreamInit", &IID_IPersistStreamInit},
    {"IPersist", &IID_IPersist},
    {"ISpecifyPropertyPages", &IID_ISpecifyPropertyPages},
    {"IQuickActivate", &IID_IQuickActivate},
    {"IPersistStorage", &IID_IPersistStorage},
    {"IDataObject", &IID_IDataObject},
    {"IProvideClassInfo", &IID_IProvideClassInfo},
    {"IProvideClassInfo2", &IID_IProvideClassInfo2},
    {"IObjectSafety", &IID_IObjectSafety},
};

IUnknown* identity(IUnknown* p) {
  IUnknown* unknown = nullptr;
  EXPECT_EQ(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  if (unknown != nullptr) unknown->Release();
  return unknown;
}

template <typename T>
Ptr<T> query(IUnknown* p, REFIID iid) {
  Ptr<T> result;
  EXPECT_EQ(p->QueryInterface(iid, result.outVoid()), S_OK);
  return result;
}

TEST(Interfaces, EachAnswersAndRoundTripsToEveryOther) {
  Ptr<IVorn> control = createControl();
  ASSERT_TRUE(control);
  IUnknown* self = identity(control.get());
  for (const NamedIid& from : kInterfaces) {
    Ptr<IUnknown> p;
    ASSERT_EQ(control->QueryInterface(*from.iid, p.outVoid()), S_OK) << from.name;
    ASSERT_TRUE(p) << from.name;
    EXPECT_EQ(identity(p.get()), self) << from.name;
    for (const NamedIid& to : kInterfaces) {
      Ptr<IUnknown> q;
      EXPECT_EQ(p->QueryInterface(*to.iid, q.outVoid()), S_OK) << from.name << " -> " << to.name;
    }
  }
}

// Where one implementation serves a base and its derived interfaces, the pointers agree.
TEST(Interfaces, BasesShareTheirDerivedInterface) {
  Ptr<IVorn> control = createControl();
  ASSERT_TRUE(control);
  const std::vector<std::pair<const IID*, const IID*>> same = {
      {&IID_IDispatch, &IID_IVorn},
      {&IID_IViewObject2, &IID_IViewObjectEx},
      {&IID_IViewObject, &IID_IViewObjectEx},
      {&IID_IOleInPlaceObject, &IID_IOleInPlaceObjectWindowless},
      {&IID_IOleWindow, &IID_IOleInPlaceObjectWindowless},
      {&IID_IPersist, &IID_IPersistStreamInit},
      {&IID_IProvideClassInfo, &IID_IProvideClassInfo2},
  };
  for (const auto& [base, derived] : same) {
    Ptr<IUnknown> a = query<IUnknown>(control.get(), *base);
    Ptr<IUnknown> b = query<IUnknown>(control.get(), *derived);
    EXPECT_EQ(a.get(), b.get());
  }
}

TEST(Interfaces, OthersAreRefusedWithTheOutPointerCleared) {
  Ptr<IVorn> control = createControl();
  ASSERT_TRUE(control);
  for (const IID* iid : {&IID_IPersistPropertyBag, &IID_IConnectionPointContainer,
                         &IID_IClassFactory, &IID_IOleCache}) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(control->QueryInterface(*iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(control->QueryInterface(IID_IDispatch, nullptr), E_POINTER);
}

TEST(ClassObject, OnlyTheControlsClassIsServed) {
  GetClassObjectFunction get = getClassObject();
  ASSERT_NE(get, nullptr);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(get(IID_IDispatch, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(get(CLSID_Vorn, IID_IClassFactory, nullptr), E_POINTER);

  Ptr<IClassFactory> factory;
  ASSERT_EQ(get(CLSID_Vorn, IID_IClassFactory, factory.outVoid()), S_OK);
  Ptr<IClassFactory> again;
  ASSERT_EQ(get(CLSID_Vorn, IID_IClassFactory, again.outVoid()), S_OK);
  EXPECT_EQ(factory.get(), again.get()) << "the class object is made once and kept";

  Ptr<IVorn> host = createControl();
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(host.get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  Ptr<IVorn> made;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IVorn, made.outVoid()), S_OK);
  EXPECT_TRUE(made);
}

TEST(Module, StaysLoadedWhileAControlOrAServerLockLives) {
  DllFunction unload = canUnloadNow();
  ASSERT_NE(unload, nullptr);
  ASSERT_EQ(unload(), S_OK) << "no control alive when the case starts";
  {
    Ptr<IVorn> first = createControl();
    Ptr<IVorn> second = createControl();
    EXPECT_EQ(unload(), S_FALSE);
    first.reset();
    EXPECT_EQ(unload(), S_FALSE) << "one control is still alive";
  }
  EXPECT_EQ(unload(), S_OK);

  Ptr<IClassFactory> factory;
  ASSERT_EQ(getClassObject()(CLSID_Vorn, IID_IClassFactory, factory.outVoid()), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(unload(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(unload(), S_OK);
}

// --- SiteApproval --------------------------------------------------------------------------

std::wstring supportUrl(IVorn* control) {
  BSTR value = nullptr;
  EXPECT_EQ(control->get_SupportURL(&value), S_OK);
  return take(value);
}

void site(IVorn* control, TestSite& clientSite) {
  Ptr<IOleObject> object = query<IOleObject>(control, IID_IOleObject);
  ASSERT_EQ(object->SetClientSite(&clientSite), S_OK);
}

struct SiteCase {
  SiteMoniker moniker;
  const wchar_t* address;
  const wchar_t* supportUrl;
};

TEST(SiteApproval, ThePageAddressMustStartWithTheBanksSite) {
  const std::vector<SiteCase> cases = {
      {SiteMoniker::kUrl, L"https://ebank.ruzazuv.example/login.html", L"0"},
      {SiteMoniker::kUrl, L"https://ebank.ruzazuv.example/", L"0"},
      {SiteMoniker::kUrl, L"HTTPS://EBANK.RuzaZUV.Example/Login", L"0"},
      // Letters of the address in any case, whatever the URL moniker makes of them.
      {SiteMoniker::kVerbatim, L"HTTPS://EBANK.RuzaZUV.Example/Login", L"0"},
      {SiteMoniker::kVerbatim, L"https://ebank.ruzazuv.exampl", L"-1"},
      {SiteMoniker::kVerbatim, L"", L"-1"},
      {SiteMoniker::kUrl, L"https://ebank.ruzazuv.example.evil.example/", L"-1"},
      {SiteMoniker::kUrl, L"http://ebank.ruzazuv.example/", L"-1"},
      {SiteMoniker::kUrl, L"https://other.example/ebank.ruzazuv.example/", L"-1"},
      {SiteMoniker::kNone, L"", L"-1"},
      {SiteMoniker::kNoDisplayName, L"", L"-1"},
  };
  for (const SiteCase& c : cases) {
    Ptr<IVorn> control = createControl();
    ASSERT_TRUE(control);
    EXPECT_EQ(supportUrl(control.get()), L"-1");
    TestSite clientSite(c.moniker, c.address);
    site(control.get(), clientSite);
    EXPECT_EQ(supportUrl(control.get()), c.supportUrl) << c.address;
    EXPECT_EQ(clientSite.monikerRequests, 1);
    EXPECT_EQ(clientSite.lastAssign, static_cast<DWORD>(OLEGETMONIKER_TEMPFORUSER));
    EXPECT_EQ(clientSite.lastWhich, static_cast<DWORD>(OLEWHICHMK_CONTAINER));
  }
}

TEST(SiteApproval, IsNeverWithdrawnOrWrittenFromScript) {
  Ptr<IVorn> control = createControl();
  ASSERT_TRUE(control);
  Bstr zero(L"0");
  EXPECT_EQ(control->put_SupportURL(zero.get()), S_OK);
  EXPECT_EQ(supportUrl(control.get()), L"-1") << "a put changes nothing";

  TestSite bank(SiteMoniker::kUrl, L"https://ebank.ruzazuv.example/");
  site(control.get(), bank);
  ASSERT_EQ(supportUrl(control.get()), L"0");
  TestSite elsewhere(SiteMoniker::kUrl, L"https://elsewhere.example/");
  site(control.get(), elsewhere);
  EXPECT_EQ(supportUrl(control.get()), L"0");
  Ptr<IOleObject> object = query<IOleObject>(control.get(), IID_IOleObject);
  EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
  EXPECT_EQ(supportUrl(control.get()), L"0");
  Bstr minusOne(L"-1");
  EXPECT_EQ(control->put_SupportURL(minusOne.get()), S_OK);
  EXPECT_EQ(supportUrl(control.get()), L"0");
}

TEST(SiteApproval, TheSiteIsHeldAndHandedBack) {
  Ptr<IVorn> control = createControl();
  TestSite clientSite(SiteMoniker::kNone, L"");
  site(control.get(), clientSite);
  Ptr<IOleObject> object = query<IOleObject>(control.get(), IID_IOleObject);
  Ptr<IOleClientSite> back;
  ASSERT_EQ(object->GetClientSite(back.out()), S_OK);
  EXPECT_EQ(back.get(), &clientSite);
  back.reset();
  EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
  ASSERT_EQ(object->GetClientSite(back.out()), S_OK);
  EXPECT_EQ(back.get(), nullptr);
}

// --- IObjectSafety -------------------------------------------------------------------------

struct SafetyCase {
  const char* name;
  const IID* iid;
  HRESULT getResult;
  DWORD supported;
  DWORD setBits;  // mask and enable of the set
  HRESULT setResult;
  DWORD enabledAfter;
};

TEST(ObjectSafety, ScriptingThroughIDispatchInitialisationThroughPersistence) {
  // Each case runs on a fresh control: options once enabled stay for the object's life.
  const std::vector<SafetyCase> cases = {
      {"IDispatch", &IID_IDispatch, S_OK, INTERFACESAFE_FOR_UNTRUSTED_CALLER, 0x1, S_OK, 0x1},
      {"IDispatch data bit", &IID_IDispatch, S_OK, 0x1, 0x2, E_FAIL, 0x0},
      {"IPersistStreamInit", &IID_IPersistStreamInit, S_OK, INTERFACESAFE_FOR_UNTRUSTED_DATA, 0x2,
       S_OK, 0x2},
      {"IPersistStorage", &IID_IPersistStorage, S_OK, 0x2, 0x3, S_OK, 0x2},
      {"IPersistStorage caller bit", &IID_IPersistStorage, S_OK, 0x2, 0x1, E_FAIL, 0x0},
      {"IOleObject", &IID_IOleObject, E_FAIL, 0x0, 0x3, E_FAIL, 0x0},
      {"IPersistPropertyBag (not offered)", &IID_IPersistPropertyBag, E_NOINTERFACE, 0x0, 0x2,
       E_NOINTERFACE, 0x0},
  };
  for (const SafetyCase& c : cases) {
    Ptr<IVorn> control = createControl();
    Ptr<IObjectSafety> safety = query<IObjectSafety>(control.get(), IID_IObjectSafety);
    DWORD supported = 99;
    DWORD enabled = 99;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(*c.iid, &supported, &enabled), c.getResult)
        << c.name;
    if (c.getResult != E_NOINTERFACE) {
      EXPECT_EQ(supported, c.supported) << c.name;
      EXPECT_EQ(enabled, 0u) << c.name;
    }
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(*c.iid, c.setBits, c.setBits), c.setResult)
        << c.name;
    if (c.getResult != E_NOINTERFACE) {
      EXPECT_EQ(safety->GetInterfaceSafetyOptions(*c.iid, &supported, &enabled), c.getResult);
      EXPECT_EQ(enabled, c.enabledAfter) << c.name;
    }
  }
}

TEST(ObjectSafety, OptionsAreSharedAcrossInterfacesAndNeverCleared) {
  Ptr<IVorn> control = createControl();
  Ptr<IObjectSafety> safety = query<IObjectSafety>(control.get(), IID_IObjectSafety);
  // Enabling through one persistence interface enables for the others.
  ASSERT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistStreamInit, 0x2, 0x2), S_OK);
  DWORD supported = 0;
  DWORD enabled = 0;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IPersistStorage, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 0x2u);
  // A set with the bit in the mask but not in enable does not clear it.
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistStreamInit, 0x2, 0x0), S_OK);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IPersistStreamInit, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 0x2u);
  // The data bit set earlier makes a later IDispatch set with only that bit fail still.
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 0x1, 0x0), E_FAIL);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 0x0u);
}

// --- Persistence of the extent --------------------------------------------------------------

SIZEL extentOf(IVorn* control) {
  Ptr<IOleObject> object = query<IOleObject>(control, IID_IOleObject);
  SIZEL size{};
  EXPECT_EQ(object->GetExtent(DVASPECT_CONTENT, &size), S_OK);
  return size;
}

void setExtent(IVorn* control, LONG cx, LONG cy) {
  Ptr<IOleObject> object = query<IOleObject>(control, IID_IOleObject);
  SIZEL size{cx, cy};
  ASSERT_EQ(object->SetExtent(DVASPECT_CONTENT, &size), S_OK);
}

TEST(Persistence, TheExtentTravelsThroughAStream) {
  Ptr<IVorn> source = createControl();
  Ptr<IPersistStreamInit> persist = query<IPersistStreamInit>(source.get(), IID_IPersistStreamInit);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  setExtent(source.get(), 1234, 4321);
  EXPECT_EQ(persist->IsDirty(), S_OK);

  Ptr<IStream> stream;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.out()), S_OK);
  ULARGE_INTEGER max{};
  ASSERT_EQ(persist->GetSizeMax(&max), S_OK);
  ASSERT_EQ(persist->Save(stream.get(), TRUE), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  STATSTG stat{};
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, max.QuadPart);
  EXPECT_EQ(stat.cbSize.QuadPart, 12u) << "a format number, _cx and _cy";

  Ptr<IVorn> target = createControl();
  Ptr<IPersistStreamInit> load = query<IPersistStreamInit>(target.get(), IID_IPersistStreamInit);
  LARGE_INTEGER start{};
  ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(load->Load(stream.get()), S_OK);
  const SIZEL loaded = extentOf(target.get());
  EXPECT_EQ(loaded.cx, 1234);
  EXPECT_EQ(loaded.cy, 4321);
}

TEST(Persistence, AShortOrForeignStreamChangesNothing) {
  const std::vector<std::vector<DWORD>> streams = {{1, 100}, {}, {7, 100, 200}};
  for (const std::vector<DWORD>& words : streams) {
    Ptr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.out()), S_OK);
    if (!words.empty()) {
      ASSERT_EQ(
          stream->Write(words.data(), static_cast<ULONG>(words.size() * sizeof(DWORD)), nullptr),
          S_OK);
    }
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    Ptr<IVorn> control = createControl();
    Ptr<IPersistStreamInit> load = query<IPersistStreamInit>(control.get(), IID_IPersistStreamInit);
    EXPECT_TRUE(FAILED(load->Load(stream.get()))) << words.size() << " words";
    const SIZEL size = extentOf(control.get());
    EXPECT_EQ(size.cx, 5080);
    EXPECT_EQ(size.cy, 5080);
  }
}

TEST(Persistence, TheExtentTravelsThroughAStorage) {
  Ptr<ILockBytes> bytes;
  ASSERT_EQ(CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.out()), S_OK);
  Ptr<IStorage> storage;
  ASSERT_EQ(StgCreateDocfileOnILockBytes(
                bytes.get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage.out()),
            S_OK);
  Ptr<IVorn> source = createControl();
  setExtent(source.get(), 777, 888);
  Ptr<IPersistStorage> save = query<IPersistStorage>(source.get(), IID_IPersistStorage);
  ASSERT_EQ(save->Save(storage.get(), TRUE), S_OK);
  EXPECT_EQ(save->SaveCompleted(nullptr), S_OK);

  Ptr<IVorn> target = createControl();
  Ptr<IPersistStorage> load = query<IPersistStorage>(target.get(), IID_IPersistStorage);
  ASSERT_EQ(load->Load(storage.get()), S_OK);
  const SIZEL size = extentOf(target.get());
  EXPECT_EQ(size.cx, 777);
  EXPECT_EQ(size.cy, 888);
}

// --- Presentation -------------------------------------------------------------------------

TEST(Presentation, InvisibleTwoInchesSquareAndPaintsNothing) {
  Ptr<IVorn> control = createControl();
  Ptr<IOleObject> object = query<IOleObject>(control.get(), IID_IOleObject);
  DWORD status = 0;
  EXPECT_EQ(object->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
  EXPECT_EQ(status, 131473u);
  const SIZEL size = extentOf(control.get());
  EXPECT_EQ(size.cx, 5080);
  EXPECT_EQ(size.cy, 5080);
  CLSID clsid{};
  EXPECT_EQ(object->GetUserClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Vorn));

  // Draw on a white bitmap: it succeeds and leaves every pixel white.
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 32, 32);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all{0, 0, 32, 32};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  Ptr<IViewObject> view = query<IViewObject>(control.get(), IID_IViewObject);
  RECTL bounds{0, 0, 32, 32};
  EXPECT_EQ(
      view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
      S_OK);
  int painted = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      if ((GetPixel(dc, x, y) & 0xFFFFFF) != 0xFFFFFF) ++painted;
  EXPECT_EQ(painted, 0);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);

  Ptr<IQuickActivate> quick = query<IQuickActivate>(control.get(), IID_IQuickActivate);
  TestSite clientSite(SiteMoniker::kUrl, L"https://ebank.ruzazuv.example/");
  QACONTAINER container{};
  container.cbSize = sizeof(container);
  container.pClientSite = &clientSite;
  QACONTROL answer{};
  answer.cbSize = sizeof(answer);
  EXPECT_EQ(quick->QuickActivate(&container, &answer), S_OK);
  EXPECT_EQ(answer.dwMiscStatus, 131473u);
  EXPECT_EQ(supportUrl(control.get()), L"0") << "quick activation sites the control too";

  Ptr<ISpecifyPropertyPages> pages =
      query<ISpecifyPropertyPages>(control.get(), IID_ISpecifyPropertyPages);
  CAUUID none{};
  EXPECT_EQ(pages->GetPages(&none), S_OK);
  EXPECT_EQ(none.cElems, 0u);

  Ptr<IProvideClassInfo2> info = query<IProvideClassInfo2>(control.get(), IID_IProvideClassInfo2);
  Ptr<ITypeInfo> coclass;
  ASSERT_EQ(info->GetClassInfo(coclass.out()), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, CLSID_Vorn));
  coclass->ReleaseTypeAttr(attributes);
  GUID source = CLSID_Vorn;
  EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), E_FAIL) << "no events";
  EXPECT_TRUE(IsEqualGUID(source, GUID_NULL));
}

// --- Resources ------------------------------------------------------------------------------

std::wstring versionString(const std::vector<BYTE>& block, const wchar_t* name) {
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || value == nullptr)
    return L"<missing>";
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(Resources, TheModuleCarriesItsVersionPictureNameAndScripts) {
  const WORD chineseTraditional = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);
  struct Resource {
    const wchar_t* type;
    const wchar_t* name;
  };
  for (const Resource& r :
       {Resource{L"REGISTRY", MAKEINTRESOURCEW(102)}, Resource{L"TYPELIB", MAKEINTRESOURCEW(1)},
        Resource{RT_BITMAP, MAKEINTRESOURCEW(101)}, Resource{RT_VERSION, MAKEINTRESOURCEW(1)}})
    EXPECT_NE(FindResourceExW(module(), r.type, r.name, chineseTraditional), nullptr)
        << "resource " << reinterpret_cast<std::uintptr_t>(r.name) << " in language 1028";

  wchar_t name[32] = {};
  EXPECT_GT(LoadStringW(module(), 100, name, 32), 0);
  EXPECT_STREQ(name, L"RuzaZUV");

  HBITMAP picture = static_cast<HBITMAP>(
      LoadImageW(module(), MAKEINTRESOURCEW(101), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  ASSERT_NE(picture, nullptr);
  DIBSECTION dib{};
  ASSERT_EQ(GetObjectW(picture, sizeof(dib), &dib), static_cast<int>(sizeof(dib)));
  EXPECT_EQ(dib.dsBmih.biWidth, 16);
  EXPECT_EQ(dib.dsBmih.biHeight, 16);
  EXPECT_EQ(dib.dsBmih.biBitCount, 4) << "16 colours";
  DeleteObject(picture);

  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module(), path, MAX_PATH);
  DWORD handle = 0;
  std::vector<BYTE> block(GetFileVersionInfoSizeW(path, &handle));
  ASSERT_FALSE(block.empty());
  ASSERT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(block.size()), block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00010005u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00010005u);
  EXPECT_EQ(versionString(block, L"FileDescription"), L"RuzaZUV Module");
  EXPECT_EQ(versionString(block, L"ProductName"), L"RuzaZUV Module");
  EXPECT_EQ(versionString(block, L"InternalName"), L"RuzaZUV");
  EXPECT_EQ(versionString(block, L"OriginalFilename"), L"RuzaZUV.DLL");
  EXPECT_EQ(versionString(block, L"OLESelfRegister"), L"");
}

}  // namespace
}  // namespace ruzazuv::wine_test
