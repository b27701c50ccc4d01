#include "base/threading/thread_name_registry.h"

#include "base/lazy_instance.h"

namespace base {

namespace {
// Never destroyed: the interned names must outlive every user.
LeakyLazyInstance<ThreadNameRegistry> g_registry;
}  // namespace

// static
ThreadNameRegistry* ThreadNameRegistry::GetInstance() { return g_registry.Pointer(); }

const char* ThreadNameRegistry::SetName(DWORD thread_id, const std::string& name) {
  AutoLock hold(lock_);
  const char* interned = InternLocked(name);
  thread_names_[thread_id] = interned;
  return interned;
}

const char* ThreadNameRegistry::GetName(DWORD thread_id) {
  AutoLock hold(lock_);
  auto it = thread_names_.find(thread_id);
  if (it != thread_names_.end())
    return it->second;
  return InternLocked(std::string());
}

const char* ThreadNameRegistry::Intern(const std::string& name) {
  AutoLock hold(lock_);
  return InternLocked(name);
}

const char* ThreadNameRegistry::InternLocked(const std::string& name) {
  // Set nodes never move, so the text stays where it is.
  return names_.insert(name).first->c_str();
}

}  // namespace base
