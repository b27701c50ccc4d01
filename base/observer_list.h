// ObserverList<T>: the observers of a notifying class, used on one thread.
//
// AddObserver appends unless the observer is present. RemoveObserver erases
// it, or, while a notification runs, nulls its entry so that the running
// notifications skip it. A notification visits the observers present when it
// started (ones added meanwhile wait for the next notification); nested
// notifications are allowed, and the nulled entries are compacted when the
// outermost one ends.
//
//   for (Observer& observer : observers_) observer.OnChanged();
//   observers_.Notify(&Observer::OnChanged);
#ifndef BASE_OBSERVER_LIST_H_
#define BASE_OBSERVER_LIST_H_

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace base {

template <typename T>
class ObserverList {
 public:
  // A notification in progress: the list's entries up to the size it had at
  // the start, skipping nulled ones.
  class Iterator {
   public:
    explicit Iterator(ObserverList* list) : list_(list), end_(list->observers_.size()) {
      ++list_->notify_depth_;
    }
    Iterator(const Iterator&) = delete;
    Iterator& operator=(const Iterator&) = delete;
    ~Iterator() {
      if (--list_->notify_depth_ == 0)
        list_->Compact();
    }

    // The next observer, or null at the end.
    T* GetNext() {
      while (index_ < end_) {
        T* observer = list_->observers_[index_++];
        if (observer)
          return observer;
      }
      return nullptr;
    }

   private:
    ObserverList* list_;
    size_t index_ = 0;
    size_t end_;
  };

  ObserverList() = default;
  ObserverList(const ObserverList&) = delete;
  ObserverList& operator=(const ObserverList&) = delete;

  void AddObserver(T* observer) {
    if (!observer || HasObserver(observer))
      return;
    observers_.push_back(observer);
  }

  void RemoveObserver(const T* observer) {
    auto it = std::find(observers_.begin(), observers_.end(), observer);
    if (it == observers_.end())
      return;
    if (notify_depth_ > 0)
      *it = nullptr;
    else
      observers_.erase(it);
  }

  bool HasObserver(const T* observer) const {
    return observer &&
           std::find(observers_.begin(), observers_.end(), observer) != observers_.end();
  }

  void Clear() {
    if (notify_depth_ > 0)
      std::fill(observers_.begin(), observers_.end(), nullptr);
    else
      observers_.clear();
  }

  bool might_have_observers() const { return !observers_.empty(); }

  // Calls |method| with |args| on each observer (see the class comment).
  template <typename Method, typename... Args>
  void Notify(Method method, const Args&... args) {
    Iterator it(this);
    while (T* observer = it.GetNext())
      (observer->*method)(args...);
  }

  // Range-for over a notification: for (T& observer : list) ...
  class RangeIterator {
   public:
    RangeIterator(ObserverList* list) : it_(list) { current_ = it_.GetNext(); }
    T& operator*() const { return *current_; }
    void operator++() { current_ = it_.GetNext(); }
    bool operator!=(std::nullptr_t) const { return current_ != nullptr; }

   private:
    Iterator it_;
    T* current_;
  };
  RangeIterator begin() { return RangeIterator(this); }
  std::nullptr_t end() { return nullptr; }

 private:
  void Compact() {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), nullptr), observers_.end());
  }

  std::vector<T*> observers_;
  int notify_depth_ = 0;
};

}  // namespace base

#endif  // BASE_OBSERVER_LIST_H_
