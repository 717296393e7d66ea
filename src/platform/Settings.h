// Site addresses: build settings, each overridable by an environment variable of the same name.
#pragma once

#include <string>

namespace zarn {

// Download roots, always ending in "/".
std::string CdnBaseUrl();      // ZARN_CDN_BASE_URL
std::string StorageBaseUrl();  // ZARN_STORAGE_BASE_URL
// Service addresses without a trailing "/".
std::string AccountUrl();  // ZARN_ACCOUNT_URL
std::string WebUrl();      // ZARN_WEB_URL

}  // namespace zarn
