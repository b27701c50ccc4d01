// PrefStore: a key/value store of preferences, with observers told of each
// changed key. Keys are dotted paths into a dictionary of Values.
#ifndef COMPONENTS_PREFS_PREF_STORE_H_
#define COMPONENTS_PREFS_PREF_STORE_H_

#include <string>
#include <string_view>

#include "base/values.h"

namespace prefs {

class PrefStore {
 public:
  class Observer {
   public:
    // The value at |key| was set, changed or removed.
    virtual void OnPrefValueChanged(const std::string& key) = 0;

   protected:
    virtual ~Observer() = default;
  };

  PrefStore() = default;
  PrefStore(const PrefStore&) = delete;
  PrefStore& operator=(const PrefStore&) = delete;

  // The value at |key|; false when there is none. |result| may be null.
  virtual bool GetValue(std::string_view key, const base::Value** result) const = 0;

  virtual void AddObserver(Observer* observer) = 0;
  virtual void RemoveObserver(Observer* observer) = 0;

 protected:
  virtual ~PrefStore() = default;
};

}  // namespace prefs

#endif  // COMPONENTS_PREFS_PREF_STORE_H_
