// The names that tie the browser extension, its native-messaging host and their manifests
// together. The extension id follows from the public key in web/extension/manifest.json; a
// Chromium-family browser starts the host only for the origins a manifest names.
#pragma once

namespace ruzazuv {

inline constexpr const char* kNativeHostName = "ruzazuv.nmhost";
inline constexpr const char* kNativeHostManifestFile = "ruzazuv.nmhost.json";
inline constexpr const char* kNativeHostExecutable = "ruzazuv-nmhost";
inline constexpr const char* kExtensionId = "moanljbngfilffkbckjlcdhohgonjlgj";
inline constexpr const char* kExtensionOrigin =
    "chrome-extension://moanljbngfilffkbckjlcdhohgonjlgj/";
inline constexpr const char* kFirefoxExtensionId = "extension@ruzazuv.example";

}  // namespace ruzazuv
