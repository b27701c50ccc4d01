#include "base/bind.h"

#include <memory>
#include <string>

#include "base/callback.h"
#include "base/weak_ref.h"
#include "gtest/gtest.h"

namespace base {
namespace {

int Sum3(int a, int b, int c) { return a * 100 + b * 10 + c; }

void Append(std::string* out, const std::string& text) { *out += text; }

int Consume(std::unique_ptr<int> value, int add) { return value ? *value + add : -1; }

class Counter : public RefCountedThreadSafe<Counter> {
 public:
  explicit Counter(int* destroyed) : destroyed_(destroyed) {}
  void Add(int amount) { total_ += amount; }
  int Total() const { return total_; }

 private:
  friend class RefCountedThreadSafe<Counter>;
  ~Counter() { ++*destroyed_; }
  int* destroyed_;
  int total_ = 0;
};

class Target {
 public:
  void Hit(int amount) { hits_ += amount; }
  int hits() const { return hits_; }
  WeakRef<Target> GetWeakRef() { return weak_factory_.GetWeakRef(); }
  void Invalidate() { weak_factory_.InvalidateWeakRefs(); }

 private:
  int hits_ = 0;
  WeakRefFactory<Target> weak_factory_{this};
};

TEST(BindTest, BoundArgumentsComeBeforeRunArguments) {
  Callback<int(int, int)> one = Bind(&Sum3, 1);
  Callback<int(int)> two = Bind(&Sum3, 1, 2);
  Callback<int()> three = Bind(&Sum3, 1, 2, 3);
  EXPECT_EQ(one.Run(2, 3), 123);
  EXPECT_EQ(two.Run(4), 124);
  EXPECT_EQ(three.Run(), 123);
  // Curry a callback; run a lambda.
  EXPECT_EQ(Bind(two, 7).Run(), 127);
  EXPECT_EQ(Bind([](int a, int b) { return a - b; }, 10).Run(3), 7);
}

TEST(BindTest, ArgumentsAreCopiedIntoTheRecord) {
  std::string out;
  std::string text = "abc";
  Closure append = Bind(&Append, &out, text);
  text = "changed";
  append.Run();
  append.Run();
  EXPECT_EQ(out, "abcabc");
}

TEST(BindTest, MoveOnlyArguments) {
  Callback<int(int)> passed = Bind(&Consume, Passed(std::make_unique<int>(40)));
  EXPECT_EQ(passed.Run(2), 42);
  Callback<int(int)> moved = Bind(&Consume, std::make_unique<int>(5));
  EXPECT_EQ(moved.Run(1), 6);
  // A plain move-only argument was moved out by the first run.
  EXPECT_EQ(moved.Run(1), -1);
}

TEST(BindTest, CopiesShareOneRecordAndNullStates) {
  Closure empty;
  EXPECT_TRUE(empty.is_null());
  EXPECT_FALSE(empty.IsCancelled());
  Callback<int()> a = Bind(&Sum3, 0, 0, 1);
  Callback<int()> b = a;
  EXPECT_TRUE(a.Equals(b));
  EXPECT_FALSE(a.Equals(Bind(&Sum3, 0, 0, 1)));
  a.Reset();
  EXPECT_TRUE(a.is_null());
  EXPECT_EQ(b.Run(), 1);
}

TEST(BindTest, SharedRefReceiverKeepsObjectAlive) {
  int destroyed = 0;
  Closure add;
  {
    SharedRef<Counter> counter = MakeShared<Counter>(&destroyed);
    add = Bind(&Counter::Add, counter, 5);
    Callback<int()> total = Bind(&Counter::Total, Unretained(counter.get()));
    add.Run();
    EXPECT_EQ(total.Run(), 5);
  }
  EXPECT_EQ(destroyed, 0);
  add.Run();
  add.Reset();
  EXPECT_EQ(destroyed, 1);
}

TEST(BindTest, WeakRefReceiverDoesNothingOnceGone) {
  Closure hit;
  Closure hit_after_invalidate;
  {
    Target target;
    hit = Bind(&Target::Hit, target.GetWeakRef(), 1);
    EXPECT_FALSE(hit.IsCancelled());
    hit.Run();
    EXPECT_EQ(target.hits(), 1);
    target.Invalidate();
    EXPECT_TRUE(hit.IsCancelled());
    hit.Run();
    EXPECT_EQ(target.hits(), 1);
    // References made after the invalidation work.
    hit_after_invalidate = Bind(&Target::Hit, target.GetWeakRef(), 10);
    hit_after_invalidate.Run();
    EXPECT_EQ(target.hits(), 11);
  }
  EXPECT_TRUE(hit_after_invalidate.IsCancelled());
  hit_after_invalidate.Run();  // Must not touch the destroyed object.
}

TEST(BindDeathTest, RunningANullCallbackStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Closure empty;
  EXPECT_DEATH(empty.Run(), "");
}

}  // namespace
}  // namespace base
