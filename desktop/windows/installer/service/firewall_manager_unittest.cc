#include "desktop/windows/installer/service/firewall_manager.h"

#include <windows.h>

#include <netfw.h>

#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_com.h"
#include "desktop/windows/installer/service/authenticode_test_fixtures.h"
#include "desktop/windows/installer/service/product_name_provider.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::win::ComPtr;
using base::win::ScopedBstr;

bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A product name of this test process, so that parallel runs keep apart.
class TestProductNameProvider : public ProductNameProvider {
 public:
  std::wstring GetProductName() const override {
    return L"Velmo Firewall Test " + std::to_wstring(::GetCurrentProcessId());
  }
};

class FirewallManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(com_.Succeeded());
    ASSERT_HRESULT_SUCCEEDED(policy_.CreateInstance(__uuidof(NetFwPolicy2), __uuidof(INetFwPolicy2),
                                                    CLSCTX_INPROC_SERVER));
    ASSERT_HRESULT_SUCCEEDED(policy_->get_Rules(rules_.Receive()));
  }

  // The rule |name| as the firewall holds it, or none.
  ComPtr<INetFwRule> FindRule(const std::wstring& name) {
    const ScopedBstr rule_name(name);
    ComPtr<INetFwRule> rule;
    rules_->Item(rule_name.Get(), rule.Receive());
    return rule;
  }

  // What the firewall answers when asked for its list of rules (Wine's has
  // none: E_NOTIMPL).
  HRESULT EnumerateRules() {
    ComPtr<IUnknown> enumerator;
    const HRESULT hr = rules_->get__NewEnum(enumerator.Receive());
    if (RunningUnderWine()) {
      EXPECT_EQ(hr, E_NOTIMPL) << "Wine lists firewall rules now: tighten this test";
    }
    return hr;
  }

  base::win::ScopedComInitializer com_;
  TestProductNameProvider provider_;
  const base::FilePath executable_{L"C:\\Program Files\\Velmo Test\\velmo.exe"};
  ComPtr<INetFwPolicy2> policy_;
  ComPtr<INetFwRules> rules_;
};

TEST_F(FirewallManagerTest, CreateNeedsAProviderAndAnAbsoluteExecutable) {
  EXPECT_FALSE(FirewallManager::Create(nullptr, executable_));
  EXPECT_FALSE(FirewallManager::Create(&provider_, base::FilePath()));
  EXPECT_FALSE(FirewallManager::Create(&provider_, base::FilePath(L"velmo.exe")));
  std::unique_ptr<FirewallManager> manager = FirewallManager::Create(&provider_, executable_);
  ASSERT_TRUE(manager);
  EXPECT_EQ(manager->GetMdnsRuleName(), provider_.GetProductName() + L" (mDNS-In)");
  EXPECT_EQ(manager->GetMdnsRuleDescription(),
            L"Inbound rule for " + provider_.GetProductName() + L" to allow mDNS traffic.");
  // The process-wide provider names the configured product.
  EXPECT_FALSE(ProductNameProvider::GetInstance()->GetProductName().empty());
  EXPECT_EQ(ProductNameProvider::GetInstance(), ProductNameProvider::GetInstance());
}

TEST_F(FirewallManagerTest, AddsAndRemovesTheMdnsRule) {
  std::unique_ptr<FirewallManager> manager = FirewallManager::Create(&provider_, executable_);
  ASSERT_TRUE(manager);
  const HRESULT enumerate = EnumerateRules();
  const bool can_enumerate = SUCCEEDED(enumerate);

  ASSERT_TRUE(manager->AddMdnsRule());
  ComPtr<INetFwRule> rule = FindRule(manager->GetMdnsRuleName());
  if (rule.IsValid()) {
    NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
    NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
    LONG protocol = 0;
    ScopedBstr ports;
    ScopedBstr application;
    ScopedBstr grouping;
    ASSERT_HRESULT_SUCCEEDED(rule->get_Direction(&direction));
    ASSERT_HRESULT_SUCCEEDED(rule->get_Action(&action));
    ASSERT_HRESULT_SUCCEEDED(rule->get_Protocol(&protocol));
    ASSERT_HRESULT_SUCCEEDED(rule->get_LocalPorts(ports.Receive()));
    ASSERT_HRESULT_SUCCEEDED(rule->get_ApplicationName(application.Receive()));
    ASSERT_HRESULT_SUCCEEDED(rule->get_Grouping(grouping.Receive()));
    EXPECT_EQ(direction, NET_FW_RULE_DIR_IN);
    EXPECT_EQ(action, NET_FW_ACTION_ALLOW);
    EXPECT_EQ(protocol, NET_FW_IP_PROTOCOL_UDP);
    EXPECT_EQ(ports.view(), L"5353");
    EXPECT_TRUE(base::FilePath::CompareEqualIgnoreCase(application.view(), executable_.value()));
    EXPECT_EQ(grouping.view(), provider_.GetProductName());
  } else {
    // Wine's firewall accepts Add and stores nothing.
    EXPECT_TRUE(RunningUnderWine()) << "the added rule is not in the firewall";
  }

  // Removal needs the rule list; where the firewall cannot list its rules the
  // removal reports failure rather than pretending. A firewall that has no
  // list at all is the platform's limit, which is no error of the run.
  {
    testing::ScopedLogCapture log;
    EXPECT_EQ(manager->RemoveAllRules(), can_enumerate);
    if (enumerate == E_NOTIMPL) {
      EXPECT_EQ(log.text().find("ERROR:"), std::string::npos) << log.text();
      EXPECT_NE(log.text().find("does not list its rules"), std::string::npos) << log.text();
    }
  }
  if (can_enumerate) {
    EXPECT_FALSE(FindRule(manager->GetMdnsRuleName()).IsValid());
  }
}

}  // namespace
}  // namespace installer
