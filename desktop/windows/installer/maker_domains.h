// The maker's own host suffixes, which every network client of the
// installer accepts beside the configured product domain.
#ifndef DESKTOP_WINDOWS_INSTALLER_MAKER_DOMAINS_H_
#define DESKTOP_WINDOWS_INSTALLER_MAKER_DOMAINS_H_

#include <string>
#include <vector>

#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/product_config.h"

namespace installer {

// The public domain of the maker (with its leading dot, so that it matches
// only whole labels).
inline constexpr wchar_t kMakerDomainSuffix[] = L".velmo.example";
// The maker's internal domains: build, staging and mirror servers.
inline constexpr wchar_t kMakerInternalDomainSuffix[] = L".velmo-internal.example";
inline constexpr wchar_t kMakerMirrorDomainSuffix[] = L".velmo-cdn.example";

// The configured product domain, left out when it is the maker's own, then
// the maker's suffix: the start of every allow-list.
inline std::vector<std::wstring> ProductAndMakerDomains() {
  std::vector<std::wstring> domains;
  std::wstring configured = base::UTF8ToWide(GetDomain());
  if (!configured.empty() && configured != kMakerDomainSuffix)
    domains.push_back(configured);
  domains.push_back(kMakerDomainSuffix);
  return domains;
}

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_MAKER_DOMAINS_H_
