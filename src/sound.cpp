// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound.h"

#include <alsa/asoundlib.h>
#include <allegro.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "debug.h"

void (*soundRecorder)(const SoundCall& call) = nullptr;

namespace {

// The sample files, in the order of Effect, in the working directory (the media directory).
const char* const kEffectFiles[kEffectCount] = {"splat.wav", "jump.wav",   "land.wav",
                                                "crazy.wav", "level.wav",  "clear.wav",
                                                "timeup.wav", "highscore.wav", "click.wav"};
// The loops, in the order of Music (None has none).
const char* const kMusicFiles[] = {nullptr, "title.wav", "play.wav"};
constexpr int kMusicCount = 3;

// Voices the mixer keeps: every effect's share and the music.
constexpr int kReservedVoices = kEffectCount * kVoicesPerEffect + 1;
// The library's volume and pan units: 0 .. 255; 128 is the middle.
constexpr int kEffectVolume = 255;
constexpr int kMusicVolume = 150;
constexpr int kCentrePan = 128;
constexpr int kQuietShare = 4;  // quiet: every voice at a quarter of its level
constexpr int kRightPan = 255;

// The last few voices started for one effect, oldest at `next`; -1 where none is.
struct EffectVoices {
  int voice[kVoicesPerEffect] = {-1, -1, -1};
  int next = 0;
};

struct SoundState {
  bool started = false;  // StartSound has run
  bool device = false;   // a driver that mixes
  bool muted = false;
  bool quiet = false;
  bool paused = false;
  SAMPLE* effects[kEffectCount] = {};
  SAMPLE* music[kMusicCount] = {};
  EffectVoices voices[kEffectCount];
  bool held[kEffectCount][kVoicesPerEffect] = {};  // sounding when paused: resumes
  Music wanted = Music::None;   // what the game asked for
  Music loaded = Music::None;   // what the music voice holds
  int musicVoice = -1;
  bool musicRunning = false;
};
SoundState state;

// A voice's volume (the library's units), quiet or not.
int LevelOf(int volume) { return state.quiet ? volume / kQuietShare : volume; }

void Record(SoundCall call) {
  if (soundRecorder != nullptr) soundRecorder(call);
}

int PanFor(double x) {
  if (SCREEN_W <= 0) return kCentrePan;
  const long pan = std::lround(x * kRightPan / SCREEN_W);
  return static_cast<int>(std::clamp(pan, 0L, static_cast<long>(kRightPan)));
}

bool Sounding(int voice) { return voice >= 0 && voice_get_position(voice) >= 0; }

// The ALSA library prints its complaints (no card, no mixer) on standard error; they
// belong in the log, not on the player's terminal.
void AlsaComplaint(const char* file, int line, const char* function, int err, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  LOG("ALSA lib ", file, ":", line, ":(", function, ") ", text, err != 0 ? ": " : "",
      err != 0 ? snd_strerror(err) : "");
}

SAMPLE* LoadSound(const char* file) {
  SAMPLE* sample = load_sample(file);
  if (sample == nullptr) LOG("Couldn't load sound \"", file, "\"; it stays silent");
  return sample;
}

void StopEffectVoices() {
  for (EffectVoices& ring : state.voices) {
    for (int& voice : ring.voice) {
      if (voice >= 0) deallocate_voice(voice);
      voice = -1;
    }
  }
}

// Brings the music voice in line with what was asked: the wanted loop, running unless
// muted or paused.
void UpdateMusic() {
  if (!state.device) return;
  if (state.loaded != state.wanted) {
    if (state.musicVoice >= 0) deallocate_voice(state.musicVoice);
    state.musicVoice = -1;
    state.musicRunning = false;
    state.loaded = state.wanted;
    SAMPLE* sample = state.music[static_cast<int>(state.loaded)];
    if (sample != nullptr) state.musicVoice = allocate_voice(sample);
    if (state.musicVoice >= 0) {
      voice_set_playmode(state.musicVoice, PLAYMODE_LOOP);
      voice_set_volume(state.musicVoice, LevelOf(kMusicVolume));
      voice_set_pan(state.musicVoice, kCentrePan);
    }
  }
  if (state.musicVoice < 0) return;
  const bool run = !state.muted && !state.paused;
  if (run == state.musicRunning) return;
  if (run) {
    voice_start(state.musicVoice);
  } else {
    voice_stop(state.musicVoice);
  }
  state.musicRunning = run;
}

}  // namespace

void StartSound() {
  if (state.started) return;
  state.started = true;
  snd_lib_error_set_handler(AlsaComplaint);
  reserve_voices(kReservedVoices, 0);
  const bool installed = install_sound(DIGI_AUTODETECT, MIDI_NONE, nullptr) == 0;
  if (!installed || digi_driver == nullptr || digi_driver->id == DIGI_NONE) {
    LOG("No sound device found; playing silently");
    return;
  }
  state.device = true;
  LOG("Sound through ", digi_driver->name, " at ", get_mixer_frequency(), " Hz");
  for (int i = 0; i < kEffectCount; ++i) state.effects[i] = LoadSound(kEffectFiles[i]);
  for (int i = 1; i < kMusicCount; ++i) state.music[i] = LoadSound(kMusicFiles[i]);
  UpdateMusic();
}

void StopSound() {
  if (!state.started) return;
  StopEffectVoices();
  if (state.musicVoice >= 0) deallocate_voice(state.musicVoice);
  for (SAMPLE* sample : state.effects) {
    if (sample != nullptr) destroy_sample(sample);
  }
  for (SAMPLE* sample : state.music) {
    if (sample != nullptr) destroy_sample(sample);
  }
  remove_sound();
  snd_lib_error_set_handler(nullptr);
  // The game's wishes (mute, the music asked for) outlive the device.
  const bool muted = state.muted;
  const Music wanted = state.wanted;
  state = SoundState{};
  state.muted = muted;
  state.wanted = wanted;
}

void PlayEffect(Effect effect, double x) {
  const int pan = PanFor(x);
  Record({SoundCall::Verb::Effect, effect, Music::None, pan, state.muted});
  const int which = static_cast<int>(effect);
  SAMPLE* sample = state.effects[which];
  if (!state.device || state.muted || state.paused || sample == nullptr) return;
  EffectVoices& ring = state.voices[which];
  int& voice = ring.voice[ring.next];
  ring.next = (ring.next + 1) % kVoicesPerEffect;
  if (voice >= 0) deallocate_voice(voice);  // the oldest of this effect gives way
  voice = allocate_voice(sample);
  if (voice < 0) return;
  voice_set_volume(voice, LevelOf(kEffectVolume));
  voice_set_pan(voice, pan);
  voice_start(voice);
}

void PlayMusic(Music music) {
  Record({SoundCall::Verb::Music, Effect::Click, music, kCentrePan, state.muted});
  state.wanted = music;
  UpdateMusic();
}

void PauseSound() {
  Record({SoundCall::Verb::Pause, Effect::Click, Music::None, kCentrePan, state.muted});
  if (state.paused) return;
  state.paused = true;
  for (int e = 0; e < kEffectCount; ++e) {
    for (int v = 0; v < kVoicesPerEffect; ++v) {
      const int voice = state.voices[e].voice[v];
      state.held[e][v] = Sounding(voice);
      if (state.held[e][v]) voice_stop(voice);
    }
  }
  UpdateMusic();
}

void ResumeSound() {
  Record({SoundCall::Verb::Resume, Effect::Click, Music::None, kCentrePan, state.muted});
  if (!state.paused) return;
  state.paused = false;
  for (int e = 0; e < kEffectCount; ++e) {
    for (int v = 0; v < kVoicesPerEffect; ++v) {
      if (state.held[e][v] && !state.muted) voice_start(state.voices[e].voice[v]);
      state.held[e][v] = false;
    }
  }
  UpdateMusic();
}

void SetMuted(bool muted) {
  Record({SoundCall::Verb::Mute, Effect::Click, Music::None, kCentrePan, muted});
  state.muted = muted;
  if (muted) {
    StopEffectVoices();
    for (auto& row : state.held) std::fill(std::begin(row), std::end(row), false);
  }
  UpdateMusic();
}

bool Muted() { return state.muted; }

void SetQuiet(bool quiet) {
  state.quiet = quiet;
  if (state.musicVoice >= 0) voice_set_volume(state.musicVoice, LevelOf(kMusicVolume));
}

bool Quiet() { return state.quiet; }

void ToggleMute() { SetMuted(!state.muted); }

bool SoundDeviceReady() { return state.device; }

int EffectVoicesSounding(Effect effect) {
  const EffectVoices& ring = state.voices[static_cast<int>(effect)];
  return static_cast<int>(std::count_if(std::begin(ring.voice), std::end(ring.voice), Sounding));
}

bool MusicSounding() { return Sounding(state.musicVoice); }
