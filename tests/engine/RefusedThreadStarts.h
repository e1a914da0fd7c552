// Thread starts that fail as they do where the process has no room for another thread (its
// address space or its count of threads used up): pthread_create gives EAGAIN. The test program
// puts its own pthread_create before the C library's (and a sanitizer's), so the engine's
// threads and FFmpeg's own are refused alike.
#pragma once

class TRefusedThreadStarts {
 public:
  // Lets the next `allowed` starts through, then refuses every start until destroyed.
  explicit TRefusedThreadStarts(int allowed = 0);
  ~TRefusedThreadStarts();
  TRefusedThreadStarts(const TRefusedThreadStarts&) = delete;
  TRefusedThreadStarts& operator=(const TRefusedThreadStarts&) = delete;

  // How many starts were refused so far.
  int Refused() const;
};
