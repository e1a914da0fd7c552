// The helpers of the application's configuration that need the desktop: the browser, and in
// time the dialogs and the text measuring that several windows share.
#pragma once

#include "U_Config.h"

// Opens the address in the user's web browser; a failure is written to the log.
bool OpenURL(const QString& Address);
