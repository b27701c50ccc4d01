#include "desktop/windows/installer/package_fetcher/package_fetcher_delegate_proxy.h"

#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/threading/current_task_runner.h"

namespace installer {

PackageFetcherDelegateProxy::PackageFetcherDelegateProxy(FetcherUIDelegate* ui,
                                                         PackageFetcherDelegate* delegate)
    : runner_(base::CurrentTaskRunner::Get()), delegate_(delegate), ui_(ui) {
  CHECK(ui) << "a package fetcher needs a FetcherUIDelegate";
  CHECK(runner_) << "a package fetcher is created on a thread with a message loop";
}

PackageFetcherDelegateProxy::~PackageFetcherDelegateProxy() = default;

void PackageFetcherDelegateProxy::SetTotalProgress(uint32_t total) {
  runner_->PostTask(FROM_HERE,
                    base::Bind(&PackageFetcherDelegateProxy::DoSetTotalProgress,
                               base::SharedRef<PackageFetcherDelegateProxy>(this), total));
}

void PackageFetcherDelegateProxy::SetCurrentProgress(uint32_t current) {
  runner_->PostTask(FROM_HERE,
                    base::Bind(&PackageFetcherDelegateProxy::DoSetCurrentProgress,
                               base::SharedRef<PackageFetcherDelegateProxy>(this), current));
}

void PackageFetcherDelegateProxy::NotifyStalled() {
  runner_->PostTask(FROM_HERE, base::Bind(&PackageFetcherDelegateProxy::DoNotifyStalled,
                                          base::SharedRef<PackageFetcherDelegateProxy>(this)));
}

void PackageFetcherDelegateProxy::NotifyStatusChanged(uint32_t status) {
  runner_->PostTask(FROM_HERE,
                    base::Bind(&PackageFetcherDelegateProxy::DoNotifyStatusChanged,
                               base::SharedRef<PackageFetcherDelegateProxy>(this), status));
}

void PackageFetcherDelegateProxy::RunUICallbackAndPostReply(
    UITask ui_task, base::SharedRef<base::TaskRunner> reply_runner, base::Closure reply) {
  runner_->PostTask(
      FROM_HERE, base::Bind(&PackageFetcherDelegateProxy::DoRunUICallbackAndPostReply,
                            base::SharedRef<PackageFetcherDelegateProxy>(this), std::move(ui_task),
                            std::move(reply_runner), std::move(reply)));
}

void PackageFetcherDelegateProxy::ClearDelegates() {
  delegate_.store(nullptr);
  ui_.store(nullptr);
}

void PackageFetcherDelegateProxy::DoSetTotalProgress(uint32_t total) {
  if (PackageFetcherDelegate* delegate = delegate_.load())
    delegate->SetTotalProgress(total);
}

void PackageFetcherDelegateProxy::DoSetCurrentProgress(uint32_t current) {
  if (PackageFetcherDelegate* delegate = delegate_.load())
    delegate->SetCurrentProgress(current);
}

void PackageFetcherDelegateProxy::DoNotifyStalled() {
  if (PackageFetcherDelegate* delegate = delegate_.load())
    delegate->NotifyStalled();
}

void PackageFetcherDelegateProxy::DoNotifyStatusChanged(uint32_t status) {
  if (PackageFetcherDelegate* delegate = delegate_.load())
    delegate->NotifyStatusChanged(status);
}

void PackageFetcherDelegateProxy::DoRunUICallbackAndPostReply(
    UITask ui_task, base::SharedRef<base::TaskRunner> reply_runner, base::Closure reply) {
  if (FetcherUIDelegate* ui = ui_.load()) {
    ui->RunUICallbackAndPostReply(std::move(ui_task), std::move(reply_runner), std::move(reply));
    return;
  }
  // Whoever asked still waits for the reply: it learns that nothing ran.
  reply_runner->PostTask(FROM_HERE, std::move(reply));
}

}  // namespace installer
