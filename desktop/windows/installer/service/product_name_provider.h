// Where the firewall rules (and other system entries named after the
// product) get the product's name from; tests hand in their own provider.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_PRODUCT_NAME_PROVIDER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_PRODUCT_NAME_PROVIDER_H_

#include <string>

namespace installer {

class ProductNameProvider {
 public:
  // The process-wide provider that answers with the product configuration's
  // name; created on first use.
  static ProductNameProvider* GetInstance();

  ProductNameProvider() = default;
  ProductNameProvider(const ProductNameProvider&) = delete;
  ProductNameProvider& operator=(const ProductNameProvider&) = delete;
  virtual ~ProductNameProvider() = default;

  virtual std::wstring GetProductName() const;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_PRODUCT_NAME_PROVIDER_H_
