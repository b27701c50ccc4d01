// The maker's own host suffixes, which every network client of the
// installer accepts beside the configured product domain.
#ifndef DESKTOP_WINDOWS_INSTALLER_MAKER_DOMAINS_H_
#define DESKTOP_WINDOWS_INSTALLER_MAKER_DOMAINS_H_

namespace installer {

// The public domain of the maker (with its leading dot, so that it matches
// only whole labels).
inline constexpr wchar_t kMakerDomainSuffix[] = L".velmo.example";
// The maker's internal domains: build, staging and mirror servers.
inline constexpr wchar_t kMakerInternalDomainSuffix[] = L".velmo-internal.example";
inline constexpr wchar_t kMakerMirrorDomainSuffix[] = L".velmo-cdn.example";

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_MAKER_DOMAINS_H_
