// What the player tests share: a player on the program's LibAV folder that records its
// events with their wall-clock times, and waits that keep the main thread dispatching.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "FFPlayer.h"

namespace playertest {

using Clock = std::chrono::steady_clock;

struct TPositionReport {
  double WallSeconds;  // since the recorder started
  int64_t Position;
};

// Seconds of position per second of the wall clock, from the first report at or past `from`
// to the last at or before `to` (µs); 0, with a test failure, when the reports do not span them.
double PositionPace(const std::vector<TPositionReport>& positions, int64_t from, int64_t to);

// Records OnPosition and OnState, raised on the main thread (the test's), as a program sees them.
class TRecorder {
 public:
  explicit TRecorder(TCustomPlayer& player);

  std::vector<TPositionReport> Positions() const;
  std::vector<TPlayState> States() const;
  int CountOf(TPlayState state) const;
  int64_t LastPosition() const;
  double Elapsed() const;

 private:
  mutable std::mutex FLock;
  Clock::time_point FStart = Clock::now();
  std::vector<TPositionReport> FPositions;
  std::vector<TPlayState> FStates;
};

// A player that notes each picture it shows, with the sound's clock at that moment.
class TMeasuringPlayer : public TFFPlayer {
 public:
  struct TShown {
    double Pts;         // s
    double AudioClock;  // s
    double WallSeconds;  // since the player was made
  };
  ~TMeasuringPlayer() override { StopForDestruction(); }
  std::vector<TShown> Shown() const;
  size_t ShownCount() const;
  // Seconds since the player was made, as the pictures' WallSeconds.
  double Elapsed() const;

 protected:
  void PictureShown(double pts, double audioClock) override;

 private:
  mutable std::mutex FLock;
  Clock::time_point FStart = Clock::now();
  std::vector<TShown> FShown;
};

// The blue, green and red of a bitmap's pixel (24 or 32 bits).
struct TPixel {
  int Blue, Green, Red;
};
TPixel PixelAt(const TBitmap& bitmap, int x, int y);
inline int Luma(const TPixel& pixel) { return (pixel.Red + pixel.Green + pixel.Blue) / 3; }

// Dispatches main-thread calls until the predicate holds or the time is up; the predicate's result.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);
void PumpFor(int milliseconds);

// A local server that takes connections and never answers: an opening waits on it.
class TSilentServer {
 public:
  TSilentServer();
  ~TSilentServer();
  TSilentServer(const TSilentServer&) = delete;
  TSilentServer& operator=(const TSilentServer&) = delete;
  const std::string& Url() const { return FUrl; }

 private:
  int FSocket = -1;
  std::string FUrl;
};

// A player on the LibAV folder with SDL's dummy drivers.
void LoadPlayer(TCustomPlayer& player);

// The signed 16-bit samples of a file.
std::vector<int16_t> ReadSamples(const std::string& path);
int PeakOf(const std::vector<int16_t>& samples, size_t from, size_t to);

}  // namespace playertest
