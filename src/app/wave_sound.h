#pragma once
// The sound played when a fax has arrived (and by the preferences window's "Play Now"): a WAV
// file played without waiting for its end. A missing or unset file plays nothing, silently.
#include <QString>
#include <functional>

namespace kv {

// True when a sound was started: `file` is not empty and names an existing file.
bool PlayWaveFile(const QString &file);

// Where a started sound goes; tests replace it to see what would have been played. The
// default plays through Qt Multimedia.
std::function<void(const QString &file)> &WavePlayer();

}  // namespace kv
