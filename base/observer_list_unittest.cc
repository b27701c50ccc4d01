#include "base/observer_list.h"

#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

class Observer {
 public:
  virtual void OnEvent(int id) = 0;

 protected:
  virtual ~Observer() = default;
};

// Records each notification; can act on the list while notified.
class Recorder : public Observer {
 public:
  Recorder(int id, std::vector<int>* log) : id_(id), log_(log) {}
  void OnEvent(int) override {
    log_->push_back(id_);
    if (remove_)
      list_->RemoveObserver(remove_);
    if (add_)
      list_->AddObserver(add_);
    if (nest_ && !nested_) {
      nested_ = true;
      list_->Notify(&Observer::OnEvent, 1);
    }
  }

  ObserverList<Observer>* list_ = nullptr;
  Observer* remove_ = nullptr;
  Observer* add_ = nullptr;
  bool nest_ = false;

 private:
  int id_;
  std::vector<int>* log_;
  bool nested_ = false;
};

TEST(ObserverListTest, AddIsIdempotentAndRemoveErases) {
  std::vector<int> log;
  Recorder a(1, &log), b(2, &log);
  ObserverList<Observer> list;
  list.AddObserver(&a);
  list.AddObserver(&b);
  list.AddObserver(&a);
  list.Notify(&Observer::OnEvent, 0);
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
  list.RemoveObserver(&a);
  EXPECT_FALSE(list.HasObserver(&a));
  log.clear();
  for (Observer& observer : list)
    observer.OnEvent(0);
  EXPECT_EQ(log, (std::vector<int>{2}));
}

TEST(ObserverListTest, RemovalAndAdditionDuringNotification) {
  std::vector<int> log;
  Recorder a(1, &log), b(2, &log), c(3, &log), late(4, &log);
  ObserverList<Observer> list;
  list.AddObserver(&a);
  list.AddObserver(&b);
  list.AddObserver(&c);
  // a removes c (not yet visited: skipped) and itself stays; b adds |late|,
  // which waits for the next notification.
  a.list_ = &list;
  a.remove_ = &c;
  b.list_ = &list;
  b.add_ = &late;
  list.Notify(&Observer::OnEvent, 0);
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
  a.remove_ = nullptr;
  b.add_ = nullptr;
  log.clear();
  list.Notify(&Observer::OnEvent, 0);
  EXPECT_EQ(log, (std::vector<int>{1, 2, 4}));
  // The removed entry was compacted away; re-adding appends it once.
  list.AddObserver(&c);
  log.clear();
  list.Notify(&Observer::OnEvent, 0);
  EXPECT_EQ(log, (std::vector<int>{1, 2, 4, 3}));
}

TEST(ObserverListTest, NestedNotificationSkipsRemovedObservers) {
  std::vector<int> log;
  Recorder a(1, &log), b(2, &log), c(3, &log);
  ObserverList<Observer> list;
  list.AddObserver(&a);
  list.AddObserver(&b);
  list.AddObserver(&c);
  // b removes itself and then notifies again from inside.
  b.list_ = &list;
  b.remove_ = &b;
  b.nest_ = true;
  list.Notify(&Observer::OnEvent, 0);
  // Outer: a, b (removes b, nested: a, c), then c.
  EXPECT_EQ(log, (std::vector<int>{1, 2, 1, 3, 3}));
  EXPECT_FALSE(list.HasObserver(&b));
  EXPECT_TRUE(list.HasObserver(&c));
}

}  // namespace
}  // namespace base
