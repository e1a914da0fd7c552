#include "Startup.h"

#include "ShockwaveEx.h"

#include "EndSignals.h"
#include "EngineHost.h"
#include "FFDecode.h"
#include "U_AddFile.h"
#include "U_Config.h"
#include "U_Converting_Gui.h"
#include "U_Main.h"
#include "U_OnlyApps.h"
#include "U_about.h"
#include "VelLog.h"
#include "WindowPlace.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QSysInfo>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

// Every heap arena past the first reserves 64 MiB of address space, and a thread that mallocs
// first gets an arena of its own: under a limit on the address space, a few threads' arenas
// leave no room for the next thread's start (and the toolkit's own drawing threads wait for
// ever on one that never started). Under such a limit the threads share two arenas.
void ShareTheHeapUnderAnAddressLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    mallopt(M_ARENA_MAX, 2);
}

constexpr int SplashPause = 800;

// Waits with the event loop running, so the splash stays drawn.
void Pause(int Milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(Milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

// The distribution's name from os-release, then the kernel's from uname.
QString SystemVersionText() {
  QString text = QSysInfo::prettyProductName();
  utsname names{};
  if (uname(&names) == 0)
    text += QStringLiteral(", %1 %2").arg(QString::fromLocal8Bit(names.sysname),
                                          QString::fromLocal8Bit(names.release));
  return text;
}

QString MemoryText() {
  const long long bytes = static_cast<long long>(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGE_SIZE);
  return QStringLiteral("%1 MB").arg(bytes >> 20);
}

// Empty where the system names none (the "C" locale has no language or country).
QString LanguageText() {
  const QLocale::Language language = QLocale::system().language();
  return language == QLocale::AnyLanguage || language == QLocale::C
             ? QString()
             : QLocale::languageToString(language);
}

QString CountryText() {
  const QLocale::Territory territory = QLocale::system().territory();
  return territory == QLocale::AnyTerritory ? QString() : QLocale::territoryToString(territory);
}

QString MetricsText() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? QStringLiteral("%1 X %2").arg(screen->size().width()).arg(screen->size().height())
                : QString();
}

QtMessageHandler EarlierHandler = nullptr;

// Qt ends the process with abort() when it cannot open a display, which leaves a core dump
// and no word a user understands: while the application is made, a fatal message ends the
// process with a text and an exit status instead.
void DisplayFailureHandler(QtMsgType Type, const QMessageLogContext& Context,
                           const QString& Message) {
  if (Type != QtFatalMsg) {
    if (EarlierHandler) EarlierHandler(Type, Context, Message);
    return;
  }
  std::fprintf(stderr,
               "The program needs a graphical display and could not open one "
               "(DISPLAY=\"%s\", WAYLAND_DISPLAY=\"%s\"). Start it from a desktop session.\n",
               qgetenv("DISPLAY").constData(), qgetenv("WAYLAND_DISPLAY").constData());
  std::_Exit(EXIT_FAILURE);
}

// Ends as the close button does, without a question: a conversion under way is cancelled (its
// unfinished outputs discarded, the finished ones kept), the windows close and every event loop
// returns, so that the way out cleans up as after a close.
void EndOnSignal(TMainfrm& Window, int Signal) {
  VelLog.WriteInfo(QStringLiteral("Ending on signal %1 (%2)").arg(Signal).arg(strsignal(Signal)));
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* converting = qobject_cast<TConvertingfrm*>(widget)) converting->Quit(false);
  // The last window's close would end the program with status 0 as soon as it could.
  QGuiApplication::setQuitOnLastWindowClosed(false);
  Window.close();
  QCoreApplication::exit(128 + Signal);
}

}  // namespace

QMessageBox* ReportStartProblems(QWidget* Parent, const QStringList& Problems) {
  if (Problems.isEmpty()) return nullptr;
  auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Velmora Fennick"),
                              Problems.join(QStringLiteral("\n\n")), QMessageBox::Ok, Parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->show();
  return box;
}

std::unique_ptr<Taboutfrm> ShowSplash() {
  auto splash = std::make_unique<Taboutfrm>();
  splash->setWindowFlag(Qt::WindowStaysOnTopHint);
  splash->setEnabled(false);
  splash->show();
  splash->repaint();
  return splash;
}

// The splash stays on top of every window: it goes before an error box, which it would hide.
bool LoadMediaLibraries(TMainfrm& Window, std::unique_ptr<Taboutfrm>& Splash) {
  const std::function<void(const QString&)> showError = Window.ShowError;
  Window.ShowError = [&Splash, &showError](const QString& Text) {
    Splash.reset();
    showError(Text);
  };
  const bool loaded = Window.LoadMediaLibraries();
  Window.ShowError = showError;
  return loaded;
}

void LogSystemInfo() {
  const QString rule(69, QLatin1Char('='));
  VelLog.WriteInfo(rule);
  VelLog.WriteInfo(QStringLiteral("System Version:  ") + SystemVersionText());
  VelLog.WriteInfo(QStringLiteral("Memory:          ") + MemoryText());
  VelLog.WriteInfo(QStringLiteral("Language:        ") + LanguageText());
  VelLog.WriteInfo(QStringLiteral("Country:         ") + CountryText());
  VelLog.WriteInfo(QStringLiteral("Metrics:         ") + MetricsText());
  // No Flash Player is installed on this platform.
  VelLog.WriteInfo(QStringLiteral("Flash Player:    "));
  VelLog.WriteInfo(QStringLiteral("Program Version: ") + GetFileVersionText(false));
  VelLog.WriteInfo(rule);
  VelLog.WriteInfo(QString());
}

QByteArray UnlaunchedSessionBusAddress(const QByteArray& Address, const QString& RuntimeDir,
                                       uint Uid) {
  if (!Address.isEmpty()) return {};
  const QString socket =
      (RuntimeDir.isEmpty() ? QStringLiteral("/run/user/%1").arg(Uid) : RuntimeDir) +
      QStringLiteral("/bus");
  if (!RuntimeDir.isEmpty() && QFileInfo::exists(socket)) return {};
  return "unix:path=" + QFile::encodeName(socket);
}

int RunFennick(int argc, char* argv[]) {
  ShareTheHeapUnderAnAddressLimit();
  // Before the log is touched: a second start must leave the running copy's logs alone.
  if (IsAlreadyRunning(AppMutexName)) return 0;
  EarlierHandler = qInstallMessageHandler(DisplayFailureHandler);
  // Before any library looks for a session bus: the toolkit does at once, the web view later.
  if (const QByteArray bus = UnlaunchedSessionBusAddress(
          qgetenv("DBUS_SESSION_BUS_ADDRESS"), qEnvironmentVariable("XDG_RUNTIME_DIR"), getuid());
      !bus.isEmpty())
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
  TFlashReadyApplication application(argc, argv);
  WatchWindowPlaces();
  qInstallMessageHandler(EarlierHandler);
  InitDataPlaces();
  const TDataPlaces places = DataPlaces();
  InitVelLog(places.LogBase);
  if (const QString setAside = TFlashReadyApplication::GlChoiceSetAside(); !setAside.isEmpty())
    VelLog.WriteInfo(setAside);
  LogDataPlaces(places);
  InitMainSettings();
  QStringList problems =
      DataPlaceProblems(places, MainSettings().Value(TMainSettings::OutputPath)) +
      CheckSettingsFiles();
  if (!InstanceLockProblem().isEmpty()) problems.prepend(InstanceLockProblem());

  std::unique_ptr<Taboutfrm> splash = ShowSplash();
  Pause(SplashPause);
  LogSystemInfo();
  InstallEngineHost();
  TMainfrm mainfrm;
  if (!LoadMediaLibraries(mainfrm, splash)) return 1;
  mainfrm.show();
  splash.reset();
  ReportStartProblems(&mainfrm, problems);
  // The player puts these back after SDL has put its own.
  const TEndSignals endSignals;
  QObject::connect(&endSignals, &TEndSignals::Ending, &mainfrm,
                   [&mainfrm](int Signal) { EndOnSignal(mainfrm, Signal); });
  const int result = application.exec();
  // A cancelled probe still runs until it gives up (within the decoder's time limit), and the
  // libraries it reads with must stay until then.
  WaitForFileProbers(TCustomDecoder::DefaultTimeout);
  ClearFolder(places.Scratch);
  return result;
}
