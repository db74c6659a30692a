#pragma once

#include <QStringList>

// The files closing writes into the working folder: Event.log and Vorsk.ini.
// A folder or a file that cannot be written would lose them without a word.

// One line per file that cannot be written there, for the log pane at start.
QStringList unkeptFileLines();

// The lines of the closing message for the files whose writing failed,
// named as they are in the working folder.
QStringList lostFileLines(bool logLost, bool settingsLost);
