#include "PlayerTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "FFBaseComponent.h"

namespace playertest {

TRecorder::TRecorder(TCustomPlayer& player) {
  player.OnPosition = [this](void*, int64_t pts) {
    const std::lock_guard<std::mutex> lock(FLock);
    FPositions.push_back({Elapsed(), pts});
  };
  player.OnState = [this](void*, TPlayState state) {
    const std::lock_guard<std::mutex> lock(FLock);
    FStates.push_back(state);
  };
}

std::vector<TPositionReport> TRecorder::Positions() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FPositions;
}

std::vector<TPlayState> TRecorder::States() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FStates;
}

int TRecorder::CountOf(TPlayState state) const {
  const std::lock_guard<std::mutex> lock(FLock);
  return int(std::count(FStates.begin(), FStates.end(), state));
}

int64_t TRecorder::LastPosition() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FPositions.empty() ? -1 : FPositions.back().Position;
}

double TRecorder::Elapsed() const {
  return std::chrono::duration<double>(Clock::now() - FStart).count();
}

std::vector<TMeasuringPlayer::TShown> TMeasuringPlayer::Shown() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FShown;
}

size_t TMeasuringPlayer::ShownCount() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FShown.size();
}

double PositionPace(const std::vector<TPositionReport>& positions, int64_t from, int64_t to) {
  const TPositionReport* early = nullptr;
  const TPositionReport* late = nullptr;
  for (const auto& report : positions) {
    if (!early && report.Position >= from) early = &report;
    if (report.Position <= to) late = &report;
  }
  EXPECT_TRUE(early && late && late > early) << "no reports from " << from << " to " << to;
  if (!early || !late || late <= early) return 0;
  return (late->Position - early->Position) / 1e6 / (late->WallSeconds - early->WallSeconds);
}

double TMeasuringPlayer::Elapsed() const {
  return std::chrono::duration<double>(Clock::now() - FStart).count();
}

void TMeasuringPlayer::PictureShown(double pts, double audioClock) {
  const double wall = Elapsed();
  const std::lock_guard<std::mutex> lock(FLock);
  FShown.push_back({pts, audioClock, wall});
}

TPixel PixelAt(const TBitmap& bitmap, int x, int y) {
  const uint8_t* pixel = bitmap.ScanLine(y) + x * (bitmap.BitsPixel() / 8);
  return {pixel[0], pixel[1], pixel[2]};
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    CheckSynchronize(10);
  }
  return true;
}

void PumpFor(int milliseconds) {
  PumpUntil([] { return false; }, milliseconds);
}

TSilentServer::TSilentServer() {
  FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_GE(FSocket, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(::listen(FSocket, 4), 0);
  socklen_t length = sizeof address;
  ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length);
  FUrl = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/clip.mp4";
}

TSilentServer::~TSilentServer() {
  if (FSocket >= 0) ::close(FSocket);
}

void LoadPlayer(TCustomPlayer& player) {
  // Always named: without a video driver and a display SDL takes over the terminal.
  player.VideoDriver = vdDummy;
  player.AudioDriver = adDummy;
  ASSERT_TRUE(player.LoadAVLib(FENNICK_LIBAV_DIR)) << player.LastErrMsg();
}

std::vector<int16_t> ReadSamples(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

int PeakOf(const std::vector<int16_t>& samples, size_t from, size_t to) {
  int peak = 0;
  for (size_t n = from; n < std::min(to, samples.size()); ++n)
    peak = std::max(peak, std::abs(int(samples[n])));
  return peak;
}

}  // namespace playertest
