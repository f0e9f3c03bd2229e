// SPDX-License-Identifier: GPL-3.0-or-later
#include "synth.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFade = 0.005;  // every note ends with a linear fade this long (seconds)

int Samples(double seconds) { return static_cast<int>(std::lround(seconds * kSoundRate)); }

// Equal temperament from MIDI note numbers: A4 (69) is 440 Hz. Every pitch in the game
// comes from here, so the effects and both loops are in tune with each other.
double Hz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// Note names used below (MIDI numbers).
constexpr int D2 = 38, E2 = 40, F2 = 41, G2 = 43, A2 = 45, B2 = 47;
constexpr int C3 = 48, D3 = 50, E3 = 52, G3 = 55;
constexpr int C4 = 60, E4 = 64, G4 = 67, A4 = 69, B4 = 71;
constexpr int C5 = 72, D5 = 74, E5 = 76, F5 = 77, G5 = 79;
constexpr int C6 = 84, E6 = 88, G6 = 91, C7 = 96;

// A small seeded noise source (a linear congruential generator), values in -1 .. 1.
class Noise {
 public:
  explicit Noise(uint32_t seed) : state_(seed) {}
  double Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) / static_cast<double>(1u << 23) - 1.0;
  }

 private:
  uint32_t state_;
};

// Loudness over a note's life (t and the times in seconds): a linear rise over `attack`,
// an exponential fall with time constant `decay`, nothing from `length` on, and a short
// fade before that so that no note ends on a step.
double Envelope(double t, double attack, double decay, double length) {
  if (t < 0 || t >= length) return 0;
  double e = t < attack ? t / attack : std::exp(-(t - attack) / decay);
  if (length - t < kFade) e *= (length - t) / kFade;
  return e;
}

// One note: a pitch sliding from `hz` to `toHz` (geometrically), with harmonics.
struct Tone {
  double hz;
  double start;   // seconds
  double length;  // seconds
  double attack;  // seconds
  double decay;   // seconds
  double level;   // peak amplitude before the final scaling
  std::vector<double> harmonics{1.0};  // amplitude of partial 1, 2, 3, ...
  double toHz = 0;                     // 0: the pitch stays at `hz`
};

void Grow(std::vector<float>& out, int size) {
  if (static_cast<int>(out.size()) < size) out.resize(size, 0.0f);
}

void AddTone(std::vector<float>& out, const Tone& tone) {
  const int first = Samples(tone.start);
  const int count = Samples(tone.length);
  Grow(out, first + count);
  const double end = tone.toHz > 0 ? tone.toHz : tone.hz;
  double phase = 0;  // cycles of the fundamental
  for (int i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / kSoundRate;
    const double hz = tone.hz * std::pow(end / tone.hz, t / tone.length);
    double value = 0;
    for (size_t k = 0; k < tone.harmonics.size(); ++k) {
      const double partial = (k + 1) * hz;
      if (partial < kSoundRate / 2.0) value += tone.harmonics[k] * std::sin(2 * kPi * (k + 1) * phase);
    }
    phase += hz / kSoundRate;
    out[first + i] += static_cast<float>(tone.level * Envelope(t, tone.attack, tone.decay, tone.length) * value);
  }
}

// Noise through a one-pole low-pass whose cut-off slides from `brightness` to
// `toBrightness` (0 .. 1: share of each new noise value let through).
struct Hiss {
  double start, length, attack, decay, level;
  double brightness, toBrightness;
  uint32_t seed;
};

void AddHiss(std::vector<float>& out, const Hiss& hiss) {
  const int first = Samples(hiss.start);
  const int count = Samples(hiss.length);
  Grow(out, first + count);
  Noise noise(hiss.seed);
  double low = 0;
  for (int i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / kSoundRate;
    const double a = hiss.brightness + (hiss.toBrightness - hiss.brightness) * t / hiss.length;
    low += a * (noise.Next() - low);
    out[first + i] +=
        static_cast<float>(hiss.level * Envelope(t, hiss.attack, hiss.decay, hiss.length) * low);
  }
}

// Removes the mean and scales to `peak`.
void Finish(std::vector<float>& samples, double peak) {
  double sum = 0;
  for (float s : samples) sum += s;
  const double mean = samples.empty() ? 0 : sum / samples.size();
  double highest = 0;
  for (float s : samples) highest = std::max(highest, std::fabs(s - mean));
  const double gain = highest > 0 ? peak / highest : 0;
  for (float& s : samples) s = static_cast<float>((s - mean) * gain);
}

const std::vector<double> kBell{1.0, 0.35, 0.12};
const std::vector<double> kWarm{1.0, 0.5, 0.25, 0.1};
const std::vector<double> kHollow{1.0, 0.0, 0.33, 0.0, 0.2};  // odd partials: a soft square

// --- Effects ---

// Wet and short: a dull thump under a burst of darkening noise, and a few droplets.
std::vector<float> Splat() {
  std::vector<float> out;
  AddHiss(out, {0, 0.25, 0.002, 0.05, 1.0, 0.6, 0.05, 7});
  AddTone(out, {150, 0, 0.2, 0.003, 0.05, 0.8, {1.0}, 50});
  Noise where(11);
  for (int drop = 0; drop < 4; ++drop) {
    const double start = 0.04 + 0.03 * drop + 0.01 * where.Next();
    const double hz = 1500 + 400 * where.Next();
    AddTone(out, {hz, start, 0.03, 0.002, 0.01, 0.2, {1.0}, hz * 0.6});
  }
  Finish(out, kEffectPeak);
  return out;
}

// A rising swoop.
std::vector<float> Jump() {
  std::vector<float> out;
  AddTone(out, {Hz(G3), 0, 0.25, 0.01, 0.12, 1.0, {1.0, 0.3}, Hz(G5)});
  Finish(out, kEffectPeak);
  return out;
}

// A soft low thud.
std::vector<float> Land() {
  std::vector<float> out;
  AddTone(out, {140, 0, 0.16, 0.003, 0.05, 1.0, {1.0, 0.2}, 55});
  AddHiss(out, {0, 0.08, 0.001, 0.02, 0.6, 0.3, 0.05, 23});
  Finish(out, kEffectPeak);
  return out;
}

// A quick run up the major chord.
std::vector<float> Crazy() {
  std::vector<float> out;
  const int run[] = {C5, E5, G5, C6, E6, G6, C7};
  for (int i = 0; i < 7; ++i) AddTone(out, {Hz(run[i]), 0.06 * i, 0.2, 0.003, 0.06, 0.5, kHollow});
  AddTone(out, {Hz(C6), 0.42, 0.3, 0.005, 0.1, 0.4, kHollow});
  Finish(out, kEffectPeak);
  return out;
}

// Bells at `times` (seconds) playing `notes`, the last one ringing longer.
std::vector<float> Chime(const std::vector<int>& notes, const std::vector<double>& times, double ring) {
  std::vector<float> out;
  for (size_t i = 0; i < notes.size(); ++i) {
    const bool last = i + 1 == notes.size();
    AddTone(out, {Hz(notes[i]), times[i], last ? ring : 0.35, 0.004, last ? ring / 3 : 0.12, 0.6, kBell});
  }
  Finish(out, kEffectPeak);
  return out;
}

std::vector<float> Level() { return Chime({G4, C5}, {0, 0.18}, 0.6); }
std::vector<float> Clear() { return Chime({C5, E5, G5, C6}, {0, 0.12, 0.24, 0.36}, 0.7); }
std::vector<float> TimeUp() { return Chime({G4, E4, C4}, {0, 0.25, 0.5}, 0.7); }

// A little fanfare over a held chord.
std::vector<float> HighScore() {
  std::vector<float> out;
  const int tune[] = {C5, E5, G5, C6};
  for (int i = 0; i < 4; ++i) AddTone(out, {Hz(tune[i]), 0.12 * i, i == 3 ? 0.8 : 0.3, 0.004, 0.25, 0.5, kBell});
  for (int note : {C4, E4, G4}) AddTone(out, {Hz(note), 0.36, 0.8, 0.05, 0.3, 0.2, kWarm});
  Finish(out, kEffectPeak);
  return out;
}

// A short tick.
std::vector<float> Click() {
  std::vector<float> out;
  AddTone(out, {Hz(C7), 0, 0.03, 0.001, 0.006, 1.0});
  AddHiss(out, {0, 0.015, 0.0005, 0.003, 0.4, 0.8, 0.5, 5});
  Finish(out, kEffectPeak);
  return out;
}

// --- Music ---

// A chord per bar: root (in octave 3) and the two notes above it.
struct Chord {
  int root;
  int third;
  int fifth;
};
constexpr Chord kC{C3, E3, G3}, kAm{A2, C3, E3}, kF{F2, A2, C3}, kG{G2, B2, D3}, kEm{E2, G2, B2},
    kDm{D2, F2, A2};

// Calm: a slow pad of each bar's chord, a bell melody and a soft bass; 96 beats per
// minute, 10 bars = 25 seconds. Every note ends inside its bar, so the loop's end meets
// its silent start.
std::vector<float> TitleMusic() {
  const double beat = 60.0 / 96;  // seconds
  const Chord bars[] = {kC, kAm, kF, kG, kC, kEm, kF, kG, kDm, kG};
  // Melody: two bell notes per bar, on beats one and three, from the chord.
  const int tune[][2] = {{G5, E5}, {E5, C5}, {F5, C5}, {D5, B4}, {E5, G5},
                         {E5, B4}, {F5, A4}, {D5, G4}, {F5, D5}, {D5, B4}};
  std::vector<float> out;
  for (int bar = 0; bar < 10; ++bar) {
    const double t = bar * 4 * beat;
    const Chord& c = bars[bar];
    for (int note : {c.root + 12, c.third + 12, c.fifth + 12}) {
      AddTone(out, {Hz(note), t, 4 * beat - 0.02, 0.4, 1.5, 0.12, kWarm});
    }
    AddTone(out, {Hz(c.root), t, 2 * beat - 0.02, 0.02, 0.6, 0.3, {1.0, 0.25}});
    AddTone(out, {Hz(c.root), t + 2 * beat, 2 * beat - 0.02, 0.02, 0.6, 0.25, {1.0, 0.25}});
    for (int half = 0; half < 2; ++half) {
      AddTone(out, {Hz(tune[bar][half]), t + 2 * beat * half, 2 * beat - 0.02, 0.006, 0.4, 0.3, kBell});
    }
  }
  Grow(out, Samples(10 * 4 * beat));
  Finish(out, kMusicPeak);
  return out;
}

// Lively: a plucked bass on every beat, a running arpeggio and a light tick on the
// off-beats; 120 beats per minute, 12 bars = 24 seconds.
std::vector<float> PlayMusic() {
  const double beat = 0.5;  // seconds
  const Chord bars[] = {kC, kAm, kF, kG, kC, kAm, kF, kG, kF, kG, kEm, kG};
  std::vector<float> out;
  for (int bar = 0; bar < 12; ++bar) {
    const Chord& c = bars[bar];
    const int arp[] = {c.root + 24, c.third + 24, c.fifth + 24, c.third + 24};
    for (int b = 0; b < 4; ++b) {
      const double t = (bar * 4 + b) * beat;
      const int bass = b % 2 == 0 ? c.root : c.fifth - 12;
      AddTone(out, {Hz(bass), t, beat - 0.02, 0.005, 0.15, 0.35, kWarm});
      for (int half = 0; half < 2; ++half) {
        AddTone(out, {Hz(arp[(2 * b + half) % 4]), t + half * beat / 2, beat / 2 - 0.01, 0.004, 0.1, 0.12,
                      kBell});
      }
      AddHiss(out, {t + beat / 2, 0.05, 0.001, 0.012, 0.08, 0.9, 0.7, static_cast<uint32_t>(100 + b)});
    }
  }
  Grow(out, Samples(12 * 4 * beat));
  Finish(out, kMusicPeak);
  return out;
}

}  // namespace

std::vector<Sound> MakeSounds() {
  return {
      {"splat", Splat(), false},         {"jump", Jump(), false},   {"land", Land(), false},
      {"crazy", Crazy(), false},         {"level", Level(), false}, {"clear", Clear(), false},
      {"timeup", TimeUp(), false},       {"highscore", HighScore(), false},
      {"click", Click(), false},         {"title", TitleMusic(), true},
      {"play", PlayMusic(), true},
  };
}

bool WriteWav(const std::string& path, const std::vector<float>& samples) {
  SF_INFO info{};
  info.samplerate = kSoundRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) {
    std::fprintf(stderr, "soundgen: cannot write %s: %s\n", path.c_str(), sf_strerror(nullptr));
    return false;
  }
  // Rounded to 16 bits here, so the bytes depend on nothing but the samples.
  std::vector<short> pcm(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    const double s = std::clamp(static_cast<double>(samples[i]), -1.0, 1.0);
    pcm[i] = static_cast<short>(std::lround(s * 32767));
  }
  const sf_count_t written = sf_write_short(file, pcm.data(), static_cast<sf_count_t>(pcm.size()));
  const bool ok = written == static_cast<sf_count_t>(pcm.size());
  if (!ok) std::fprintf(stderr, "soundgen: short write to %s: %s\n", path.c_str(), sf_strerror(file));
  if (sf_close(file) != 0 || !ok) return false;
  return true;
}
