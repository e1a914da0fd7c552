#include "RefusedThreadStarts.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<bool> Refusing{false};
std::atomic<int> Allowed{0};
std::atomic<int> RefusedCount{0};

using TCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*routine)(void*), void* argument) {
  if (Refusing.load() && Allowed.fetch_sub(1) <= 0) {
    RefusedCount.fetch_add(1);
    return EAGAIN;
  }
  static const auto next = reinterpret_cast<TCreate>(::dlsym(RTLD_NEXT, "pthread_create"));
  return next(thread, attributes, routine, argument);
}

TRefusedThreadStarts::TRefusedThreadStarts(int allowed) {
  RefusedCount = 0;
  Allowed = allowed;
  Refusing = true;
}

TRefusedThreadStarts::~TRefusedThreadStarts() { Refusing = false; }

int TRefusedThreadStarts::Refused() const { return RefusedCount.load(); }
