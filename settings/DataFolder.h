#pragma once

#include <QString>

// Vorsk keeps Vorsk.ini, Event.log, Monitoring.txt and its journal in its
// working folder under their bare names. Started from a writable folder that
// already holds a Vorsk.ini, it keeps working there, as it always did;
// otherwise (from the application menu, from a folder it cannot write, or
// for a first run) it works in the user's data folder.

// The folder to work in: workingFolder when it holds a Vorsk.ini and a file
// can be created in it, else userDataFolder, created if missing. When that
// cannot be created either, workingFolder.
QString chooseDataFolder(const QString &workingFolder,
                         const QString &userDataFolder);

// Makes the folder chosen for the current working folder and the
// application's data location the working folder. Called once at start,
// before any file is opened; the About dialog names the folder.
void enterDataFolder();

// The line the diagnostic text carries to say where the files are.
QString dataFolderLine();
