#include "RefusedThreadStarts.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<bool> Refusing{false};
std::atomic<bool> FromAnyThread{true};
std::atomic<pthread_t> Starter{};
std::atomic<int> Allowed{0};
std::atomic<int> ToRefuse{0};
std::atomic<int> RefusedCount{0};

using TCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

bool Refuses() {
  if (!Refusing.load()) return false;
  if (!FromAnyThread.load() && !pthread_equal(Starter.load(), pthread_self())) return false;
  if (Allowed.fetch_sub(1) > 0) return false;
  // A negative count refuses every start; a positive one as many starts as it says.
  int left = ToRefuse.load();
  while (left != 0 && !ToRefuse.compare_exchange_weak(left, left > 0 ? left - 1 : left)) {
  }
  return left != 0;
}

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*routine)(void*), void* argument) {
  if (Refuses()) {
    RefusedCount.fetch_add(1);
    return EAGAIN;
  }
  static const auto next = reinterpret_cast<TCreate>(::dlsym(RTLD_NEXT, "pthread_create"));
  return next(thread, attributes, routine, argument);
}

TRefusedThreadStarts::TRefusedThreadStarts(int allowed, int refused, TFrom from) {
  RefusedCount = 0;
  Allowed = allowed;
  ToRefuse = refused;
  FromAnyThread = from == TFrom::AnyThread;
  Starter = pthread_self();
  Refusing = true;
}

TRefusedThreadStarts::~TRefusedThreadStarts() { Refusing = false; }

int TRefusedThreadStarts::Refused() const { return RefusedCount.load(); }
