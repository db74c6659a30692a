#pragma once

#include <QString>

// Vorsk keeps Vorsk.ini, Event.log, Monitoring.txt and its journal in its
// working folder under their bare names. Started from a folder of its own
// that already holds its Vorsk.ini, it keeps working there, as it always
// did; otherwise (from the application menu, from a folder it cannot write
// or that other users can write, or for a first run) it works in the user's
// data folder. A folder others can write could hold their settings (a run
// started unasked, the power-off armed) and links to any file of the user.

// The folder to work in: workingFolder when it holds this user's own
// Vorsk.ini, no other user can write it and a file can be created in it;
// else userDataFolder, created if missing. When that cannot be created
// either, workingFolder if it is this user's alone, else a new private
// folder under the temporary folder (workingFolder only when not even that
// can be made).
QString chooseDataFolder(const QString &workingFolder,
                         const QString &userDataFolder);

// Makes the folder chosen for the current working folder and the
// application's data location the working folder. Called once at start,
// before any file is opened; the About dialog names the folder.
void enterDataFolder();
// Makes folder (--data-dir) the working folder, created if missing (for
// this user alone). False,
// with the reason, when it is not a folder of this user's that only this
// user can write.
bool enterGivenDataFolder(const QString &folder, QString *why);

// The line the log shows once when the working folder was passed over for
// being writable by others, or the files go to a folder made for this start;
// empty otherwise.
QString passedOverFolderLine();

// The line the diagnostic text carries to say where the files are.
QString dataFolderLine();
