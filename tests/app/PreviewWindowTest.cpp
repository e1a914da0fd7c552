#include "AppTestSupport.h"
#include "EngineHost.h"
#include "FFBaseComponent.h"
#include "MyUtils.h"
#include "PreviewWindow.h"
#include "Previewer.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

// Each depth's own pixel for black, red, green, blue and white, as the bitmap stores it.
struct TDepthPixels {
  int BitsPixel;
  std::vector<uint32_t> Pixels;
};

const QRgb Primaries[] = {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255),
                          qRgb(255, 255, 255)};

const TDepthPixels DepthPixels[] = {
    {8, {0x00, 0x07, 0x38, 0xC0, 0xFF}},
    {15, {0x0000, 0x7C00, 0x03E0, 0x001F, 0x7FFF}},
    {16, {0x0000, 0xF800, 0x07E0, 0x001F, 0xFFFF}},
    {24, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}},
    // The fourth byte is left 0: desktop bitmaps draw opaque whatever it holds.
    {32, {0x00000000, 0x00FF0000, 0x0000FF00, 0x000000FF, 0x00FFFFFF}},
};

// Stores a pixel value little-endian in the bitmap's bytes per pixel.
void PutPixel(TBitmap& Bitmap, int X, int Y, uint32_t Value) {
  const int bytes = (Bitmap.BitsPixel() + 7) / 8;
  uint8_t* pixel = Bitmap.ScanLine(Y) + X * bytes;
  for (int i = 0; i < bytes; ++i) pixel[i] = uint8_t(Value >> (8 * i));
}

// A picture whose column x holds colour x % count of the given pixels.
TBitmap Stripes(int BitsPixel, int Width, int Height, const std::vector<uint32_t>& Pixels) {
  TBitmap bitmap;
  bitmap.SetBitsPixel(BitsPixel);
  bitmap.SetSize(Width, Height);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) PutPixel(bitmap, x, y, Pixels[x % Pixels.size()]);
  return bitmap;
}

// A 24-bit picture of one colour.
TBitmap Plain(int Width, int Height, QRgb Color) {
  return Stripes(24, Width, Height, {uint32_t(Color & 0xFFFFFF)});
}

// What the window shows, as the screen would get it.
QImage Shown(QWidget& Window) {
  return Window.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TPreviewForm* Form(const std::unique_ptr<TPreviewWindow>& Window) {
  return dynamic_cast<TPreviewForm*>(Window.get());
}

// The preview windows that are open now.
std::vector<TPreviewForm*> PreviewForms() {
  std::vector<TPreviewForm*> forms;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* form = dynamic_cast<TPreviewForm*>(widget)) forms.push_back(form);
  return forms;
}

void SendMouse(QWidget& Window, QEvent::Type Type, QPoint Local, Qt::MouseButton Button,
               Qt::MouseButtons Buttons) {
  QMouseEvent event(Type, QPointF(Local), QPointF(Window.mapToGlobal(Local)), Button, Buttons,
                    Qt::NoModifier);
  QApplication::sendEvent(&Window, &event);
}

// Counts the paint events that preview windows get, and whether each came on the GUI thread.
class TPaintWatch : public QObject {
 public:
  TPaintWatch() { QCoreApplication::instance()->installEventFilter(this); }
  ~TPaintWatch() override { QCoreApplication::instance()->removeEventFilter(this); }

  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() == QEvent::Paint && dynamic_cast<TPreviewForm*>(Watched)) {
      ++Paints;
      OnGuiThread = OnGuiThread && std::this_thread::get_id() == FGuiThread;
    }
    return false;
  }

  int Paints = 0;
  bool OnGuiThread = true;

 private:
  const std::thread::id FGuiThread = std::this_thread::get_id();
};

class PreviewWindow : public testing::Test {
 protected:
  void SetUp() override { InstallEngineHost(); }
  void TearDown() override {
    SetPreviewWindowFactory(nullptr);
    SetSynchronizeHooks(nullptr, nullptr);
  }

  // Runs the Qt event loop, as the program's GUI thread does, until the worker ends; EachTick
  // acts as the user in between.
  static void RunEventLoopUntilDone(std::thread& Worker, std::atomic<bool>& Done,
                                    const std::function<void()>& EachTick = {}) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (EachTick) EachTick();
      if (Done) loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    Worker.join();
    ASSERT_TRUE(Done);
  }

  int Closings = 0;
  TPreviewClosedEvent CountClosing = [this] { ++Closings; };
};

}  // namespace

TEST_F(PreviewWindow, IsAStayOnTopToolWindowOfThePicturesSizeInTheScreensMiddle) {
  const std::unique_ptr<TPreviewWindow> window =
      MakePreviewWindow(Plain(176, 144, qRgb(1, 2, 3)), CountClosing);
  TPreviewForm* form = Form(window);
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->isWindow());
  EXPECT_EQ(form->size(), QSize(176, 144));
  // A fixed size: the picture does not stretch.
  EXPECT_EQ(form->minimumSize(), form->maximumSize());

  const Qt::WindowFlags flags = form->windowFlags();
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(form->testAttribute(Qt::WA_QuitOnClose));

  const QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  // Centred as far as the window frame, unknown before the window shows, allows.
  const QPoint offCentre = form->geometry().center() - screen->availableGeometry().center();
  EXPECT_LE(std::abs(offCentre.x()), 32);
  EXPECT_LE(std::abs(offCentre.y()), 32);
}

TEST_F(PreviewWindow, CaptionIsTheTimeTheEngineGives) {
  const std::unique_ptr<TPreviewWindow> window =
      MakePreviewWindow(Plain(8, 8, qRgb(0, 0, 0)), CountClosing);
  window->SetCaption("01:02:03.004");
  EXPECT_EQ(Form(window)->windowTitle(), QStringLiteral("01:02:03.004"));
}

// An odd width pads each row of the bitmap (below 32 bits), so the rows' stride differs from
// their pixels.
TEST_F(PreviewWindow, ShowsEveryBitmapDepthWithItsColoursAtTheTopLeft) {
  for (const TDepthPixels& depth : DepthPixels) {
    SCOPED_TRACE(depth.BitsPixel);
    const TBitmap picture = Stripes(depth.BitsPixel, 7, 3, depth.Pixels);
    ASSERT_TRUE(depth.BitsPixel == 32 || picture.Stride() * 8 != 7 * depth.BitsPixel);
    const std::unique_ptr<TPreviewWindow> window = MakePreviewWindow(picture, CountClosing);
    window->Draw(picture);
    const QImage shown = Shown(*Form(window));
    ASSERT_EQ(shown.size(), QSize(7, 3));
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 7; ++x)
        EXPECT_EQ(shown.pixel(x, y), Primaries[x % 5]) << "at " << x << "," << y;
  }
}

TEST_F(PreviewWindow, TrueColourPicturesShowEveryValueExactly) {
  TBitmap picture;
  picture.SetBitsPixel(24);
  picture.SetSize(16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      PutPixel(picture, x, y, uint32_t(qRgb(x * 16 + y, 255 - x * 16, y * 16 + x) & 0xFFFFFF));
  const std::unique_ptr<TPreviewWindow> window = MakePreviewWindow(picture, CountClosing);
  window->Draw(picture);
  const QImage shown = Shown(*Form(window));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      ASSERT_EQ(shown.pixel(x, y), qRgb(x * 16 + y, 255 - x * 16, y * 16 + x))
          << "at " << x << "," << y;
}

TEST_F(PreviewWindow, KeepsShowingItsPictureAfterTheBitmapChanges) {
  TBitmap picture = Plain(10, 6, qRgb(200, 100, 50));
  const std::unique_ptr<TPreviewWindow> window = MakePreviewWindow(picture, CountClosing);
  window->Draw(picture);
  std::memset(picture.ScanLine(0), 0, size_t(picture.Stride()) * 6);
  EXPECT_EQ(Shown(*Form(window)).pixel(9, 5), qRgb(200, 100, 50));

  window->Draw(picture);
  EXPECT_EQ(Shown(*Form(window)).pixel(9, 5), qRgb(0, 0, 0));
}

TEST_F(PreviewWindow, ClosingItTellsTheEngineOnceAndFreeingItDoesNot) {
  const std::unique_ptr<TPreviewWindow> window = MakePreviewWindow(Plain(8, 8, 0), CountClosing);
  EXPECT_TRUE(Form(window)->close());
  EXPECT_FALSE(Form(window)->isVisible());
  EXPECT_EQ(Closings, 1);
  Form(window)->close();
  EXPECT_EQ(Closings, 1);

  int freedClosings = 0;
  MakePreviewWindow(Plain(8, 8, 0), [&] { ++freedClosings; }).reset();
  EXPECT_EQ(freedClosings, 0);
}

TEST_F(PreviewWindow, ALeftPressOnThePictureDragsTheWindow) {
  const std::unique_ptr<TPreviewWindow> window = MakePreviewWindow(Plain(64, 48, 0), CountClosing);
  TPreviewForm& form = *Form(window);
  const QPoint start = form.pos();

  SendMouse(form, QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton, Qt::LeftButton);
  SendMouse(form, QEvent::MouseMove, QPoint(40, 30), Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(form.pos(), start + QPoint(30, 20));
  SendMouse(form, QEvent::MouseButtonRelease, QPoint(10, 10), Qt::LeftButton, Qt::NoButton);
  const QPoint dropped = form.pos();
  SendMouse(form, QEvent::MouseMove, QPoint(20, 20), Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(form.pos(), dropped);

  // Other buttons do not drag.
  SendMouse(form, QEvent::MouseButtonPress, QPoint(10, 10), Qt::RightButton, Qt::RightButton);
  SendMouse(form, QEvent::MouseMove, QPoint(30, 30), Qt::NoButton, Qt::RightButton);
  EXPECT_EQ(form.pos(), dropped);
}

TEST_F(PreviewWindow, ATaskThreadsPicturesArePaintedOnTheGuiThread) {
  TPreviewer previewer;
  TPaintWatch watch;
  std::atomic<bool> done{false};
  std::atomic<int> shown{0};
  std::thread task([&] {
    for (int frame = 1; frame <= 3; ++frame)
      if (previewer.Show(Plain(32, 24, qRgb(frame * 60, 0, 0)), frame * 1000000)) ++shown;
    done = true;
  });
  RunEventLoopUntilDone(task, done);
  // The updates the last pictures asked for.
  QCoreApplication::processEvents();
  EXPECT_EQ(shown, 3);
  EXPECT_GE(watch.Paints, 1);
  EXPECT_TRUE(watch.OnGuiThread);

  const std::vector<TPreviewForm*> forms = PreviewForms();
  ASSERT_EQ(forms.size(), 1u);
  TPreviewForm& form = *forms.front();
  EXPECT_EQ(form.windowTitle(), QStringLiteral("00:00:03.000"));
  EXPECT_EQ(form.size(), QSize(32, 24));
  EXPECT_EQ(Shown(form).pixel(31, 23), qRgb(180, 0, 0));
}

TEST_F(PreviewWindow, ClosingItDuringAConversionStopsThatTasksPreviewOnly) {
  TPreviewer previewer;
  std::atomic<bool> done{false};
  std::atomic<int> previewed{0};
  std::atomic<int> converted{0};
  std::atomic<bool> closed{false};
  std::thread task([&] {
    bool previewing = true;
    for (int frame = 0; frame < 100; ++frame) {
      // A busy machine may let the task run to its end before the user acts: it goes on only
      // once the window is closed.
      while (frame == 3 && !closed) std::this_thread::yield();
      if (previewing) {
        previewing = previewer.Show(Plain(16, 16, qRgb(0, frame, 0)), frame * 40000);
        previewed += previewing;
      }
      ++converted;
    }
    done = true;
  });
  // The user closes the window once it has shown a few pictures.
  RunEventLoopUntilDone(task, done, [&] {
    const std::vector<TPreviewForm*> forms = PreviewForms();
    if (previewed >= 3 && !forms.empty() && forms.front()->isVisible()) {
      forms.front()->close();
      closed = true;
    }
  });

  EXPECT_EQ(converted, 100);
  EXPECT_TRUE(previewer.Closed());
  EXPECT_GE(previewed, 3);
  EXPECT_LT(previewed, 100);
  EXPECT_FALSE(previewer.Show(Plain(16, 16, 0), 0));
}

TEST_F(PreviewWindow, ATaskThatEndsFreesItsWindowOnTheGuiThread) {
  std::atomic<bool> done{false};
  std::atomic<bool> wasOpen{false};
  QPointer<TPreviewForm> form;
  std::thread task([&] {
    auto previewer = std::make_unique<TPreviewer>();
    EXPECT_TRUE(previewer->Show(Plain(8, 8, 0), 0));
    RunInMainThread([&] {
      const std::vector<TPreviewForm*> forms = PreviewForms();
      wasOpen = forms.size() == 1 && forms.front()->isVisible();
      if (!forms.empty()) form = forms.front();
    });
    previewer.reset();
    done = true;
  });
  RunEventLoopUntilDone(task, done);
  EXPECT_TRUE(wasOpen);
  EXPECT_TRUE(form.isNull());
  EXPECT_TRUE(PreviewForms().empty());
}
