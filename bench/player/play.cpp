// Plays a file to its end, pictures and sound on SDL's dummy drivers (they draw and play in
// real time but show and sound nothing), and measures each picture shown against the sound's
// clock at that moment. Prints, over the pictures after the first second, their number, the
// median and largest |picture time - sound clock| in ms, and the pace of the pictures against
// the wall clock (1.0 is real time). Exit status 0 once the end was reached.
//
//     fennick_play FILE [audio|external|slow]
//
// "external" paces both sides by the wall clock; "slow" plays the sound into SDL's disk
// driver at 0.77 of real time (30 ms per buffer of 1024 samples).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "FFBaseComponent.h"
#include "FFPlayer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TShown {
  double Pts, AudioClock, WallSeconds;
};

class TSyncPlayer : public TFFPlayer {
 public:
  std::vector<TShown> Shown() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FShown;
  }

 protected:
  void PictureShown(double pts, double audioClock) override {
    const double wall = std::chrono::duration<double>(Clock::now() - FStart).count();
    const std::lock_guard<std::mutex> lock(FLock);
    FShown.push_back({pts, audioClock, wall});
  }

 private:
  mutable std::mutex FLock;
  Clock::time_point FStart = Clock::now();
  std::vector<TShown> FShown;
};

void Report(const std::vector<TShown>& all) {
  std::vector<TShown> shown;
  for (const TShown& picture : all)
    if (picture.WallSeconds >= all.front().WallSeconds + 1.0) shown.push_back(picture);
  if (shown.size() < 2) return;  // sound only, or too short to measure
  std::vector<double> drift;
  for (const TShown& picture : shown) drift.push_back(std::fabs(picture.Pts - picture.AudioClock));
  std::sort(drift.begin(), drift.end());
  const double pace = (shown.back().Pts - shown.front().Pts) /
                      (shown.back().WallSeconds - shown.front().WallSeconds);
  std::printf("pictures=%zu median_ms=%.1f largest_ms=%.1f pace=%.3f\n", shown.size(),
              drift[drift.size() / 2] * 1000, drift.back() * 1000, pace);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[2] : "audio";
  if (argc < 2 || argc > 3 || (mode != "audio" && mode != "external" && mode != "slow")) {
    std::fprintf(stderr, "usage: %s FILE [audio|external|slow]\n", argv[0]);
    return 2;
  }
  SetMainThread();
  TSyncPlayer player;
  player.VideoDriver = vdDummy;
  player.AudioDriver = mode == "slow" ? adDisk : adDummy;
  if (mode == "slow") {
    ::setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    ::setenv("SDL_DISKAUDIODELAY", "30", 1);
  }
  if (mode == "external") player.SyncSource = ssExternal;
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
  const auto deadline = Clock::now() + std::chrono::hours(1);
  while (!ended && Clock::now() < deadline) CheckSynchronize(50);
  player.Stop(true);
  Report(player.Shown());
  return ended ? 0 : 1;
}
