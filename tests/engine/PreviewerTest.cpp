#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "FFBaseComponent.h"
#include "MyUtils.h"
#include "Previewer.h"

namespace {

// What the fake windows saw; touched on the main thread only (checked by the tests).
struct TWindowLog {
  int Windows = 0;
  int Width = 0;
  int Height = 0;
  int Draws = 0;
  std::vector<std::string> Captions;
  std::vector<std::thread::id> Threads;
  bool Destroyed = false;
  bool DrawFails = false;
  TPreviewClosedEvent Close;
};

class TFakeWindow : public TPreviewWindow {
 public:
  explicit TFakeWindow(TWindowLog& log) : FLog(log) {}
  ~TFakeWindow() override {
    FLog.Destroyed = true;
    FLog.Threads.push_back(std::this_thread::get_id());
  }
  void SetCaption(const std::string& caption) override {
    FLog.Captions.push_back(caption);
    FLog.Threads.push_back(std::this_thread::get_id());
  }
  void Draw(const TBitmap& bitmap) override {
    if (FLog.DrawFails) throw std::runtime_error("no room for the picture");
    EXPECT_EQ(bitmap.Width(), FLog.Width);
    ++FLog.Draws;
    FLog.Threads.push_back(std::this_thread::get_id());
  }

 private:
  TWindowLog& FLog;
};

TBitmap Picture(int width, int height) {
  TBitmap bitmap;
  bitmap.SetSize(width, height);
  return bitmap;
}

class PreviewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMainThread();
    InstallFakeWindows();
  }
  void TearDown() override { SetPreviewWindowFactory(nullptr); }

  void InstallFakeWindows() {
    SetPreviewWindowFactory([this](const TBitmap& first, TPreviewClosedEvent onClosed) {
      ++FLog.Windows;
      FLog.Width = first.Width();
      FLog.Height = first.Height();
      FLog.Close = std::move(onClosed);
      return std::make_unique<TFakeWindow>(FLog);
    });
  }

  // Runs the main thread's queued calls until the worker is done.
  void PumpUntil(const std::atomic<bool>& done) {
    while (!done) CheckSynchronize(10);
    CheckSynchronize(0);
  }

  bool AllOnMainThread() const {
    for (const std::thread::id id : FLog.Threads)
      if (id != FMainThread) return false;
    return true;
  }

  TWindowLog FLog;
  const std::thread::id FMainThread = std::this_thread::get_id();
};

}  // namespace

TEST_F(PreviewerTest, FirstPictureMakesOneWindowOfItsSizeCaptionedWithTheTime) {
  TPreviewer previewer;
  const TBitmap picture = Picture(64, 48);
  EXPECT_TRUE(previewer.Show(picture, 3723004000));
  EXPECT_TRUE(previewer.Show(picture, 40000));
  EXPECT_EQ(FLog.Windows, 1);
  EXPECT_EQ(FLog.Width, 64);
  EXPECT_EQ(FLog.Height, 48);
  EXPECT_EQ(FLog.Draws, 2);
  EXPECT_EQ(FLog.Captions, (std::vector<std::string>{"01:02:03.004", "00:00:00.040"}));
  EXPECT_FALSE(previewer.Closed());
}

TEST_F(PreviewerTest, TaskThreadWaitsWhileTheMainThreadPaints) {
  std::atomic<bool> done{false};
  std::atomic<int> shown{0};
  bool paintedBeforeReturn = true;
  std::thread task([&] {
    const TBitmap picture = Picture(32, 16);
    TPreviewer previewer;
    for (int frame = 0; frame < 5; ++frame) {
      EXPECT_TRUE(previewer.Show(picture, frame * 40000));
      paintedBeforeReturn = paintedBeforeReturn && FLog.Draws == frame + 1;
      ++shown;
    }
    done = true;
  });
  PumpUntil(done);
  task.join();
  EXPECT_EQ(shown, 5);
  EXPECT_TRUE(paintedBeforeReturn);
  EXPECT_EQ(FLog.Draws, 5);
  EXPECT_EQ(FLog.Captions.back(), "00:00:00.160");
  EXPECT_TRUE(FLog.Destroyed);  // freed with the task's previewer
  EXPECT_TRUE(AllOnMainThread());
}

TEST_F(PreviewerTest, ClosingTheWindowStopsPreviewingWhileTheConversionGoesOn) {
  std::atomic<bool> done{false};
  std::atomic<int> converted{0};
  std::atomic<int> previewCalls{0};
  TPreviewer previewer;
  std::thread task([&] {
    const TBitmap picture = Picture(32, 16);
    bool previewing = true;
    for (int frame = 0; frame < 200; ++frame) {
      if (previewing) {
        ++previewCalls;
        previewing = previewer.Show(picture, frame);
      }
      ++converted;
    }
    done = true;
  });
  while (!done) {
    CheckSynchronize(10);
    if (FLog.Draws >= 3 && !previewer.Closed()) FLog.Close();  // the user closes the window
  }
  task.join();
  EXPECT_EQ(converted, 200);
  EXPECT_TRUE(previewer.Closed());
  // The task learns of the closing from the call that was painting or from the next one.
  EXPECT_GE(previewCalls, FLog.Draws);
  EXPECT_LE(previewCalls, FLog.Draws + 1);
  EXPECT_LT(FLog.Draws, 200);
  const int draws = FLog.Draws;
  EXPECT_FALSE(previewer.Show(Picture(32, 16), 0));
  EXPECT_EQ(FLog.Draws, draws);
  EXPECT_FALSE(FLog.Destroyed);  // still the previewer's until it goes
}

TEST_F(PreviewerTest, PreviewerFreedOnATaskThreadFreesItsWindowOnTheMainThread) {
  std::atomic<bool> done{false};
  std::thread task([&] {
    auto previewer = std::make_unique<TPreviewer>();
    EXPECT_TRUE(previewer->Show(Picture(8, 8), 0));
    previewer.reset();
    done = true;
  });
  PumpUntil(done);
  task.join();
  EXPECT_TRUE(FLog.Destroyed);
  EXPECT_TRUE(AllOnMainThread());
}

TEST_F(PreviewerTest, WithoutAWindowTheTaskIsToldToStopPreviewing) {
  SetPreviewWindowFactory(nullptr);
  TPreviewer noFactory;
  EXPECT_FALSE(noFactory.Show(Picture(8, 8), 0));
  EXPECT_TRUE(noFactory.Closed());

  SetPreviewWindowFactory([](const TBitmap&, TPreviewClosedEvent) { return nullptr; });
  TPreviewer refused;
  EXPECT_FALSE(refused.Show(Picture(8, 8), 0));
  EXPECT_TRUE(refused.Closed());
}

TEST_F(PreviewerTest, FailingWindowEndsThePreviewNotTheTaskAndIsLogged) {
  TLogRecorder log(llInfo);
  int factoryCalls = 0;
  SetPreviewWindowFactory(
      [&](const TBitmap&, TPreviewClosedEvent) -> std::unique_ptr<TPreviewWindow> {
        ++factoryCalls;
        throw std::runtime_error("no display");
      });
  std::atomic<bool> done{false};
  std::vector<bool> shown;
  std::thread task([&] {
    TPreviewer previewer;
    for (int frame = 0; frame < 3; ++frame) shown.push_back(previewer.Show(Picture(8, 8), frame));
    done = true;
  });
  PumpUntil(done);
  task.join();
  EXPECT_EQ(shown, (std::vector<bool>{false, false, false}));
  EXPECT_EQ(factoryCalls, 1);

  // A window that was made but cannot draw ends the preview the same way, and is still freed.
  InstallFakeWindows();
  FLog.DrawFails = true;
  {
    TPreviewer previewer;
    EXPECT_FALSE(previewer.Show(Picture(8, 8), 0));
    EXPECT_TRUE(previewer.Closed());
    EXPECT_FALSE(previewer.Show(Picture(8, 8), 0));
  }
  EXPECT_EQ(FLog.Windows, 1);
  EXPECT_TRUE(FLog.Destroyed);
  EXPECT_EQ(log.Texts(llError),
            (std::vector<std::string>{"Preview window failed: no display",
                                      "Preview window failed: no room for the picture"}));
}
