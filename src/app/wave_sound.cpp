#include "app/wave_sound.h"

#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

namespace kv {

namespace {

// One effect for the whole run: a new sound replaces one still playing.
void playWithMultimedia(const QString &file) {
  static QSoundEffect *effect = new QSoundEffect;
  effect->stop();
  effect->setSource(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
  effect->play();
}

}  // namespace

std::function<void(const QString &)> &WavePlayer() {
  static std::function<void(const QString &)> player = playWithMultimedia;
  return player;
}

bool PlayWaveFile(const QString &file) {
  if (file.trimmed().isEmpty() || !QFileInfo(file).isFile()) return false;
  if (WavePlayer()) WavePlayer()(file);
  return true;
}

}  // namespace kv
