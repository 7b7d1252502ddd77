// A stand-in winscard.dll for testing WinscardPcsc: every function records the arguments it was
// given, writes recognisable out-values, and returns the result the test chose. The test reads
// the record and sets the result through the two extra exports at the end.
#define WINSCARDAPI __declspec(dllexport)
// clang-format off
#include <windows.h>
#include <winscard.h>
// clang-format on

#include <cstring>

#include "fake_winscard.h"

namespace {

FakeWinscardCall g_call;
LONG g_result = 0;

LONG record(const char* function) {
  std::memset(&g_call, 0, sizeof(g_call));
  std::strncpy(g_call.function, function, sizeof(g_call.function) - 1);
  return g_result;
}

void copyName(const char* name) {
  if (name != nullptr) std::strncpy(g_call.reader, name, sizeof(g_call.reader) - 1);
}

}  // namespace

extern "C" {

__declspec(dllexport) void WINAPI FakeWinscardSetResult(LONG result) {
  g_result = result;
}

__declspec(dllexport) void WINAPI FakeWinscardLastCall(FakeWinscardCall* call) {
  *call = g_call;
}

LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
  const LONG rv = record("SCardEstablishContext");
  g_call.arg[0] = scope;
  *context = kFakeContext;
  return rv;
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT context) {
  const LONG rv = record("SCardReleaseContext");
  g_call.handle = context;
  return rv;
}

LONG WINAPI SCardListReadersA(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length) {
  const LONG rv = record("SCardListReadersA");
  g_call.handle = context;
  g_call.arg[0] = groups == nullptr ? 0 : 1;
  g_call.arg[1] = *length;
  static const char kList[] = "Fake Reader 0\0Fake Reader 1\0";
  if (readers != nullptr && *length >= sizeof(kList)) std::memcpy(readers, kList, sizeof(kList));
  *length = sizeof(kList);
  return rv;
}

LONG WINAPI SCardGetStatusChangeA(SCARDCONTEXT context, DWORD timeout, LPSCARD_READERSTATEA states,
                                  DWORD count) {
  const LONG rv = record("SCardGetStatusChangeA");
  g_call.handle = context;
  g_call.arg[0] = timeout;
  g_call.arg[1] = count;
  if (count > 0) {
    copyName(states[0].szReader);
    g_call.arg[2] = states[0].dwCurrentState;
    states[0].dwEventState = SCARD_STATE_CHANGED | SCARD_STATE_PRESENT | SCARD_STATE_INUSE;
    states[0].cbAtr = 3;
    states[0].rgbAtr[0] = 0x3B;
    states[0].rgbAtr[1] = 0x8C;
    states[0].rgbAtr[2] = 0x81;
  }
  return rv;
}

LONG WINAPI SCardConnectA(SCARDCONTEXT context, LPCSTR reader, DWORD share, DWORD protocols,
                          LPSCARDHANDLE card, LPDWORD active) {
  const LONG rv = record("SCardConnectA");
  g_call.handle = context;
  copyName(reader);
  g_call.arg[0] = share;
  g_call.arg[1] = protocols;
  *card = kFakeCard;
  *active = SCARD_PROTOCOL_T1;
  return rv;
}

LONG WINAPI SCardReconnect(SCARDHANDLE card, DWORD share, DWORD protocols, DWORD initialization,
                           LPDWORD active) {
  const LONG rv = record("SCardReconnect");
  g_call.handle = card;
  g_call.arg[0] = share;
  g_call.arg[1] = protocols;
  g_call.arg[2] = initialization;
  *active = SCARD_PROTOCOL_T0;
  return rv;
}

LONG WINAPI SCardDisconnect(SCARDHANDLE card, DWORD disposition) {
  const LONG rv = record("SCardDisconnect");
  g_call.handle = card;
  g_call.arg[0] = disposition;
  return rv;
}

LONG WINAPI SCardStatusA(SCARDHANDLE card, LPSTR name, LPDWORD nameLength, LPDWORD state,
                         LPDWORD protocol, LPBYTE atr, LPDWORD atrLength) {
  const LONG rv = record("SCardStatusA");
  g_call.handle = card;
  g_call.arg[0] = *nameLength;
  g_call.arg[1] = *atrLength;
  static const char kName[] = "Fake Reader 0\0";
  if (name != nullptr && *nameLength >= sizeof(kName)) std::memcpy(name, kName, sizeof(kName));
  *nameLength = sizeof(kName);
  *state = SCARD_SPECIFIC;
  *protocol = SCARD_PROTOCOL_T1;
  if (atr != nullptr && *atrLength >= 2) {
    atr[0] = 0x3B;
    atr[1] = 0x02;
  }
  *atrLength = 2;
  return rv;
}

LONG WINAPI SCardGetAttrib(SCARDHANDLE card, DWORD attribute, LPBYTE buffer, LPDWORD length) {
  const LONG rv = record("SCardGetAttrib");
  g_call.handle = card;
  g_call.arg[0] = attribute;
  g_call.arg[1] = *length;
  if (buffer != nullptr && *length >= 4) std::memcpy(buffer, "RUZA", 4);
  *length = 4;
  return rv;
}

LONG WINAPI SCardTransmit(SCARDHANDLE card, LPCSCARD_IO_REQUEST send, LPCBYTE command,
                          DWORD commandLength, LPSCARD_IO_REQUEST, LPBYTE answer,
                          LPDWORD answerLength) {
  const LONG rv = record("SCardTransmit");
  g_call.handle = card;
  g_call.arg[0] = send != nullptr ? send->dwProtocol : 0xFFFFFFFF;
  g_call.arg[1] = send != nullptr ? send->cbPciLength : 0;
  g_call.arg[2] = commandLength;
  g_call.arg[3] = *answerLength;
  if (commandLength > 0) g_call.arg[4] = command[0];
  if (*answerLength >= 2) {
    answer[0] = 0x90;
    answer[1] = 0x00;
  }
  *answerLength = 2;
  return rv;
}

}  // extern "C"
