#include "desktop/windows/installer/service/wmi_launch_process.h"

#include <objbase.h>
#include <wbemidl.h>

#include <string>

#include "base/logging.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_com.h"
#include "base/win/scoped_variant.h"

namespace installer {

namespace {

using base::win::ComPtr;
using base::win::ScopedBstr;
using base::win::ScopedVariant;

constexpr wchar_t kNamespace[] = L"ROOT\\CIMV2";
constexpr wchar_t kProcessClass[] = L"Win32_Process";
constexpr wchar_t kCreateMethod[] = L"Create";

// The connection to the local WMI namespace, with the proxy set to
// impersonate the caller (the provider starts the process as the caller).
bool ConnectToWmi(ComPtr<IWbemServices>* services) {
  ComPtr<IWbemLocator> locator;
  HRESULT hr = locator.CreateInstance(CLSID_WbemLocator, IID_IWbemLocator, CLSCTX_INPROC_SERVER);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot create the WMI locator";
    return false;
  }
  const ScopedBstr resource(kNamespace);
  hr = locator->ConnectServer(resource.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                              services->Receive());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot connect to WMI namespace " << kNamespace;
    return false;
  }
  hr = ::CoSetProxyBlanket(services->Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                           RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot set the WMI proxy's security";
    return false;
  }
  return true;
}

// A filled-in parameter object for Win32_Process.Create.
bool MakeCreateParameters(IWbemServices* services, std::wstring_view command_line,
                          ComPtr<IWbemClassObject>* parameters) {
  const ScopedBstr class_name(kProcessClass);
  ComPtr<IWbemClassObject> process_class;
  HRESULT hr = services->GetObject(class_name.Get(), 0, nullptr, process_class.Receive(), nullptr);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot read the WMI class " << kProcessClass;
    return false;
  }
  ComPtr<IWbemClassObject> signature;
  hr = process_class->GetMethod(kCreateMethod, 0, signature.Receive(), nullptr);
  if (FAILED(hr) || !signature.IsValid()) {
    ELOG(ERROR, hr) << "WMI class " << kProcessClass << " has no Create method";
    return false;
  }
  hr = signature->SpawnInstance(0, parameters->Receive());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot make the parameters of " << kProcessClass << ".Create";
    return false;
  }
  ScopedVariant command(command_line);
  if (command.type() != VT_BSTR) {
    LOG(ERROR) << "Cannot allocate the command line for WMI";
    return false;
  }
  VARIANT value = command.value();
  hr = (*parameters)->Put(L"CommandLine", 0, &value, 0);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot set the command line parameter";
    return false;
  }
  return true;
}

// An integer property of a WMI result object.
bool GetIntegerProperty(IWbemClassObject* object, const wchar_t* name, LONG* value) {
  ScopedVariant property;
  const HRESULT hr = object->Get(name, 0, property.ReceiveVariant(), nullptr, nullptr);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "WMI result has no " << name;
    return false;
  }
  // WMI hands uint32 properties over as VT_I4.
  if (property.type() != VT_I4 && property.type() != VT_UI4) {
    LOG(ERROR) << "WMI result " << name << " is of type " << property.type();
    return false;
  }
  *value = property.value().lVal;
  return true;
}

}  // namespace

bool WmiLaunchProcess(std::wstring_view command_line, DWORD* process_id) {
  if (command_line.empty() || !process_id) {
    LOG(ERROR) << "No command line to start through WMI";
    return false;
  }
  ComPtr<IWbemServices> services;
  ComPtr<IWbemClassObject> parameters;
  if (!ConnectToWmi(&services) || !MakeCreateParameters(services.Get(), command_line, &parameters))
    return false;

  const ScopedBstr class_name(kProcessClass);
  const ScopedBstr method_name(kCreateMethod);
  ComPtr<IWbemClassObject> result;
  const HRESULT hr = services->ExecMethod(class_name.Get(), method_name.Get(), 0, nullptr,
                                          parameters.Get(), result.Receive(), nullptr);
  if (FAILED(hr) || !result.IsValid()) {
    ELOG(ERROR, hr) << "WMI " << kProcessClass << ".Create failed";
    return false;
  }
  LONG return_value = -1;
  if (!GetIntegerProperty(result.Get(), L"ReturnValue", &return_value))
    return false;
  if (return_value != 0) {
    // 2 access denied, 3 insufficient privilege, 9 path not found, 21
    // invalid parameter; WMI's own numbers, not Windows error codes.
    LOG(ERROR) << "WMI could not start " << command_line << ": return value " << return_value;
    return false;
  }
  LONG pid = 0;
  if (!GetIntegerProperty(result.Get(), L"ProcessId", &pid))
    return false;
  *process_id = static_cast<DWORD>(pid);
  return true;
}

}  // namespace installer
