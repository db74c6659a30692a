#include "settings/SoundPlayer.h"

#include <QSound>

namespace {
SoundPlayer &currentPlayer() {
  static SoundPlayer player;
  return player;
}
} // namespace

void playSound(const QString &fileName) {
  if (currentPlayer())
    currentPlayer()(fileName);
  else
    QSound::play(fileName);
}

SoundPlayer setSoundPlayer(SoundPlayer player) {
  SoundPlayer previous = std::move(currentPlayer());
  currentPlayer() = std::move(player);
  return previous;
}
