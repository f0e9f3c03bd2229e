// SPDX-License-Identifier: GPL-3.0-or-later
#include "game.h"

#include "trig.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>
#include <type_traits>

namespace {
// Both bananas at rest where a level starts: player 2's at three quarters of the width,
// player 1's in the middle (at a quarter in a two-player game).
void PlaceBananas(GameState& game) {
  const int w = game.area.width;
  const int h = game.area.height;
  const double y = h - kNanaStartAboveBottom;
  game.p1.nana = Nana(game.bananaSize, {static_cast<double>(game.twoPlayer ? w / 4 : w / 2), y}, w, h);
  game.p2.nana = Nana(game.bananaSize, {static_cast<double>(w * 3 / 4), y}, w, h);
  game.p1.nana.math = game.p2.nana.math = game.mathRevision;
}
}  // namespace

GameState::GameState(bool twoPlayer, PlayArea area, SpriteSize banana, SpriteSize fly, RandomSource random)
    : twoPlayer(twoPlayer), area(area), bananaSize(banana), flySize(fly), random(random) {
  PlaceBananas(*this);
}

void BeginLevel(GameState& game) {
  PlaceBananas(game);
  game.p1.extras.clear();
  game.p2.extras.clear();
  game.splats.clear();
  game.splatDots.clear();
  // Room for every splat of a level: making one in a tick allocates nothing.
  game.splats.reserve(kMaxFlies);
  if (game.random.kind == RandomKind::CLibrary) game.splatDots.reserve(kMaxFlies * kSplatDots);
  game.flies = MakeFlies(game.level, game.flySize, game.area.width, game.area.height, game.random);
}

void StartLevelClock(GameState& game) {
  game.cleared = false;
  game.p1.streak = game.p2.streak = 0;
  game.p1.crazy = game.p2.crazy = 0;
  game.timeLeft = kFullTime - kTimeCutPerLevel * std::min(game.level, kLastShorterLevel);
}

LevelEnd DecideLevelEnd(const GameState& game) {
  if (game.cleared) return LevelEnd::Cleared;
  if (game.timeLeft < 0) return LevelEnd::TimeUp;
  return LevelEnd::Quit;
}

void NextLevel(GameState& game) {
  ++game.level;
  EmptyLevelLists(game);
}

void EmptyLevelLists(GameState& game) {
  game.flies.clear();
  game.p2.extras.clear();
  game.p1.extras.clear();
}

bool LevelOver(const GameState& game) { return game.cleared || (!game.flies.empty() && game.timeLeft < 0); }

// --- The tick -------------------------------------------------------------------

Controls TickControls::For(int player, int banana) const {
  const int index = player == 2 ? 1 : 0;
  const int n = count[index];
  if (n <= 0) return {0, false};
  return readings[index][std::min(banana, n - 1)];
}

TickControls OneReadingEach(Controls p1, Controls p2) {
  TickControls controls;
  controls.readings[0][0] = p1;
  controls.readings[1][0] = p2;
  controls.count[0] = controls.count[1] = 1;
  return controls;
}

int ReadingsForTick(const GameState& game, int player) {
  if (player == 2 && !game.twoPlayer) return 0;
  const Player& p = player == 2 ? game.p2 : game.p1;
  const bool extrasStay = p.crazy - 1 > 0;  // the tick counts down first
  return 1 + (extrasStay ? static_cast<int>(p.extras.size()) : 0);
}

void TickEvents::Add(SimSound sound, double x) {
  if (soundCount < kMaxTickSounds) sounds[soundCount++] = {sound, x};
}

namespace {

void CountDown(GameState& game) {
  --game.p1.crazy;
  --game.timeLeft;
  --game.p2.crazy;
}

void DropExpiredExtras(GameState& game) {
  if (game.p1.crazy <= 0) game.p1.extras.clear();
  if (game.p2.crazy <= 0) game.p2.extras.clear();
}

void HearBanana(const Nana& nana, TickEvents& events) {
  if (nana.sound == static_cast<int>(NanaSound::Jump)) events.Add(SimSound::Jump, nana.soundX);
  if (nana.sound == static_cast<int>(NanaSound::Land)) events.Add(SimSound::Land, nana.soundX);
}

void StartCrazyMode(GameState& game, Player& player, int which, TickEvents& events) {
  player.crazy = kCrazyDuration;
  events.Add(SimSound::Crazy, player.nana.pos.x);
  events.crazyStarted[which - 1] = true;
  player.extras.clear();
  const int extras = player.streak / kCrazyExtrasPerStreak + kCrazyExtrasBase;
  for (int i = 0; i < extras; ++i) player.extras.push_back(MakeExtraNana(player.nana, which, game.random));
}

// The own banana touched the ground: the streak is closed, and may set off CRAZY mode.
void CloseStreak(GameState& game, Player& player, int which, TickEvents& events) {
  if (player.streak > kCrazyStreak && player.crazy <= kCrazyRestartAt) {
    StartCrazyMode(game, player, which, events);
  }
  player.streak = 0;
  events.streakClosed[which - 1] = true;
}

// Steps the player's banana and extras, each with its own reading.
void StepPlayer(GameState& game, Player& player, int which, const TickControls& controls,
                TickEvents& events) {
  const int ground = game.area.Ground();
  Controls reading = controls.For(which, 0);
  const int onGround = player.nana.DoPhysics(reading.turn, reading.squash, ground);
  HearBanana(player.nana, events);
  int banana = 1;
  for (Nana& extra : player.extras) {
    reading = controls.For(which, banana++);
    extra.DoPhysics(reading.turn, reading.squash, ground);
    HearBanana(extra, events);
  }
  if (onGround != 0) CloseStreak(game, player, which, events);
}

// A player's bananas' bodies, own banana first: they stand still during the fly pass.
constexpr int kCrescentsKept = 64;
struct Bodies {
  Crescent kept[kCrescentsKept];
  int count = 0;

  explicit Bodies(const Player& player) {
    kept[count++] = CrescentOf(player.nana);
    for (const Nana& extra : player.extras) {
      if (count == kCrescentsKept) break;
      kept[count++] = CrescentOf(extra);
    }
  }
};

bool HitsAny(const Fly& fly, const Player& player, const Bodies& bodies) {
  for (int i = 0; i < bodies.count; ++i) {
    if (FlyHits(fly, bodies.kept[i])) return true;
  }
  // Beyond the bodies kept (more extras than any level gives), one by one.
  for (size_t i = kCrescentsKept - 1; i < player.extras.size(); ++i) {
    if (FlyHits(fly, player.extras[i])) return true;
  }
  return false;
}

// 1 when the fly meets one of the player's bananas: a kill, for the streak and the score.
int Kill(const Fly& fly, Player& player, const Bodies& bodies, int level) {
  const int hit = HitsAny(fly, player, bodies) ? 1 : 0;
  player.streak += hit;
  player.score += level * hit;
  return hit;
}

// A splat where a fly died: its dots' draws taken now, in the fly pass, as the rules
// take them.
void MakeSplat(GameState& game, Vec2<double> at, TickEvents& events) {
  Splat splat;
  splat.pos = at;
  if (game.random.kind == RandomKind::CLibrary) {
    splat.firstDot = static_cast<uint32_t>(game.splatDots.size());
    for (int dot = 0; dot < kSplatDots; ++dot) {
      game.splatDots.push_back(PackSplatDot(DrawSplatDot(game.random)));
    }
  } else {
    splat.seed = game.random.own();
    splat.ownDots = 1;
  }
  if (events.splatsMade == 0) events.firstSplat = game.splats.size();
  ++events.splatsMade;
  game.splats.push_back(splat);
}

}  // namespace

void FlyPass(GameState& game, TickEvents& events) {
  const int ground = game.area.Ground();
  std::vector<Fly>& flies = game.flies;
  const bool hadFlies = !flies.empty();
  const Bodies bodies1(game.p1);
  const Bodies bodies2(game.p2);
  for (size_t i = 0; i < flies.size();) {
    Fly& fly = flies[i];
    fly.flyRandom(ground, game.random);
    const int hit1 = Kill(fly, game.p1, bodies1, game.level);
    const int hit2 = game.twoPlayer ? Kill(fly, game.p2, bodies2, game.level) : 0;
    if (hit1 != 0 || hit2 != 0) {
      MakeSplat(game, fly.pos, events);
      events.Add(SimSound::Splat, fly.pos.x + kFlyCentreX);
      flies.erase(flies.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  events.levelCleared = hadFlies && flies.empty();
}

TickEvents RunTick(GameState& game, const TickControls& controls) {
  TickEvents events;
  CountDown(game);
  DropExpiredExtras(game);
  StepPlayer(game, game.p1, 1, controls, events);
  if (game.twoPlayer) StepPlayer(game, game.p2, 2, controls, events);
  FlyPass(game, events);
  ++game.ticks;
  return events;
}

bool CheckFlies(GameState& game) {
  if (game.flies.empty()) {
    game.cleared = true;
    return true;
  }
  return game.timeLeft >= 0;
}

// --- Snapshots ------------------------------------------------------------------

namespace {

// Records copied as bytes: plain values whose every byte is a field (no padding, so
// equal states give equal bytes and equal checksums).
static_assert(std::is_trivially_copyable_v<Nana> && sizeof(Nana) == 80, "Nana has padding");
static_assert(std::is_trivially_copyable_v<Fly> && sizeof(Fly) == 48, "Fly has padding");
static_assert(std::is_trivially_copyable_v<Splat> && sizeof(Splat) == 32, "Splat has padding");
static_assert(std::is_trivially_copyable_v<std::mt19937_64>, "the generator is not a plain value");

constexpr uint32_t kSnapshotMagic = 0x4e53534e;  // "NSSN"
constexpr uint32_t kSnapshotVersion = 1;

// The scalars of a game, in one padding-free block.
struct Scalars {
  uint32_t magic;
  uint32_t version;
  int32_t twoPlayer;
  int32_t level;
  int32_t timeLeft;
  int32_t cleared;
  int32_t areaWidth;
  int32_t areaHeight;
  int32_t bananaW;
  int32_t bananaH;
  int32_t flyW;
  int32_t flyH;
  int32_t scores[2];
  int32_t streaks[2];
  int32_t crazies[2];
  int64_t ticks;
  uint64_t seed;
  uint16_t randomKind;
  uint16_t mathRevision;
  uint32_t extras[2];
  uint32_t flies;
  uint32_t splats;
  uint32_t splatDots;
};
static_assert(sizeof(Scalars) == 112, "Scalars has padding");

size_t RandomBytes(RandomKind kind) {
  return kind == RandomKind::Own ? sizeof(std::mt19937_64) : kCLibraryStateBytes;
}

size_t SnapshotSize(const Scalars& s) {
  return sizeof s + 2 * sizeof(Nana) + (size_t{s.extras[0]} + s.extras[1]) * sizeof(Nana) +
         size_t{s.flies} * sizeof(Fly) + size_t{s.splats} * sizeof(Splat) +
         size_t{s.splatDots} * sizeof(uint32_t) + RandomBytes(static_cast<RandomKind>(s.randomKind));
}

unsigned char* Put(unsigned char* at, const void* data, size_t size) {
  if (size > 0) std::memcpy(at, data, size);
  return at + size;
}

const unsigned char* Take(const unsigned char* at, void* data, size_t size) {
  if (size > 0) std::memcpy(data, at, size);
  return at + size;
}

template <typename T>
const unsigned char* TakeVector(const unsigned char* at, std::vector<T>& to, uint32_t count) {
  to.resize(count);
  return Take(at, to.data(), count * sizeof(T));
}

template <typename To, typename From>
void Assign(To& to, const From& from) {
  to = static_cast<To>(from);
}

// Each scalar of the game with its field in the block, for `copy(field, value)` to
// write one into the other (a snapshot's save and restore go through the same list).
template <typename Game, typename Copy>
void EachScalar(Game& game, Scalars& s, Copy copy) {
  copy(s.twoPlayer, game.twoPlayer);
  copy(s.level, game.level);
  copy(s.timeLeft, game.timeLeft);
  copy(s.cleared, game.cleared);
  copy(s.areaWidth, game.area.width);
  copy(s.areaHeight, game.area.height);
  copy(s.bananaW, game.bananaSize.w);
  copy(s.bananaH, game.bananaSize.h);
  copy(s.flyW, game.flySize.w);
  copy(s.flyH, game.flySize.h);
  copy(s.scores[0], game.p1.score);
  copy(s.scores[1], game.p2.score);
  copy(s.streaks[0], game.p1.streak);
  copy(s.streaks[1], game.p2.streak);
  copy(s.crazies[0], game.p1.crazy);
  copy(s.crazies[1], game.p2.crazy);
  copy(s.ticks, game.ticks);
  copy(s.seed, game.random.seed);
  copy(s.randomKind, game.random.kind);
  copy(s.mathRevision, game.mathRevision);
}

}  // namespace

void SaveGame(const GameState& game, std::vector<unsigned char>& out) {
  Scalars s{};
  s.magic = kSnapshotMagic;
  s.version = kSnapshotVersion;
  EachScalar(game, s, [](auto& field, const auto& value) { Assign(field, value); });
  s.extras[0] = static_cast<uint32_t>(game.p1.extras.size());
  s.extras[1] = static_cast<uint32_t>(game.p2.extras.size());
  s.flies = static_cast<uint32_t>(game.flies.size());
  s.splats = static_cast<uint32_t>(game.splats.size());
  s.splatDots = static_cast<uint32_t>(game.splatDots.size());

  out.resize(SnapshotSize(s));
  unsigned char* at = Put(out.data(), &s, sizeof s);
  at = Put(at, &game.p1.nana, sizeof(Nana));
  at = Put(at, &game.p2.nana, sizeof(Nana));
  at = Put(at, game.p1.extras.data(), game.p1.extras.size() * sizeof(Nana));
  at = Put(at, game.p2.extras.data(), game.p2.extras.size() * sizeof(Nana));
  at = Put(at, game.flies.data(), game.flies.size() * sizeof(Fly));
  at = Put(at, game.splats.data(), game.splats.size() * sizeof(Splat));
  at = Put(at, game.splatDots.data(), game.splatDots.size() * sizeof(uint32_t));
  if (game.random.kind == RandomKind::Own) {
    Put(at, &game.random.own, sizeof game.random.own);
  } else {
    unsigned char table[kCLibraryStateBytes];
    SaveCLibraryState(table);
    Put(at, table, sizeof table);
  }
}

bool RestoreGame(GameState& game, const unsigned char* data, size_t size) {
  Scalars s;
  if (data == nullptr || size < sizeof s) return false;
  std::memcpy(&s, data, sizeof s);
  if (s.magic != kSnapshotMagic || s.version != kSnapshotVersion) return false;
  if (s.randomKind > 1 || s.mathRevision > kPortableMath || s.flies > kMaxFlies || s.extras[0] > 1u << 16 ||
      s.extras[1] > 1u << 16 || s.splats > 1u << 20 || s.splatDots > 1u << 28) {
    return false;
  }
  if (SnapshotSize(s) != size) return false;

  EachScalar(game, s, [](const auto& field, auto& value) { Assign(value, field); });

  const unsigned char* at = data + sizeof s;
  at = Take(at, &game.p1.nana, sizeof(Nana));
  at = Take(at, &game.p2.nana, sizeof(Nana));
  at = TakeVector(at, game.p1.extras, s.extras[0]);
  at = TakeVector(at, game.p2.extras, s.extras[1]);
  at = TakeVector(at, game.flies, s.flies);
  at = TakeVector(at, game.splats, s.splats);
  at = TakeVector(at, game.splatDots, s.splatDots);
  if (game.random.kind == RandomKind::Own) {
    Take(at, &game.random.own, sizeof game.random.own);
  } else {
    unsigned char table[kCLibraryStateBytes];
    Take(at, table, sizeof table);
    RestoreCLibraryState(table);
  }
  return true;
}

uint64_t GameChecksum(const GameState& game) {
  static thread_local std::vector<unsigned char> bytes;
  SaveGame(game, bytes);
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return std::hash<std::string_view>{}(view);
}

// --- Fingerprint ----------------------------------------------------------------

namespace {
// The fixed game: sizes of the game's own sprites, a fixed seed, scripted controls.
constexpr SpriteSize kFingerprintBanana{174, 60};
constexpr SpriteSize kFingerprintFly{42, 38};
constexpr uint64_t kFingerprintSeed = 0x6e616e6173706c61;  // "nanaspla"
constexpr int kFingerprintTicks = 1200;

// Held, released and turned in a pattern that rolls, tips, squashes and jumps.
Controls ScriptedControls(int64_t tick, int player) {
  const int64_t phase = (tick + player * 37) % 240;
  if (phase < 60) return {player == 1 ? 1 : -1, false};
  if (phase < 90) return {0, true};
  if (phase < 150) return {player == 1 ? -1 : 1, false};
  if (phase < 200) return {0, phase % 2 == 0};
  return {0, false};
}
}  // namespace

uint64_t SimulationFingerprint() {
  GameState game(true, PlayArea{}, kFingerprintBanana, kFingerprintFly, OwnRandom(kFingerprintSeed));
  game.mathRevision = kPortableMath;
  BeginLevel(game);
  StartLevelClock(game);
  uint64_t hash = 0;
  for (int tick = 0; tick < kFingerprintTicks; ++tick) {
    if (!CheckFlies(game)) break;
    if (game.cleared) {
      NextLevel(game);
      BeginLevel(game);
      StartLevelClock(game);
    }
    RunTick(game, OneReadingEach(ScriptedControls(tick, 1), ScriptedControls(tick, 2)));
    if (tick % 60 == 59) hash = hash * 1000003u ^ GameChecksum(game);
  }
  return hash * 1000003u ^ GameChecksum(game);
}
