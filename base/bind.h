// Bind(function, bound arguments...) makes a Callback whose Run() calls the
// function with the bound arguments followed by Run()'s arguments.
//
//   Bind(&FreeFunction, 1, "text")           a free function
//   Bind(&Class::Method, Unretained(object)) a method; the caller keeps the
//                                            object alive
//   Bind(&Class::Method, weak_ref)           does nothing once the object is
//                                            gone (the method returns void)
//   Bind(&Class::Method, shared_ref)         keeps the object alive
//   Bind(lambda, ...)                        any object with one operator()
//   Bind(callback, ...)                      binds more arguments
//
// Bound arguments are copied or moved into the record. A move-only argument
// is moved into the function on each run: wrap it as Passed(std::move(x)) to
// have a second run stop the process instead of passing an empty value.
// A method needs an explicit receiver (Unretained, WeakRef, SharedRef): a raw
// object pointer does not compile.
#ifndef BASE_BIND_H_
#define BASE_BIND_H_

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "base/bound_call.h"
#include "base/bound_call_allocator.h"
#include "base/callback.h"
#include "base/logging.h"
#include "base/shared_ref.h"
#include "base/weak_ref.h"

namespace base {

template <typename T>
class UnretainedWrapper {
 public:
  explicit UnretainedWrapper(T* ptr) : ptr_(ptr) {}
  T* get() const { return ptr_; }

 private:
  T* ptr_;
};

// The caller guarantees that |ptr| outlives every run of the callback.
template <typename T>
UnretainedWrapper<T> Unretained(T* ptr) {
  return UnretainedWrapper<T>(ptr);
}

template <typename T>
class PassedWrapper {
 public:
  explicit PassedWrapper(T&& value) : value_(std::move(value)) {}
  PassedWrapper(PassedWrapper&& other) = default;

  T Take() {
    CHECK(valid_) << "a Passed() argument was run twice";
    valid_ = false;
    return std::move(value_);
  }

 private:
  bool valid_ = true;
  T value_;
};

// Moves |value| into the function on the first run.
template <typename T, typename = std::enable_if_t<!std::is_lvalue_reference_v<T>>>
PassedWrapper<std::decay_t<T>> Passed(T&& value) {
  return PassedWrapper<std::decay_t<T>>(std::move(value));
}

namespace internal {

template <typename... T>
struct TypeList {};

template <size_t N, typename List>
struct DropTypes {
  using Type = List;
};
template <size_t N, typename Head, typename... Tail>
struct DropTypes<N, TypeList<Head, Tail...>> {
  using Type =
      std::conditional_t<N == 0, TypeList<Head, Tail...>,
                         typename DropTypes<(N == 0 ? 0 : N - 1), TypeList<Tail...>>::Type>;
};

template <typename List>
struct TypeListSize;
template <typename... T>
struct TypeListSize<TypeList<T...>> {
  static constexpr size_t kValue = sizeof...(T);
};

template <typename R, typename List>
struct MakeRunTypeImpl;
template <typename R, typename... P>
struct MakeRunTypeImpl<R, TypeList<P...>> {
  using Type = R(P...);
};

// What Bind needs to know of a functor: its result, its parameters, whether
// it is a method (the first bound argument is then the receiver) and how to
// call it.
template <typename F, typename = void>
struct FunctorTraits;

template <typename R, typename... P>
struct FunctorTraits<R (*)(P...)> {
  using Return = R;
  using Params = TypeList<P...>;
  static constexpr bool kIsMethod = false;
  template <typename... A>
  static R Call(R (*function)(P...), A&&... args) {
    return function(std::forward<A>(args)...);
  }
};

template <typename R, typename C, typename... P>
struct FunctorTraits<R (C::*)(P...)> {
  using Return = R;
  using Params = TypeList<P...>;
  using Class = C;
  static constexpr bool kIsMethod = true;
  template <typename... A>
  static R CallMethod(R (C::*method)(P...), C* object, A&&... args) {
    return (object->*method)(std::forward<A>(args)...);
  }
};

template <typename R, typename C, typename... P>
struct FunctorTraits<R (C::*)(P...) const> {
  using Return = R;
  using Params = TypeList<P...>;
  using Class = C;
  static constexpr bool kIsMethod = true;
  template <typename... A>
  static R CallMethod(R (C::*method)(P...) const, const C* object, A&&... args) {
    return (object->*method)(std::forward<A>(args)...);
  }
};

template <typename Signature>
struct OperatorTraits;
template <typename R, typename C, typename... P>
struct OperatorTraits<R (C::*)(P...)> {
  using Return = R;
  using Params = TypeList<P...>;
};
template <typename R, typename C, typename... P>
struct OperatorTraits<R (C::*)(P...) const> {
  using Return = R;
  using Params = TypeList<P...>;
};

// Lambdas and other objects with a single operator().
template <typename F>
struct FunctorTraits<F, std::void_t<decltype(&F::operator())>> {
  using Return = typename OperatorTraits<decltype(&F::operator())>::Return;
  using Params = typename OperatorTraits<decltype(&F::operator())>::Params;
  static constexpr bool kIsMethod = false;
  template <typename... A>
  static Return Call(F& functor, A&&... args) {
    return functor(std::forward<A>(args)...);
  }
};

template <typename R, typename... P>
struct FunctorTraits<Callback<R(P...)>> {
  using Return = R;
  using Params = TypeList<P...>;
  static constexpr bool kIsMethod = false;
  template <typename... A>
  static R Call(const Callback<R(P...)>& callback, A&&... args) {
    return callback.Run(std::forward<A>(args)...);
  }
};

// How a stored receiver gives its object.
template <typename T>
struct ReceiverTraits {
  static_assert(sizeof(T) == 0,
                "a method needs Unretained(ptr), a WeakRef or a SharedRef as its receiver");
};
template <typename T>
struct ReceiverTraits<UnretainedWrapper<T>> {
  static constexpr bool kIsWeak = false;
  static T* Get(const UnretainedWrapper<T>& receiver) { return receiver.get(); }
};
template <typename T>
struct ReceiverTraits<WeakRef<T>> {
  static constexpr bool kIsWeak = true;
  static T* Get(const WeakRef<T>& receiver) { return receiver.get(); }
};
template <typename T>
struct ReceiverTraits<SharedRef<T>> {
  static constexpr bool kIsWeak = false;
  static T* Get(const SharedRef<T>& receiver) { return receiver.get(); }
};

// How a stored argument is handed to the function on each run.
template <typename T>
struct BoundArg {
  static decltype(auto) Get(T& stored) {
    if constexpr (std::is_copy_constructible_v<T>)
      return static_cast<T&>(stored);
    else
      return static_cast<T&&>(stored);
  }
};
template <typename T>
struct BoundArg<PassedWrapper<T>> {
  static T Get(PassedWrapper<T>& stored) { return stored.Take(); }
};
template <typename T>
struct BoundArg<UnretainedWrapper<T>> {
  static T* Get(UnretainedWrapper<T>& stored) { return stored.get(); }
};

template <typename Functor, typename RunType, typename... Bound>
struct BindState;

template <typename Functor, typename R, typename... Unbound, typename... Bound>
struct BindState<Functor, R(Unbound...), Bound...> final : BoundCall {
  using Traits = FunctorTraits<Functor>;

  template <typename F, typename... B>
  explicit BindState(F&& f, B&&... b)
      : BoundCall(reinterpret_cast<UntypedInvokeFn>(&Invoke), &Destroy, CancelledTest()),
        functor(std::forward<F>(f)),
        bound(std::forward<B>(b)...) {}

  static R Invoke(BoundCall* base, Unbound&&... unbound) {
    BindState* self = static_cast<BindState*>(base);
    return self->InvokeWith(std::make_index_sequence<sizeof...(Bound)>(),
                            std::forward<Unbound>(unbound)...);
  }

  static void Destroy(BoundCall* base) { delete static_cast<BindState*>(base); }

  static CancelledFn CancelledTest() {
    if constexpr (Traits::kIsMethod) {
      using Receiver = std::tuple_element_t<0, std::tuple<Bound...>>;
      if constexpr (ReceiverTraits<Receiver>::kIsWeak)
        return &IsReceiverGone;
    }
    return nullptr;
  }

  static bool IsReceiverGone(const BoundCall* base) {
    const BindState* self = static_cast<const BindState*>(base);
    return !std::get<0>(self->bound);
  }

  template <size_t... I>
  R InvokeWith(std::index_sequence<I...>, Unbound&&... unbound) {
    if constexpr (Traits::kIsMethod) {
      return InvokeMethod(std::make_index_sequence<sizeof...(Bound) - 1>(),
                          std::forward<Unbound>(unbound)...);
    } else {
      return Traits::Call(functor, BoundArg<Bound>::Get(std::get<I>(bound))...,
                          std::forward<Unbound>(unbound)...);
    }
  }

  template <size_t... I>
  R InvokeMethod(std::index_sequence<I...>, Unbound&&... unbound) {
    using Receiver = std::tuple_element_t<0, std::tuple<Bound...>>;
    auto* object = ReceiverTraits<Receiver>::Get(std::get<0>(bound));
    if constexpr (ReceiverTraits<Receiver>::kIsWeak) {
      static_assert(std::is_void_v<R>, "a method bound through a WeakRef must return void");
      if (!object)
        return;
    }
    using Rest = std::tuple<Bound...>;
    return Traits::CallMethod(
        functor, object,
        BoundArg<std::tuple_element_t<I + 1, Rest>>::Get(std::get<I + 1>(bound))...,
        std::forward<Unbound>(unbound)...);
  }

  static void* operator new(size_t size) { return BoundCallAllocator::Allocate(size); }
  static void operator delete(void* block, size_t size) { BoundCallAllocator::Free(block, size); }

  Functor functor;
  std::tuple<Bound...> bound;

 private:
  ~BindState() = default;
};

template <typename Functor, size_t kNumBound>
struct UnboundRunType {
  using Traits = FunctorTraits<Functor>;
  static constexpr size_t kConsumed = Traits::kIsMethod ? kNumBound - 1 : kNumBound;
  static_assert(!Traits::kIsMethod || kNumBound >= 1, "a method needs a receiver");
  static_assert(kConsumed <= TypeListSize<typename Traits::Params>::kValue,
                "more bound arguments than parameters");
  using Type =
      typename MakeRunTypeImpl<typename Traits::Return,
                               typename DropTypes<kConsumed, typename Traits::Params>::Type>::Type;
};

}  // namespace internal

template <typename Functor, typename... Args>
auto Bind(Functor&& functor, Args&&... args) {
  using F = std::decay_t<Functor>;
  using RunType = typename internal::UnboundRunType<F, sizeof...(Args)>::Type;
  using State = internal::BindState<F, RunType, std::decay_t<Args>...>;
  return Callback<RunType>(new State(std::forward<Functor>(functor), std::forward<Args>(args)...));
}

// A closure that does nothing.
Closure DoNothing();

}  // namespace base

#endif  // BASE_BIND_H_
