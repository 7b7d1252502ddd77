// Per-call time of a property get through IDispatch::Invoke on the module's control next to
// the same get on CardControl directly, in one run (run by hand under Wine:
// wine build/<tree>/tests/com_invoke_bench.exe). Not a test: it prints figures only.
#include <windows.h>

#include <cstdio>

#include "control/card_control.h"
#include "platform/clock.h"
#include "platform/text_codec.h"
#include "platform/winmm_timer.h"
#include "platform/winscard_pcsc.h"
#include "ruzazuv_idl.h"

namespace {

double seconds() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The best of five runs: the machine's other work only ever adds time.
template <typename Call>
double nanosecondsPerCall(int rounds, Call call) {
  for (int i = 0; i < rounds / 10; ++i) call();  // warm up
  double best = 1e300;
  for (int run = 0; run < 5; ++run) {
    const double start = seconds();
    for (int i = 0; i < rounds; ++i) call();
    const double perCall = (seconds() - start) * 1e9 / rounds;
    if (perCall < best) best = perCall;
  }
  return best;
}

}  // namespace

int main() {
  constexpr int kRounds = 200000;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HMODULE module = LoadLibraryW(RUZAZUV_MODULE_PATH);
  if (module == nullptr) return 1;
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  IDispatch* control = nullptr;
  if (get == nullptr ||
      FAILED(get(CLSID_Vorn, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
      FAILED(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&control))))
    return 2;

  ruzazuv::WinscardPcsc pcsc;
  ruzazuv::SystemClock clock;
  ruzazuv::WinmmTimer timer;
  ruzazuv::TextCodec codec;
  ruzazuv::ProcessState process;
  ruzazuv::CardControl direct({pcsc, clock, timer, codec, nullptr}, process);

  struct Row {
    const char* name;
    DISPID id;
  };
  std::printf("%-12s %16s %16s %8s\n", "property", "Invoke ns/call", "direct ns/call", "ratio");
  for (const Row& row : {Row{"iNoR", 3}, Row{"caReader1", 4}, Row{"InquiryTxnID", 74}}) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    const double viaInvoke = nanosecondsPerCall(kRounds, [&] {
      VARIANT result;
      VariantInit(&result);
      UINT argument = 0;
      control->Invoke(row.id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                      &argument);
      VariantClear(&result);
    });
    const double viaCore = nanosecondsPerCall(kRounds, [&] {
      ruzazuv::PropertyValue value;
      direct.getProperty(row.id, &value);
    });
    std::printf("%-12s %16.1f %16.1f %8.1f\n", row.name, viaInvoke, viaCore, viaInvoke / viaCore);
  }
  control->Release();
  factory->Release();
  CoUninitialize();
  return 0;
}
