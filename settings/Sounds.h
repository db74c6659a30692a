#pragma once

#include <QString>
#include <QStringList>

// A sound of either kind is a WAV file of the user's own, in the working
// directory's "./Sound/Succes/" or "./Sound/Failed/", or one that ships with
// the program.
enum class SoundKind { Success, Failure };

// Where the program's own sounds of that kind are installed.
QString shippedSoundFolder(SoundKind kind);

// The names to offer, the user's files and the shipped ones together, by
// name ignoring case; a user's file hides a shipped one of the same name.
QStringList soundNames(SoundKind kind);

// The file to play for a name of that list: the user's file, else the
// shipped one; a name found in neither stays the user's.
QString soundFile(SoundKind kind, const QString &name);

// Tests put the shipped sounds elsewhere; an empty root restores the real
// one. Returns the previous root.
QString setShippedSoundRoot(const QString &root);
