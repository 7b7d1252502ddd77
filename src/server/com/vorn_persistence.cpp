// VornControl's persistent state: the extent's width and height (_cx, _cy), in a stream of
// their own or in the "Contents" stream of a storage.
#include "vorn_control.h"

namespace ruzazuv::com {
namespace {

constexpr wchar_t kContentsStream[] = L"Contents";
constexpr ULONG kPersistBytes = 3 * sizeof(DWORD);

HRESULT readAll(IStream* stream, void* buffer, ULONG size) {
  ULONG got = 0;
  const HRESULT hr = stream->Read(buffer, size, &got);
  if (FAILED(hr)) return hr;
  return got == size ? S_OK : STG_E_READFAULT;
}

}  // namespace

STDMETHODIMP VornControl::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = CLSID_Vorn;
  return S_OK;
}

STDMETHODIMP VornControl::IsDirty() {
  return dirty_ ? S_OK : S_FALSE;
}

// The format number, then _cx and _cy. A stream that is short or of another format changes
// nothing.
STDMETHODIMP VornControl::Load(LPSTREAM stream) {
  if (stream == nullptr) return E_POINTER;
  DWORD data[3] = {};
  const HRESULT hr = readAll(stream, data, kPersistBytes);
  if (FAILED(hr)) return hr;
  if (data[0] != kPersistFormat) return E_FAIL;
  extent_.cx = static_cast<LONG>(data[1]);
  extent_.cy = static_cast<LONG>(data[2]);
  dirty_ = false;
  viewChanged();
  return S_OK;
}

STDMETHODIMP VornControl::Save(LPSTREAM stream, BOOL clearDirty) {
  if (stream == nullptr) return E_POINTER;
  const DWORD data[3] = {kPersistFormat, static_cast<DWORD>(extent_.cx),
                         static_cast<DWORD>(extent_.cy)};
  ULONG written = 0;
  const HRESULT hr = stream->Write(data, kPersistBytes, &written);
  if (FAILED(hr)) return hr;
  if (written != kPersistBytes) return STG_E_WRITEFAULT;
  if (clearDirty) dirty_ = false;
  return S_OK;
}

STDMETHODIMP VornControl::GetSizeMax(ULARGE_INTEGER* size) {
  if (size == nullptr) return E_POINTER;
  size->QuadPart = kPersistBytes;
  return S_OK;
}

STDMETHODIMP VornControl::InitNew() {
  return S_OK;
}

STDMETHODIMP VornControl::InitNew(IStorage* storage) {
  return storage != nullptr ? S_OK : E_POINTER;
}

STDMETHODIMP VornControl::Load(IStorage* storage) {
  if (storage == nullptr) return E_POINTER;
  IStream* stream = nullptr;
  HRESULT hr =
      storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
  if (FAILED(hr)) return hr;
  hr = Load(stream);
  stream->Release();
  return hr;
}

STDMETHODIMP VornControl::Save(IStorage* storage, BOOL) {
  if (storage == nullptr) return E_POINTER;
  IStream* stream = nullptr;
  HRESULT hr = storage->CreateStream(
      kContentsStream, STGM_WRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, 0, &stream);
  if (FAILED(hr)) return hr;
  hr = Save(stream, TRUE);
  stream->Release();
  return hr;
}

STDMETHODIMP VornControl::SaveCompleted(IStorage*) {
  return S_OK;
}

STDMETHODIMP VornControl::HandsOffStorage() {
  return S_OK;
}

}  // namespace ruzazuv::com
