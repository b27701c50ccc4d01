#include "desktop/windows/installer/service/product_name_provider.h"

#include "base/lazy_instance.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/product_config.h"

namespace installer {

namespace {
base::LazyInstance<ProductNameProvider> g_product_name_provider;
}  // namespace

// static
ProductNameProvider* ProductNameProvider::GetInstance() {
  return g_product_name_provider.Pointer();
}

std::wstring ProductNameProvider::GetProductName() const {
  return base::UTF8ToWide(installer::GetProductName());
}

}  // namespace installer
