#include "U_Config_Gui.h"

#include "VelLog.h"

#include <QDesktopServices>
#include <QUrl>

bool OpenURL(const QString& Address) {
  if (QDesktopServices::openUrl(QUrl::fromUserInput(Address))) return true;
  VelLog.WriteError(QStringLiteral("Cannot open %1 in the web browser").arg(Address));
  return false;
}
