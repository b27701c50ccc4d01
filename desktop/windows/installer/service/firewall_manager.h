// The product's Windows Firewall rules for one executable: the inbound mDNS
// rule the browser needs to discover devices on the local network.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_FIREWALL_MANAGER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_FIREWALL_MANAGER_H_

#include <windows.h>

#include <netfw.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_com.h"

namespace installer {

class ProductNameProvider;

class FirewallManager {
 public:
  // A manager for |executable|'s rules, named after |provider|'s product
  // name (the provider must outlive the manager). None (logged) when the
  // arguments are unusable or the firewall policy is not available. COM
  // must be initialised on the calling thread.
  static std::unique_ptr<FirewallManager> Create(const ProductNameProvider* provider,
                                                 const base::FilePath& executable);

  FirewallManager(const FirewallManager&) = delete;
  FirewallManager& operator=(const FirewallManager&) = delete;
  ~FirewallManager();

  // Adds (or renews) the rule that lets UDP port 5353 in for the executable.
  bool AddMdnsRule();
  // Removes every rule of this product for the executable. False (logged)
  // when the rules cannot be listed or one cannot be removed.
  bool RemoveAllRules();

  // "<product> (mDNS-In)".
  std::wstring GetMdnsRuleName() const;
  // "Inbound rule for <product> to allow mDNS traffic."
  std::wstring GetMdnsRuleDescription() const;

 private:
  FirewallManager(std::wstring product_name, base::FilePath executable,
                  base::win::ComPtr<INetFwPolicy2> policy);

  bool GetRules(base::win::ComPtr<INetFwRules>* rules);
  // Names of the product's rules for the executable (only those named
  // |name| when it is not empty). False, with the system's answer in
  // |error|, when the rules cannot be listed; the caller decides how much
  // that matters.
  bool FindOwnRules(INetFwRules* rules, const std::wstring& name, std::vector<std::wstring>* found,
                    HRESULT* error);
  bool RemoveRulesNamed(INetFwRules* rules, const std::vector<std::wstring>& names);

  const std::wstring product_name_;
  const base::FilePath executable_;
  base::win::ComPtr<INetFwPolicy2> policy_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_FIREWALL_MANAGER_H_
