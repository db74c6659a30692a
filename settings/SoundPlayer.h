#pragma once

#include <QString>

#include <functional>

// Starts playing a sound file and returns at once; a file that cannot be
// played is silently ignored.
void playSound(const QString &fileName);

// Replaces the player (tests record instead of playing); an empty function
// restores the real one. Returns the previous player.
using SoundPlayer = std::function<void(const QString &fileName)>;
SoundPlayer setSoundPlayer(SoundPlayer player);
