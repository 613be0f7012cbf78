// The names that tie the browser extension, its native-messaging host and the host manifests
// together. The extension's ID follows from the public key in host/extension/manifest.json
// (the first 32 hex digits of the key's SHA-256, written with the letters a-p), so it is the
// same for an unpacked copy, a policy install and every user.
#pragma once

namespace talrec::host {

// The native-messaging host's name: the manifest file is "<name>.json".
inline constexpr char kNativeHostName[] = "com.talrec.recorder";
// The Chromium extension's ID and the origin the browser names it by.
inline constexpr char kExtensionId[] = "nabnkdmdefeedmjlhnopnpkjibphleki";
inline constexpr char kExtensionOrigin[] = "chrome-extension://nabnkdmdefeedmjlhnopnpkjibphleki/";
// The ID Firefox knows the extension by (browser_specific_settings.gecko.id).
inline constexpr char kFirefoxExtensionId[] = "recorder@talrec";

}  // namespace talrec::host
