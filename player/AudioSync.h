// Keeps the sound in step with a master clock other than its own (the video clock) by
// shortening or stretching each decoded buffer by at most a tenth.
#pragma once

#include <cstdint>

class TAudioSync {
 public:
  // Forgets the measurements; the threshold is 2048 samples at the rate.
  void Reset(int sampleRate);
  // Called with each decoded buffer of packed signed 16-bit frames: `diff` is the audio clock
  // minus the master clock in seconds. Returns the buffer's new size in bytes, never more than
  // `capacity`; added bytes repeat the last frame.
  int Adjust(double diff, uint8_t* samples, int size, int capacity, int channels);

  static constexpr int MeasurementsBeforeCorrection = 20;
  // A drift this large (either way) is a jump of the clocks, not a drift.
  static constexpr double NoSyncThreshold = 10.0;

 private:
  double FAccumulator = 0;
  double FCoefficient = 0;
  double FThreshold = 0;
  int FCount = 0;
  int FSampleRate = 0;
};
