// SPDX-License-Identifier: GPL-3.0-or-later
// Generates the game's sound effects and music loops from code:
//   soundgen <output_dir>
// writes splat.wav, jump.wav, land.wav, crazy.wav, level.wav, clear.wav, timeup.wav,
// highscore.wav, click.wav, title.wav and play.wav into <output_dir> (16-bit PCM mono,
// which the game's library loads). The same sources always give the same bytes.
#include <cstdio>
#include <string>

#include "synth.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: soundgen <output_dir>\n");
    return 2;
  }
  const std::string dir = argv[1];
  for (const Sound& sound : MakeSounds()) {
    if (!WriteWav(dir + "/" + sound.name + ".wav", sound.samples)) return 1;
  }
  return 0;
}
