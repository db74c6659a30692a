#pragma once

class QCoreApplication;

// Qt's own texts (the file dialog, the standard buttons) in French like the
// rest of the program, from the toolkit's translations (Debian's
// qttranslations5-l10n). False when they are not installed.
bool installToolkitFrench(QCoreApplication &app);
