// Carries the package fetcher's calls from its worker thread to the
// controller's thread: every call is posted there, and runs only if the
// proxy still holds the controller's delegate. The fetcher clears the
// delegates when it terminates, so nothing reaches the controller after it.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_DELEGATE_PROXY_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_DELEGATE_PROXY_H_

#include <atomic>
#include <cstdint>

#include "base/ref_counted_thread_safe.h"
#include "base/shared_ref.h"
#include "base/threading/ordered_task_runner.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_delegate.h"

namespace installer {

class PackageFetcherDelegateProxy : public PackageFetcherDelegate,
                                    public FetcherUIDelegate,
                                    public base::RefCountedThreadSafe<PackageFetcherDelegateProxy> {
 public:
  // Created on the controller's thread, whose task runner it keeps.
  // |delegate| may be null; |ui| is required.
  PackageFetcherDelegateProxy(FetcherUIDelegate* ui, PackageFetcherDelegate* delegate);
  PackageFetcherDelegateProxy(const PackageFetcherDelegateProxy&) = delete;
  PackageFetcherDelegateProxy& operator=(const PackageFetcherDelegateProxy&) = delete;

  // PackageFetcherDelegate, from any thread:
  void SetTotalProgress(uint32_t total) override;
  void SetCurrentProgress(uint32_t current) override;
  void NotifyStalled() override;
  void NotifyStatusChanged(uint32_t status) override;
  // FetcherUIDelegate, from any thread:
  void RunUICallbackAndPostReply(UITask ui_task, base::SharedRef<base::TaskRunner> reply_runner,
                                 base::Closure reply) override;

  // Calls still queued, and later ones, do nothing.
  void ClearDelegates();

 private:
  friend class base::RefCountedThreadSafe<PackageFetcherDelegateProxy>;
  ~PackageFetcherDelegateProxy() override;

  // On the controller's thread.
  void DoSetTotalProgress(uint32_t total);
  void DoSetCurrentProgress(uint32_t current);
  void DoNotifyStalled();
  void DoNotifyStatusChanged(uint32_t status);
  void DoRunUICallbackAndPostReply(UITask ui_task, base::SharedRef<base::TaskRunner> reply_runner,
                                   base::Closure reply);

  const base::SharedRef<base::OrderedTaskRunner> runner_;
  std::atomic<PackageFetcherDelegate*> delegate_;
  std::atomic<FetcherUIDelegate*> ui_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_DELEGATE_PROXY_H_
