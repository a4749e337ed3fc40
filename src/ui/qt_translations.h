// Qt's own German texts (the standard buttons "Ja"/"Nein", the file and input dialogs), so that
// the German window does not show English buttons.
#pragma once

class QCoreApplication;

namespace fern {

// Loads Qt's German translations from Qt's translation folder (Debian's qt6-translations-l10n)
// into the application; false when they are not installed, and the buttons stay English.
bool InstallGermanQtTranslations(QCoreApplication& app);

}  // namespace fern
