// Plays a file to its end, pictures and sound on SDL's dummy drivers (they draw and play in
// real time but show and sound nothing). Exit status 0 once the end was reached.
//
//     fennick_play FILE
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "FFBaseComponent.h"
#include "FFPlayer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  SetMainThread();
  TFFPlayer player;
  player.VideoDriver = vdDummy;
  player.AudioDriver = adDummy;
  player.TriggerEventInMainThread = false;
  if (!player.LoadAVLib(FENNICK_LIBAV_DIR)) {
    std::fprintf(stderr, "%s\n", player.LastErrMsg().c_str());
    return 1;
  }
  std::atomic<bool> ended{false};
  player.OnState = [&ended](void*, TPlayState state) {
    if (state == psEnd) ended = true;
  };
  if (!player.Open(argv[1], 0)) {
    std::fprintf(stderr, "%s\n", player.LastErrMsg().c_str());
    return 1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::hours(1);
  while (!ended && std::chrono::steady_clock::now() < deadline) CheckSynchronize(50);
  player.Stop(true);
  return ended ? 0 : 1;
}
