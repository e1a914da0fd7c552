// Thread starts that fail as they do where the process has no room for another thread (its
// address space or its count of threads used up): pthread_create gives EAGAIN. The test program
// puts its own pthread_create before the C library's (and a sanitizer's), so our threads and
// FFmpeg's and SDL's own are refused alike. A suite that uses it lists RefusedThreadStarts.cpp
// among its sources.
#pragma once

class TRefusedThreadStarts {
 public:
  enum class TFrom { AnyThread, ThisThread };

  // Lets the next `allowed` starts through, then refuses `refused` starts (every start, when
  // negative) until destroyed. With ThisThread only the starts this thread makes count and are
  // refused: the threads a call starts itself, not those its threads start meanwhile.
  explicit TRefusedThreadStarts(int allowed = 0, int refused = -1,
                                TFrom from = TFrom::AnyThread);
  ~TRefusedThreadStarts();
  TRefusedThreadStarts(const TRefusedThreadStarts&) = delete;
  TRefusedThreadStarts& operator=(const TRefusedThreadStarts&) = delete;

  // How many starts were refused so far.
  int Refused() const;
};
