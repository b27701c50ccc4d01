// ThreadNameRegistry: the names of threads by id. Names are interned and
// never freed, so the text GetName returns lives as long as the process and
// equal names have equal addresses.
#ifndef BASE_THREADING_THREAD_NAME_REGISTRY_H_
#define BASE_THREADING_THREAD_NAME_REGISTRY_H_

#include <windows.h>

#include <map>
#include <set>
#include <string>

#include "base/threading/lock.h"

namespace base {

class ThreadNameRegistry {
 public:
  static ThreadNameRegistry* GetInstance();

  ThreadNameRegistry() = default;
  ThreadNameRegistry(const ThreadNameRegistry&) = delete;
  ThreadNameRegistry& operator=(const ThreadNameRegistry&) = delete;

  // Names |thread_id|; returns the interned text.
  const char* SetName(DWORD thread_id, const std::string& name);
  // The name of |thread_id|, or the (interned) empty name.
  const char* GetName(DWORD thread_id);
  // The interned copy of |name|.
  const char* Intern(const std::string& name);

 private:
  const char* InternLocked(const std::string& name);

  Lock lock_;
  std::set<std::string> names_;
  std::map<DWORD, const char*> thread_names_;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_NAME_REGISTRY_H_
