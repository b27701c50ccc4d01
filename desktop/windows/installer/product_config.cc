#include "desktop/windows/installer/product_config.h"

#include <windows.h>

#include <iterator>
#include <memory>

#include "base/features/feature_registry.h"
#include "base/files/file_path.h"
#include "base/files/path_registry.h"
#include "base/json_reader.h"
#include "base/logging.h"
#include "base/string_printf.h"
#include "base/string_util.h"
#include "base/values.h"
#include "base/win/library_holder.h"

namespace installer {
namespace {

// The test-automation module that carries the same resource when the host
// lacks it. It is only ever taken from the executable's own folder, and only
// as a resource image: a module of that name elsewhere on the search path
// (an installer is often started from Downloads) must never run.
constexpr wchar_t kAutomationModuleName[] = L"_vlautolib.pyd";

constexpr int kBuiltInMajorVersion = 43;
constexpr char kUpstreamVersion[] = "56.0.2924.87";
constexpr int kVersionBuild = 2442;
constexpr int kVersionPatch = 991;
constexpr int kBuildStream = 4;

struct ProductConfigState {
  std::unique_ptr<base::DictValue> dictionary;
  bool valid = false;
  std::string product_name;
  bool product_name_read = false;
};

// Built on first use on the main thread during start-up; never destroyed, so
// getters stay usable from exit-time code.
ProductConfigState& State() {
  static ProductConfigState* state = new ProductConfigState;
  return *state;
}

std::string ReadResourceText(HMODULE module) {
  HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(kProductConfigResourceId),
                                   kProductConfigResourceType);
  if (!resource)
    return std::string();
  HGLOBAL loaded = ::LoadResource(module, resource);
  DWORD size = ::SizeofResource(module, resource);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data || size == 0)
    return std::string();
  return std::string(static_cast<const char*>(data), size);
}

void Parse(std::string_view text) {
  ProductConfigState& state = State();
  state.valid = false;
  state.product_name_read = false;
  std::unique_ptr<base::Value> value;
  if (text.empty()) {
    LOG(ERROR) << "The product configuration resource is missing or empty";
  } else {
    value = base::JsonReader::Read(text);
    if (!value)
      LOG(ERROR) << "The product configuration is not valid JSON";
    else if (!value->IsType(base::Value::Type::kDictionary))
      LOG(ERROR) << "The product configuration is not a JSON object";
  }
  if (value && value->IsType(base::Value::Type::kDictionary)) {
    state.dictionary.reset(static_cast<base::DictValue*>(value.release()));
    state.valid = true;
  } else {
    state.dictionary = std::make_unique<base::DictValue>();
  }
}

}  // namespace

std::string LoadProductConfigResource() {
  std::string text = ReadResourceText(nullptr);
  if (!text.empty())
    return text;
  base::FilePath exe_dir;
  if (!base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir))
    return std::string();
  base::FilePath module_path = exe_dir.Append(kAutomationModuleName);
  if (::GetFileAttributesW(module_path.c_str()) == INVALID_FILE_ATTRIBUTES)
    return std::string();
  base::win::LibraryHolder automation(
      module_path.value(), LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!automation.IsLoaded())
    return std::string();
  return ReadResourceText(automation.Handle());
}

const base::DictValue& GetProductConfigDictionary() {
  ProductConfigState& state = State();
  if (!state.dictionary)
    Parse(LoadProductConfigResource());
  return *state.dictionary;
}

bool IsProductConfigValid() {
  GetProductConfigDictionary();
  return State().valid;
}

void SetProductConfigForTesting(const char* json) {
  ProductConfigState& state = State();
  state.dictionary.reset();
  state.product_name_read = false;
  if (json)
    Parse(json);
}

std::string GetProductConfigString(const base::DictValue& dict, std::string_view key) {
  std::string value;
  if (!dict.GetString(key, &value))
    return std::string();
  return value;
}

bool GetProductConfigBool(const base::DictValue& dict, std::string_view key) {
  bool value = false;
  return dict.GetBoolean(key, &value) && value;
}

int32_t GetProductConfigInt(const base::DictValue& dict, std::string_view key) {
  int value = 0;
  if (!dict.GetInteger(key, &value))
    return 0;
  return value;
}

namespace {
std::string ConfigString(std::string_view key) {
  return GetProductConfigString(GetProductConfigDictionary(), key);
}
bool ConfigBool(std::string_view key) {
  return GetProductConfigBool(GetProductConfigDictionary(), key);
}
}  // namespace

std::string GetCompanyName() { return ConfigString("company_name"); }
std::string GetCrashLogProductSuffix() { return ConfigString("crash_log_product_sufix"); }
std::string GetDefaultProfilePathTemplate() {
  return ConfigString("default_profile_path_template");
}
std::string GetDomain() { return ConfigString("domain"); }
std::string GetExpectedSigner() { return ConfigString("expected_signer"); }
std::string GetFileNameBase() { return ConfigString("file_name_base"); }
std::string ReadProductName() { return ConfigString("product_name"); }
std::string GetProductName() { return ReadProductName(); }
bool ShouldScheduleAutoupdateTask() { return ConfigBool("schedule_autoupdate_task"); }
std::string GetShortcutSuffix() { return ConfigString("shortcut_suffix"); }
std::string ReadUserAgentName() { return ConfigString("user_agent_name"); }
std::string GetUserAgentName() { return ReadUserAgentName(); }
std::string ReadVisibleProductName() { return ConfigString("visible_product_name"); }
std::string GetVisibleProductName() { return ReadVisibleProductName(); }
bool IsWhiteLabeled() { return ConfigBool("white_labeled"); }

std::string GetProductUrl(std::string_view name) {
  return ConfigString(base::FormatString("%s.%s", "urls", std::string(name).c_str()));
}

std::string FormatWithProductName(std::string_view format, bool lower_case) {
  ProductConfigState& state = State();
  GetProductConfigDictionary();
  if (!state.product_name_read) {
    state.product_name = ReadProductName();
    state.product_name_read = true;
  }
  std::string name = lower_case ? base::ToLowerASCII(state.product_name) : state.product_name;
  // Only "%s" (and "%%") are directives here; the name is inserted literally
  // so that a "%" in it cannot act as one.
  std::string result;
  result.reserve(format.size() + name.size());
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
      result += name;
      ++i;
    } else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') {
      result += '%';
      ++i;
    } else {
      result += format[i];
    }
  }
  return result;
}

int GetMajorVersion() {
  return kBuiltInMajorVersion + GetProductConfigInt(GetProductConfigDictionary(), "major_delta");
}

int GetUpstreamMajorVersion() {
  int major = 0;
  for (const char* p = kUpstreamVersion; *p >= '0' && *p <= '9'; ++p)
    major = major * 10 + (*p - '0');
  return major;
}

std::string FormatVersionString() {
  int minor = ConfigBool("use_upstream_major_for_minor") ? GetUpstreamMajorVersion() : 0;
  return base::FormatString("%d.%d.%d.%d", GetMajorVersion(), minor, kVersionBuild, kVersionPatch);
}

std::string GetVersionString() { return FormatVersionString(); }
std::string GetInternalVersion() {
  return base::FormatString("%d.%d", kVersionBuild, kVersionPatch);
}
int GetBuildNumber() { return 802919; }
int GetBuildsetNumber() { return 281398; }
std::string GetBuildRequestTime() { return "20170217_180001"; }
std::string GetStreamName() { return "Stable"; }
std::string GetEmptyBuildString() { return std::string(); }
int GetBuildStream() { return kBuildStream; }

const ExperimentRow kInstallerExperiments[4] = {
    {"installer-experiment-test", 0x0, 0xffff, 41223, 41223, 2, 0},
    {"installer-hide-from-program-and-features", 0x8, 0x0, 41223, 41223, 2, 0},
    {"installer-pref-default-overrides-support", 0x7, 0xffff, 41223, 41223, 2, 0},
    {"installer-support-x64-download", 0x7, 0xffff, 41223, 41223, 2, 0},
};

// The browser's own feature switches. The installer reads only
// "alternative-crash-logging" (through the crash reporter's flags).
const ExperimentRow kBrowserFeatures[121] = {
    {"tab-hover-cards", 0x7, 0xffff, 42000, 42001, 2, 0},
    {"tab-stacking", 0x4, 0x7, 42002, 42003, 2, 0},
    {"tab-cycling-mru", 0x1, 0x3, 42004, 42005, 2, 0},
    {"tab-mute-indicator", 0x3, 0x7, 42006, 42007, 2, 0},
    {"tab-hibernation", 0x0, 0xffff, 42008, 42009, 2, 0},
    {"tab-preview-thumbnails", 0xf, 0x0, 42010, 42011, 2, 0},
    {"tab-groups-colors", 0x6, 0x6, 42012, 42013, 2, 0},
    {"tab-search-popup", 0x4, 0x4, 42014, 42015, 2, 0},
    {"tab-scroll-buttons", 0x7, 0xffff, 42016, 42017, 2, 0},
    {"pinned-tab-compact", 0x4, 0x7, 42018, 42019, 2, 0},
    {"window-panels-split", 0x1, 0x3, 42020, 42021, 2, 0},
    {"window-panels-resize", 0x3, 0x7, 42022, 42023, 2, 0},
    {"sidebar-panels", 0x0, 0xffff, 42024, 42025, 2, 0},
    {"sidebar-web-panels", 0xf, 0x0, 42026, 42027, 2, 0},
    {"sidebar-auto-hide", 0x6, 0x6, 42028, 42029, 2, 0},
    {"speed-dial-thumbnails", 0x4, 0x4, 42030, 42031, 2, 0},
    {"speed-dial-folders", 0x7, 0xffff, 42032, 42033, 2, 0},
    {"speed-dial-sync", 0x4, 0x7, 42034, 42035, 2, 0},
    {"bookmark-bar-overflow", 0x1, 0x3, 42036, 42037, 2, 0},
    {"bookmark-import-wizard", 0x3, 0x7, 42038, 42039, 2, 0},
    {"history-search-fulltext", 0x0, 0xffff, 42040, 42041, 2, 0},
    {"history-timeline", 0xf, 0x0, 42042, 42043, 2, 0},
    {"downloads-shelf-compact", 0x6, 0x6, 42044, 42045, 2, 0},
    {"downloads-resume-notice", 0x4, 0x4, 42046, 42047, 2, 0},
    {"downloads-virus-scan", 0x7, 0xffff, 42048, 42049, 2, 0},
    {"reader-mode", 0x4, 0x7, 42050, 42051, 2, 0},
    {"reader-mode-fonts", 0x1, 0x3, 42052, 42053, 2, 0},
    {"page-zoom-per-site", 0x3, 0x7, 42054, 42055, 2, 0},
    {"page-capture", 0x0, 0xffff, 42056, 42057, 2, 0},
    {"page-capture-fullpage", 0xf, 0x0, 42058, 42059, 2, 0},
    {"notes-panel", 0x6, 0x6, 42060, 42061, 2, 0},
    {"notes-sync", 0x4, 0x4, 42062, 42063, 2, 0},
    {"quick-commands", 0x7, 0xffff, 42064, 42065, 2, 0},
    {"quick-commands-math", 0x4, 0x7, 42066, 42067, 2, 0},
    {"keyboard-shortcut-editor", 0x1, 0x3, 42068, 42069, 2, 0},
    {"mouse-gestures", 0x3, 0x7, 42070, 42071, 2, 0},
    {"mouse-gestures-trails", 0x0, 0xffff, 42072, 42073, 2, 0},
    {"alternative-crash-logging", 0xfff7, 0x10007, 41052, 41053, 2, 0},
    {"rocker-gestures", 0xf, 0x0, 42074, 42075, 2, 0},
    {"spatial-navigation", 0x6, 0x6, 42076, 42077, 2, 0},
    {"address-bar-suggestions", 0x4, 0x4, 42078, 42079, 2, 0},
    {"address-bar-inline-complete", 0x7, 0xffff, 42080, 42081, 2, 0},
    {"address-bar-paste-go", 0x4, 0x7, 42082, 42083, 2, 0},
    {"search-engine-nicknames", 0x1, 0x3, 42084, 42085, 2, 0},
    {"search-field-toolbar", 0x3, 0x7, 42086, 42087, 2, 0},
    {"private-window-theme", 0x0, 0xffff, 42088, 42089, 2, 0},
    {"private-window-search", 0xf, 0x0, 42090, 42091, 2, 0},
    {"theme-scheduler", 0x6, 0x6, 42092, 42093, 2, 0},
    {"theme-accent-from-page", 0x4, 0x4, 42094, 42095, 2, 0},
    {"theme-custom-background", 0x7, 0xffff, 42096, 42097, 2, 0},
    {"ui-zoom", 0x4, 0x7, 42098, 42099, 2, 0},
    {"ui-density-compact", 0x1, 0x3, 42100, 42101, 2, 0},
    {"status-bar-info", 0x3, 0x7, 42102, 42103, 2, 0},
    {"status-bar-hide-auto", 0x0, 0xffff, 42104, 42105, 2, 0},
    {"image-animation-control", 0xf, 0x0, 42106, 42107, 2, 0},
    {"image-loading-policy", 0x6, 0x6, 42108, 42109, 2, 0},
    {"autoplay-policy-panel", 0x4, 0x4, 42110, 42111, 2, 0},
    {"media-hardware-keys", 0x7, 0xffff, 42112, 42113, 2, 0},
    {"picture-in-picture", 0x4, 0x7, 42114, 42115, 2, 0},
    {"picture-in-picture-controls", 0x1, 0x3, 42116, 42117, 2, 0},
    {"translate-inline", 0x3, 0x7, 42118, 42119, 2, 0},
    {"translate-auto", 0x0, 0xffff, 42120, 42121, 2, 0},
    {"spellcheck-multilang", 0xf, 0x0, 42122, 42123, 2, 0},
    {"password-manager-breach-check", 0x6, 0x6, 42124, 42125, 2, 0},
    {"password-generator", 0x4, 0x4, 42126, 42127, 2, 0},
    {"autofill-addresses", 0x7, 0xffff, 42128, 42129, 2, 0},
    {"autofill-cards", 0x4, 0x7, 42130, 42131, 2, 0},
    {"sync-end-to-end", 0x1, 0x3, 42132, 42133, 2, 0},
    {"sync-tabs", 0x3, 0x7, 42134, 42135, 2, 0},
    {"sync-history", 0x0, 0xffff, 42136, 42137, 2, 0},
    {"sync-settings", 0xf, 0x0, 42138, 42139, 2, 0},
    {"sync-extensions", 0x6, 0x6, 42140, 42141, 2, 0},
    {"content-blocker", 0x4, 0x4, 42142, 42143, 2, 0},
    {"content-blocker-lists", 0x7, 0xffff, 42144, 42145, 2, 0},
    {"tracker-blocker", 0x4, 0x7, 42146, 42147, 2, 0},
    {"cookie-banner-blocker", 0x1, 0x3, 42148, 42149, 2, 0},
    {"fingerprint-protection", 0x3, 0x7, 42150, 42151, 2, 0},
    {"https-upgrades", 0x0, 0xffff, 42152, 42153, 2, 0},
    {"dns-over-https", 0xf, 0x0, 42154, 42155, 2, 0},
    {"safe-browsing-enhanced", 0x6, 0x6, 42156, 42157, 2, 0},
    {"permission-chip", 0x4, 0x4, 42158, 42159, 2, 0},
    {"permission-quiet-ui", 0x7, 0xffff, 42160, 42161, 2, 0},
    {"notification-permission-abuse", 0x4, 0x7, 42162, 42163, 2, 0},
    {"geolocation-prompt-delay", 0x1, 0x3, 42164, 42165, 2, 0},
    {"webrtc-ip-policy", 0x3, 0x7, 42166, 42167, 2, 0},
    {"extension-toolbar-menu", 0x0, 0xffff, 42168, 42169, 2, 0},
    {"extension-site-access", 0xf, 0x0, 42170, 42171, 2, 0},
    {"extension-sync-warnings", 0x6, 0x6, 42172, 42173, 2, 0},
    {"memory-saver", 0x4, 0x4, 42174, 42175, 2, 0},
    {"energy-saver-battery", 0x7, 0xffff, 42176, 42177, 2, 0},
    {"background-tab-throttling", 0x4, 0x7, 42178, 42179, 2, 0},
    {"gpu-rasterization", 0x1, 0x3, 42180, 42181, 2, 0},
    {"gpu-video-decode", 0x3, 0x7, 42182, 42183, 2, 0},
    {"vsync-adaptive", 0x0, 0xffff, 42184, 42185, 2, 0},
    {"smooth-scrolling", 0xf, 0x0, 42186, 42187, 2, 0},
    {"overlay-scrollbars", 0x6, 0x6, 42188, 42189, 2, 0},
    {"touch-mode-auto", 0x4, 0x4, 42190, 42191, 2, 0},
    {"pen-input-gestures", 0x7, 0xffff, 42192, 42193, 2, 0},
    {"high-contrast-adjust", 0x4, 0x7, 42194, 42195, 2, 0},
    {"accessibility-caret-browsing", 0x1, 0x3, 42196, 42197, 2, 0},
    {"screen-reader-hints", 0x3, 0x7, 42198, 42199, 2, 0},
    {"feed-reader", 0x0, 0xffff, 42200, 42201, 2, 0},
    {"feed-reader-notifications", 0xf, 0x0, 42202, 42203, 2, 0},
    {"mail-client", 0x6, 0x6, 42204, 42205, 2, 0},
    {"calendar-client", 0x4, 0x4, 42206, 42207, 2, 0},
    {"contacts-panel", 0x7, 0xffff, 42208, 42209, 2, 0},
    {"crash-recovery-dialog", 0x4, 0x7, 42210, 42211, 2, 0},
    {"session-restore-lazy", 0x1, 0x3, 42212, 42213, 2, 0},
    {"session-autosave", 0x3, 0x7, 42214, 42215, 2, 0},
    {"startup-boost", 0x0, 0xffff, 42216, 42217, 2, 0},
    {"update-notification-badge", 0xf, 0x0, 42218, 42219, 2, 0},
    {"update-background-download", 0x6, 0x6, 42220, 42221, 2, 0},
    {"installer-repair-prompt", 0x4, 0x4, 42222, 42223, 2, 0},
    {"default-browser-prompt", 0x7, 0xffff, 42224, 42225, 2, 0},
    {"first-run-tour", 0x4, 0x7, 42226, 42227, 2, 0},
    {"first-run-import", 0x1, 0x3, 42228, 42229, 2, 0},
    {"tab-close-confirm", 0x3, 0x7, 42230, 42231, 2, 0},
    {"window-close-confirm", 0x0, 0xffff, 42232, 42233, 2, 0},
    {"link-preview-popup", 0xf, 0x0, 42234, 42235, 2, 0},
    {"clipboard-history", 0x6, 0x6, 42236, 42237, 2, 0},
    {"capture-to-notes", 0x4, 0x4, 42238, 42239, 2, 0},
};

// The second edition's user-agent token.
constexpr char kSecondEditionToken[] = "VLMX";

const StreamMaskRow kStreamMasks[8] = {
    {"VLM", 1, 0x7, 0x7, 0},
    {"VLM", 2, 0x6, 0x6, 0},
    {"VLM", 3, 0x4, 0x4, 0},
    {"VLM", 4, 0x4, 0x4, 0},
    {kSecondEditionToken, 1, 0x8, 0x8, 0},
    {kSecondEditionToken, 2, 0x8, 0x8, 0},
    {kSecondEditionToken, 3, 0x8, 0x8, 0},
    {kSecondEditionToken, 4, 0x8, 0x8, 0},
};

const ExperimentRow* GetInstallerExperiments(size_t* count) {
  *count = std::size(kInstallerExperiments);
  return kInstallerExperiments;
}

const ExperimentRow* FindBrowserFeature(std::string_view name) {
  for (const ExperimentRow& row : kBrowserFeatures) {
    if (name == row.name)
      return &row;
  }
  return nullptr;
}

StreamMasks GetCurrentStreamMasks() {
  std::string token = GetUserAgentName();
  for (const StreamMaskRow& row : kStreamMasks) {
    if (token == row.user_agent_token && row.stream == kBuildStream)
      return {row.enabled_mask, row.switchable_mask};
  }
  return {0, 0};
}

bool IsFeatureEnabledByDefault(const ExperimentRow& row) {
  return (row.enabled_stream_mask & GetCurrentStreamMasks().enabled_mask) != 0;
}

bool IsFeatureSwitchable(const ExperimentRow& row) {
  return (row.switchable_stream_mask & GetCurrentStreamMasks().switchable_mask) != 0;
}

void RegisterInstallerExperiments(base::FeatureRegistry& registry) {
  StreamMasks masks = GetCurrentStreamMasks();
  for (const ExperimentRow& row : kInstallerExperiments) {
    registry.RegisterFeature(row.name, (row.enabled_stream_mask & masks.enabled_mask) != 0,
                             (row.switchable_stream_mask & masks.switchable_mask) != 0);
  }
}

}  // namespace installer
