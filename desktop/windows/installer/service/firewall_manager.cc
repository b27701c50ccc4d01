#include "desktop/windows/installer/service/firewall_manager.h"

#include <oleauto.h>

#include <algorithm>
#include <utility>

#include "base/logging.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"
#include "desktop/windows/installer/service/product_name_provider.h"

namespace installer {

namespace {

using base::win::ComPtr;
using base::win::ScopedBstr;
using base::win::ScopedVariant;

// Multicast DNS (RFC 6762).
constexpr wchar_t kMdnsPort[] = L"5353";

}  // namespace

// static
std::unique_ptr<FirewallManager> FirewallManager::Create(const ProductNameProvider* provider,
                                                         const base::FilePath& executable) {
  if (!provider || executable.empty() || !executable.IsAbsolute()) {
    LOG(ERROR) << "A firewall manager needs a product name provider and an absolute executable "
                  "path, got \""
               << executable << "\"";
    return nullptr;
  }
  std::wstring product_name = provider->GetProductName();
  if (product_name.empty()) {
    LOG(ERROR) << "No product name to name the firewall rules after";
    return nullptr;
  }
  ComPtr<INetFwPolicy2> policy;
  const HRESULT hr =
      policy.CreateInstance(__uuidof(NetFwPolicy2), __uuidof(INetFwPolicy2), CLSCTX_INPROC_SERVER);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot create the firewall policy object";
    return nullptr;
  }
  return std::unique_ptr<FirewallManager>(
      new FirewallManager(std::move(product_name), executable, std::move(policy)));
}

FirewallManager::FirewallManager(std::wstring product_name, base::FilePath executable,
                                 ComPtr<INetFwPolicy2> policy)
    : product_name_(std::move(product_name)),
      executable_(std::move(executable)),
      policy_(std::move(policy)) {}

FirewallManager::~FirewallManager() = default;

std::wstring FirewallManager::GetMdnsRuleName() const { return product_name_ + L" (mDNS-In)"; }

std::wstring FirewallManager::GetMdnsRuleDescription() const {
  return L"Inbound rule for " + product_name_ + L" to allow mDNS traffic.";
}

bool FirewallManager::GetRules(ComPtr<INetFwRules>* rules) {
  const HRESULT hr = policy_->get_Rules(rules->Receive());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot read the firewall rules";
    return false;
  }
  return true;
}

bool FirewallManager::FindOwnRules(INetFwRules* rules, const std::wstring& name,
                                   std::vector<std::wstring>* found, HRESULT* error) {
  ComPtr<IUnknown> enumerator_unknown;
  ComPtr<IEnumVARIANT> enumerator;
  HRESULT hr = rules->get__NewEnum(enumerator_unknown.Receive());
  if (SUCCEEDED(hr))
    hr = enumerator_unknown.QueryInterface(IID_IEnumVARIANT, &enumerator);
  if (FAILED(hr)) {
    *error = hr;
    return false;
  }
  for (;;) {
    ScopedVariant item;
    ULONG fetched = 0;
    hr = enumerator->Next(1, item.ReceiveVariant(), &fetched);
    if (hr != S_OK || fetched == 0)
      break;
    if (item.type() != VT_DISPATCH && item.type() != VT_UNKNOWN)
      continue;
    // punkVal and pdispVal share the storage; both are IUnknown.
    IUnknown* unknown = item.value().punkVal;
    if (!unknown)
      continue;
    ComPtr<INetFwRule> rule;
    ScopedBstr application;
    ScopedBstr grouping;
    ScopedBstr rule_name;
    if (FAILED(unknown->QueryInterface(__uuidof(INetFwRule), rule.ReceiveVoid())) ||
        FAILED(rule->get_ApplicationName(application.Receive())) ||
        FAILED(rule->get_Grouping(grouping.Receive())) ||
        FAILED(rule->get_Name(rule_name.Receive()))) {
      continue;
    }
    if (!base::FilePath::CompareEqualIgnoreCase(application.view(), executable_.value()) ||
        grouping.view() != product_name_ || (!name.empty() && rule_name.view() != name)) {
      continue;
    }
    std::wstring found_name(rule_name.view());
    if (std::find(found->begin(), found->end(), found_name) == found->end())
      found->push_back(std::move(found_name));
  }
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot read the next firewall rule";
    return false;
  }
  return true;
}

bool FirewallManager::RemoveRulesNamed(INetFwRules* rules, const std::vector<std::wstring>& names) {
  bool all_removed = true;
  for (const std::wstring& name : names) {
    const ScopedBstr rule_name(name);
    const HRESULT hr = rules->Remove(rule_name.Get());
    if (FAILED(hr)) {
      ELOG(ERROR, hr) << "Cannot remove the firewall rule " << name;
      all_removed = false;
    }
  }
  return all_removed;
}

bool FirewallManager::AddMdnsRule() {
  ComPtr<INetFwRules> rules;
  if (!GetRules(&rules))
    return false;

  // An older rule of ours goes first, so that a re-installation does not
  // pile up copies. When the rules cannot be listed the new rule is added
  // anyway: a duplicate does no harm, a missing rule does.
  const std::wstring name = GetMdnsRuleName();
  std::vector<std::wstring> existing;
  HRESULT list_error = S_OK;
  if (FindOwnRules(rules.Get(), name, &existing, &list_error)) {
    RemoveRulesNamed(rules.Get(), existing);
  } else {
    ELOG(WARNING, list_error)
        << "Cannot list the firewall rules; adding the rule without looking for an older one";
  }

  ComPtr<INetFwRule> rule;
  HRESULT hr = rule.CreateInstance(__uuidof(NetFwRule), __uuidof(INetFwRule), CLSCTX_INPROC_SERVER);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot create a firewall rule object";
    return false;
  }
  const ScopedBstr rule_name(name);
  const ScopedBstr description(GetMdnsRuleDescription());
  const ScopedBstr application(executable_.value());
  const ScopedBstr grouping(product_name_);
  const ScopedBstr port(kMdnsPort);
  hr = rule->put_Name(rule_name.Get());
  if (SUCCEEDED(hr))
    hr = rule->put_Description(description.Get());
  if (SUCCEEDED(hr))
    hr = rule->put_ApplicationName(application.Get());
  // The protocol first: ports can only be set on a TCP or UDP rule.
  if (SUCCEEDED(hr))
    hr = rule->put_Protocol(NET_FW_IP_PROTOCOL_UDP);
  if (SUCCEEDED(hr))
    hr = rule->put_LocalPorts(port.Get());
  if (SUCCEEDED(hr))
    hr = rule->put_Direction(NET_FW_RULE_DIR_IN);
  if (SUCCEEDED(hr))
    hr = rule->put_Action(NET_FW_ACTION_ALLOW);
  if (SUCCEEDED(hr))
    hr = rule->put_Grouping(grouping.Get());
  if (SUCCEEDED(hr))
    hr = rule->put_Profiles(NET_FW_PROFILE2_ALL);
  if (SUCCEEDED(hr))
    hr = rule->put_Enabled(VARIANT_TRUE);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot fill in the firewall rule " << name;
    return false;
  }
  hr = rules->Add(rule.Get());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot add the firewall rule " << name;
    return false;
  }
  return true;
}

bool FirewallManager::RemoveAllRules() {
  ComPtr<INetFwRules> rules;
  if (!GetRules(&rules))
    return false;
  std::vector<std::wstring> own;
  HRESULT list_error = S_OK;
  if (!FindOwnRules(rules.Get(), std::wstring(), &own, &list_error)) {
    if (list_error == E_NOTIMPL) {
      // A limit of the platform, not a fault of this run: a firewall that
      // keeps no list (Wine's stores no rule at all) has none of ours to
      // remove either.
      ELOG(WARNING, list_error)
          << "The platform's firewall does not list its rules; no rule found to remove";
    } else {
      ELOG(ERROR, list_error) << "Cannot list the firewall rules";
    }
    return false;
  }
  return RemoveRulesNamed(rules.Get(), own);
}

}  // namespace installer
