// IDispatch on the type library: the library against the member list, every DISPID reached
// through Invoke, the dispatch errors of bad calls, and no BSTR left behind.
#include <gtest/gtest.h>

#include <cwctype>
#include <map>
#include <string>
#include <vector>

#include "com_harness.h"
#include "control/member_list.h"

namespace ruzazuv::wine_test {
namespace {

enum class Kind { kMethod, kString, kLong, kShort };

struct Member {
  int dispid;
  std::wstring name;
  Kind kind;
};

const std::vector<Member>& members() {
  static const std::vector<Member> list = {
#define RUZAZUV_TEST_MEMBER(id, name, kind) {id, L## #name, Kind::k##kind},
      RUZAZUV_IVORN_MEMBERS(RUZAZUV_TEST_MEMBER)
#undef RUZAZUV_TEST_MEMBER
  };
  return list;
}

VARTYPE typeOf(Kind kind) {
  switch (kind) {
    case Kind::kString:
      return VT_BSTR;
    case Kind::kShort:
      return VT_I2;
    case Kind::kMethod:
    case Kind::kLong:
      break;
  }
  return VT_I4;
}

std::wstring upper(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towupper(c));
  return s;
}

struct FunctionSeen {
  INVOKEKIND invoke;
  std::wstring help;
  std::wstring parameter;
  VARTYPE type;  // what the parameter points to (get, method) or is (put)
  bool retval;
  SHORT vtableSlot;
};

TEST(TypeLibrary, DescribesEveryMemberOfTheList) {
  Ptr<IVorn> control = createControl();
  ASSERT_TRUE(control);
  Ptr<ITypeInfo> dispatchInfo;
  ASSERT_EQ(control->GetTypeInfo(0, 0, dispatchInfo.out()), S_OK);
  // The vtable view of the dual interface.
  HREFTYPE ref = 0;
  ASSERT_EQ(dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
  Ptr<ITypeInfo> info;
  ASSERT_EQ(dispatchInfo->GetRefTypeInfo(ref, info.out()), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
  EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
  const UINT count = attributes->cFuncs;
  info->ReleaseTypeAttr(attributes);
  EXPECT_EQ(count, 170u);

  std::map<int, std::vector<FunctionSeen>> seen;
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
    FunctionSeen s{f->invkind, L"", L"", VT_EMPTY, false, f->oVft};
    BSTR help = nullptr;
    info->GetDocumentation(f->memid, nullptr, &help, nullptr, nullptr);
    s.help = take(help);
    BSTR names[2] = {};
    UINT got = 0;
    info->GetNames(f->memid, names, 2, &got);
    if (got == 2) s.parameter = take(names[1]);
    if (got >= 1) take(names[0]);
    EXPECT_EQ(f->cParams, 1) << "function " << i;
    if (f->cParams == 1) {
      const ELEMDESC& p = f->lprgelemdescParam[0];
      s.retval = (p.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) != 0;
      s.type = p.tdesc.vt == VT_PTR ? p.tdesc.lptdesc->vt : p.tdesc.vt;
    }
    seen[f->memid].push_back(s);
    info->ReleaseFuncDesc(f);
  }

  // After IUnknown and IDispatch: each member in DISPID order, a get before its put.
  SHORT slot = 7 * static_cast<SHORT>(sizeof(void*));
  for (const Member& m : members()) {
    SCOPED_TRACE(std::string(m.name.begin(), m.name.end()));
    const std::vector<FunctionSeen>& f = seen[m.dispid];
    const std::wstring help = (m.kind == Kind::kMethod ? L"method " : L"property ") + m.name;
    if (m.kind == Kind::kMethod) {
      ASSERT_EQ(f.size(), 1u);
      EXPECT_EQ(f[0].invoke, INVOKE_FUNC);
      EXPECT_EQ(f[0].parameter, L"ret");
      EXPECT_TRUE(f[0].retval);
      EXPECT_EQ(f[0].type, VT_I4);
      EXPECT_EQ(f[0].help, help);
      EXPECT_EQ(f[0].vtableSlot, slot);
      slot = static_cast<SHORT>(slot + sizeof(void*));
      continue;
    }
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].invoke, INVOKE_PROPERTYGET);
    EXPECT_EQ(f[0].parameter, L"pVal");
    EXPECT_TRUE(f[0].retval);
    EXPECT_EQ(f[1].invoke, INVOKE_PROPERTYPUT);
    EXPECT_FALSE(f[1].retval);
    for (const FunctionSeen& one : f) {
      EXPECT_EQ(one.type, typeOf(m.kind));
      EXPECT_EQ(one.help, help);
      EXPECT_EQ(one.vtableSlot, slot);
      slot = static_cast<SHORT>(slot + sizeof(void*));
    }
  }
}

TEST(Dispatch, NamesMatchWithoutRegardToCase) {
  Ptr<IVorn> control = createControl();
  for (const Member& m : members()) {
    for (std::wstring name : {m.name, upper(m.name)}) {
      LPOLESTR names[] = {name.data()};
      DISPID id = 0;
      EXPECT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK)
          << std::string(name.begin(), name.end());
      EXPECT_EQ(id, m.dispid);
    }
  }
  std::wstring unknown = L"NoSuchMember";
  LPOLESTR names[] = {unknown.data()};
  DISPID id = 0;
  EXPECT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  EXPECT_EQ(control->GetIDsOfNames(IID_IDispatch, names, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);
}

// Invoke with the arguments in script order (DISPPARAMS holds them reversed; one is enough).
HRESULT invoke(IDispatch* d, DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result,
               UINT* badArgument = nullptr) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{args.empty() ? nullptr : args.data(),
                    (flags & DISPATCH_PROPERTYPUT) != 0 ? &named : nullptr,
                    static_cast<UINT>(args.size()), (flags & DISPATCH_PROPERTYPUT) != 0 ? 1u : 0u};
  UINT argument = 0;
  if (result != nullptr) VariantInit(result);
  return d->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr,
                   badArgument != nullptr ? badArgument : &argument);
}

VARIANT bstrVariant(const std::wstring& s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return v;
}

VARIANT intVariant(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

VARIANT typedVariant(VARTYPE type) {
  VARIANT v;
  VariantInit(&v);
  v.vt = type;
  return v;
}

// Reads a property through Invoke as a script does.
VARIANT get(IDispatch* d, DISPID id) {
  VARIANT result;
  EXPECT_EQ(invoke(d, id, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, &result), S_OK) << id;
  return result;
}

std::wstring getText(IDispatch* d, DISPID id) {
  VARIANT v = get(d, id);
  EXPECT_EQ(v.vt, VT_BSTR);
  std::wstring s = v.vt == VT_BSTR && v.bstrVal != nullptr ? std::wstring(v.bstrVal) : L"";
  VariantClear(&v);
  return s;
}

HRESULT put(IDispatch* d, DISPID id, VARIANT value, UINT* badArgument = nullptr) {
  const HRESULT hr = invoke(d, id, DISPATCH_PROPERTYPUT, {value}, nullptr, badArgument);
  VariantClear(&value);
  return hr;
}

// Members whose put is not stored as given: the PIN block, the padded amount and merchant,
// the read-only-in-effect ones and the mapped codes.
bool storesAsGiven(const std::wstring& name) {
  for (const wchar_t* special : {L"Pin", L"money", L"MerchantID", L"SupportURL",
                                 L"isPullPlugReader", L"iDisConnectType", L"iResetType"})
    if (name == special) return false;
  return true;
}

TEST(Dispatch, EveryPropertyIsReadAndWrittenAndEveryMethodCalled) {
  Ptr<IVorn> control = createControl();
  IDispatch* d = control.get();
  for (const Member& m : members()) {
    if (m.kind == Kind::kMethod) continue;
    SCOPED_TRACE(std::string(m.name.begin(), m.name.end()));
    VARIANT before = get(d, m.dispid);
    EXPECT_EQ(before.vt, typeOf(m.kind));
    VariantClear(&before);
    const bool text = m.kind == Kind::kString;
    const std::wstring written = L"T" + std::to_wstring(m.dispid);
    EXPECT_EQ(put(d, m.dispid, text ? bstrVariant(written) : intVariant(m.dispid + 1000)), S_OK);
    if (!storesAsGiven(m.name)) continue;
    VARIANT after = get(d, m.dispid);
    if (text) {
      EXPECT_EQ(after.vt == VT_BSTR ? std::wstring(after.bstrVal) : L"?", written);
    } else {
      VARIANT asLong;
      VariantInit(&asLong);
      ASSERT_EQ(VariantChangeType(&asLong, &after, 0, VT_I4), S_OK);
      EXPECT_EQ(asLong.lVal, m.dispid + 1000);
    }
    VariantClear(&after);
  }
  // Nothing connected: every method answers through ret, never through the HRESULT.
  for (const Member& m : members()) {
    if (m.kind != Kind::kMethod) continue;
    VARIANT ret;
    EXPECT_EQ(invoke(d, m.dispid, DISPATCH_METHOD, {}, &ret), S_OK)
        << std::string(m.name.begin(), m.name.end());
    EXPECT_EQ(ret.vt, VT_I4);
  }
}

TEST(Dispatch, BadCallsGetTheDispatchErrors) {
  Ptr<IVorn> control = createControl();
  IDispatch* d = control.get();
  const DISPID connectReader = 1;
  const DISPID iNoR = 3;
  const DISPID caReader1 = 4;
  const DISPID bPq = 40;
  VARIANT result;
  struct Case {
    const char* what;
    DISPID id;
    WORD flags;
    std::vector<VARIANT> args;
    HRESULT expected;
  };
  std::vector<Case> cases = {
      {"unknown DISPID", 97, DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND},
      {"DISPID 0", 0, DISPATCH_PROPERTYGET, {}, DISP_E_MEMBERNOTFOUND},
      {"method with an argument",
       connectReader,
       DISPATCH_METHOD,
       {intVariant(1)},
       DISP_E_BADPARAMCOUNT},
      {"string where ret is expected",
       connectReader,
       DISPATCH_METHOD,
       {bstrVariant(L"ret")},
       DISP_E_BADPARAMCOUNT},
      // An argument to a property read would index the value, which is no collection.
      {"property read with an argument",
       iNoR,
       DISPATCH_PROPERTYGET,
       {intVariant(1)},
       DISP_E_NOTACOLLECTION},
      {"property written with two values",
       iNoR,
       DISPATCH_PROPERTYPUT,
       {intVariant(1), intVariant(2)},
       DISP_E_BADPARAMCOUNT},
      {"method written as a property",
       connectReader,
       DISPATCH_PROPERTYPUT,
       {intVariant(1)},
       DISP_E_MEMBERNOTFOUND},
      {"text into an integer property",
       iNoR,
       DISPATCH_PROPERTYPUT,
       {bstrVariant(L"many")},
       DISP_E_TYPEMISMATCH},
      {"null into a text property",
       caReader1,
       DISPATCH_PROPERTYPUT,
       {typedVariant(VT_NULL)},
       DISP_E_TYPEMISMATCH},
      {"a 16-bit property out of range",
       bPq,
       DISPATCH_PROPERTYPUT,
       {intVariant(70000)},
       DISP_E_OVERFLOW},
  };
  for (Case& c : cases) {
    EXPECT_EQ(invoke(d, c.id, c.flags, c.args, &result), c.expected) << c.what;
    VariantClear(&result);
    for (VARIANT& v : c.args) VariantClear(&v);
  }
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  UINT argument = 0;
  EXPECT_EQ(d->Invoke(connectReader, IID_IDispatch, 0, DISPATCH_METHOD, &none, &result, nullptr,
                      &argument),
            DISP_E_UNKNOWNINTERFACE);
  // A refused put leaves the value as it was.
  EXPECT_EQ(getText(d, caReader1), L"");
  EXPECT_EQ(put(d, caReader1, bstrVariant(L"kept")), S_OK);
  EXPECT_EQ(put(d, caReader1, typedVariant(VT_NULL)), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(getText(d, caReader1), L"kept");
}

TEST(Dispatch, TextValuesEndAtTheirFirstZeroAndEmptyIsEmpty) {
  Ptr<IVorn> control = createControl();
  IDispatch* d = control.get();
  const DISPID remark = 37;
  EXPECT_EQ(put(d, remark, bstrVariant(std::wstring(L"ab\0cd", 5))), S_OK);
  EXPECT_EQ(getText(d, remark), L"ab");
  EXPECT_EQ(put(d, remark, typedVariant(VT_EMPTY)), S_OK);
  EXPECT_EQ(getText(d, remark), L"");
  // A null BSTR through the vtable stores an absent value, which reads as a null string.
  EXPECT_EQ(control->put_Remark(nullptr), S_OK);
  BSTR value = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(control->get_Remark(&value), S_OK);
  EXPECT_EQ(value, nullptr);
  // Null out-pointers are refused rather than written through.
  EXPECT_EQ(control->get_Remark(nullptr), E_POINTER);
  EXPECT_EQ(control->get_iNoR(nullptr), E_POINTER);
  EXPECT_EQ(control->ConnectReader(nullptr), E_POINTER);
}

// One round of what a page does: names, reads, writes and calls.
void pageRound(IVorn* control) {
  IDispatch* d = control;
  for (const Member& m : members()) {
    std::wstring name = m.name;
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    d->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (m.kind == Kind::kMethod) continue;
    VARIANT v = get(d, m.dispid);
    VariantClear(&v);
    put(d, m.dispid, m.kind == Kind::kString ? bstrVariant(L"0123456789") : intVariant(1));
  }
  VARIANT ret;
  invoke(d, 1, DISPATCH_METHOD, {}, &ret);  // ConnectReader
  invoke(d, 2, DISPATCH_METHOD, {}, &ret);  // ListReaders
  BSTR reader = nullptr;
  control->get_caReader1(&reader);
  control->put_baReaderName(reader);
  SysFreeString(reader);
  put(d, 94, typedVariant(VT_EMPTY));  // randomNumber
  put(d, 37, typedVariant(VT_NULL));   // refused: Remark stays
}

TEST(Dispatch, LeavesNoAllocationBehind) {
  // The count sees BSTRs at all, so that the check below can fail.
  const long start = liveAllocations();
  BSTR probe = SysAllocString(L"probe");
  ASSERT_EQ(liveAllocations(), start + 1) << "the allocation spy does not see BSTRs";
  SysFreeString(probe);
  ASSERT_EQ(liveAllocations(), start);

  Ptr<IVorn> control = createControl();
  pageRound(control.get());  // first use fills the library's caches
  TestSite bank(SiteMoniker::kUrl, L"https://ebank.ruzazuv.example/");
  Ptr<IOleObject> object;
  ASSERT_EQ(control->QueryInterface(IID_IOleObject, object.outVoid()), S_OK);
  object->SetClientSite(&bank);
  const long before = liveAllocations();
  for (int i = 0; i < 3; ++i) {
    pageRound(control.get());
    object->SetClientSite(&bank);  // a moniker and its display name each time
  }
  EXPECT_EQ(liveAllocations(), before);
  object->SetClientSite(nullptr);
}

}  // namespace
}  // namespace ruzazuv::wine_test
