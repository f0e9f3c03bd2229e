// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted player who watches the game, for games as long as a good player's:
//
//   steered_game OUT.nsr [--two] [--seed N] [--ticks T]
//
// plays one game to time up, headless (the play loop unseen, as the board re-runs it),
// with the build's media (their sizes and fingerprint), and writes its replay. Whenever
// its last choice has played out, the player tries a few hundred ways to go on, each on
// a copy of the game: lying upside down or in flight, how long to squash and which way
// to turn for how long in the air, until it is down again; on the ground, rocking with
// or against the swing or turning, until it lies upside down. It plays the one that
// kills flies fastest, counting what landing on its back or a tip costs (none killed: the
// one that came nearest to a fly, or got upside down soonest). It reads the game only to
// choose its controls: its readings are recorded as any player's are, and the replay
// re-runs from them alone. After T ticks (none by default) it lets go of the controls, so that
// the level it is in runs out of time. --two plays both bananas; --seed varies the
// tries. Prints the game's end: "level L, P1 S1, P2 S2, T ticks, time up".
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "board_media.h"
#include "gamerecord.h"
#include "playloop.h"
#include "replaycheck.h"
#include "replayfile.h"
#include "sim/framedraws.h"
#include "sim/trig.h"

namespace {

constexpr int kTries = 240;           // ways tried before each jump ...
constexpr int kMoreTriesWithoutKill = 3;  // ... and up to this many times more while none kills
constexpr int kFewFlies = 30;          // with fewer flies left, more tries: 1 + this / flies times ...
constexpr int kMostTriesFactor = 8;    // ... but at most this many times
constexpr size_t kLastFlies = 5;       // this few left: the player goes to where they are
constexpr int kMostSquash = 70;       // ticks the squash is held at most
constexpr int kLongestTurn = 90;      // ticks a turn is held in the air at most
constexpr int kLongestFlight = 400;   // ticks a try is followed at most
constexpr int kLostTicksTipping = 90;   // about what landing on a tip costs before the next jump
constexpr int kLostTicksRolling = 200;  // and landing on the back (rocking it over again)

// How a hold chooses its controls each tick: as they are, or from the banana's swing.
enum class Way { Fixed, WithSwing, AgainstSwing };

struct Hold {
  Way way;
  Controls controls;  // Fixed: these; with the swing: their squash, the turn from the swing
  int ticks;
};

int Sign(double v) { return v < 0 ? -1 : 1; }

// A way to go on: the holds in turn.
struct Plan {
  std::vector<Hold> holds;
  size_t at = 0;    // the hold being played
  int played = 0;   // ticks of it played
  int length = 0;   // ticks in all, as the try found it

  bool Done() const { return at >= holds.size(); }
  Controls Next(const Nana& nana) {
    const Hold& hold = holds[at];
    Controls c = hold.controls;
    // Turning with the swing rocks the banana higher each time, until it tips over.
    if (hold.way == Way::WithSwing) c.turn = Sign(nana.spin);
    if (hold.way == Way::AgainstSwing) c.turn = -Sign(nana.spin);
    if (++played >= hold.ticks) {
      ++at;
      played = 0;
    }
    return c;
  }
};

// How far the fly nearest to the banana's pivot is from it (pixels; a fly closer than
// the banana's reach can be hit).
double ClosestFly(const GameState& game, const Nana& nana) {
  double closest = 1e18;
  for (const Fly& fly : game.flies) {
    const double dx = fly.pos.x + kFlyCentreX - nana.pos.x, dy = fly.pos.y + kFlyCentreY - nana.pos.y;
    closest = std::min(closest, dx * dx + dy * dy);
  }
  return std::sqrt(closest);
}

// How far across the fly nearest to straight above the banana is (pixels).
double FlyAbove(const GameState& game, const Nana& nana) {
  double nearest = 1e9;
  for (const Fly& fly : game.flies) nearest = std::min(nearest, std::fabs(fly.pos.x + kFlyCentreX - nana.pos.x));
  return nearest;
}

bool OnTheGround(const Nana& nana) { return nana.state == Rolling || nana.state == Tipping; }

const Nana& NanaOf(const GameState& game, int p) { return p == 0 ? game.p1.nana : game.p2.nana; }

class SteeredSource : public ControlSource {
 public:
  SteeredSource(unsigned seed, int64_t stopAt) : random_(seed), stopAt_(stopAt) {}

  void BeginGame(GameState& game) override { game_ = &game; }
  FramePlan OpenFrame() override { return {1, false}; }
  Controls Read(int player) override {
    if (game_->ticks != decidedAt_ || game_->level != level_) Decide();
    return chosen_[player == 2 ? 1 : 0];
  }
  bool ReachedItsEnd(uint64_t, uint32_t) const override { return false; }

 private:
  // Once a tick, before its readings: each player's controls for it.
  void Decide() {
    if (game_->level != level_) {  // a new level: the bananas start again
      plans_[0] = plans_[1] = Plan{};
      level_ = game_->level;
    }
    decidedAt_ = game_->ticks;
    for (int p = 0; p < (game_->twoPlayer ? 2 : 1); ++p) chosen_[p] = DecideFor(p);
  }

  Controls DecideFor(int p) {
    if (game_->ticks >= stopAt_) return {0, false};
    if (plans_[p].Done()) plans_[p] = BestPlan(p);
    if (plans_[p].Done()) return {0, false};
    return plans_[p].Next(NanaOf(*game_, p));
  }

  // A random way on from where the banana is. Upside down: a squash (player 2's
  // buttons cannot turn and squash at once), then turns in the air; in flight: turns;
  // on the ground: rocking with or against its swing, or turning, to get it upside down.
  Plan RandomPlan(int p, const Nana& nana) {
    std::uniform_int_distribution<int> turn(-1, 1), squash(4, kMostSquash), hold(0, kLongestTurn);
    std::uniform_int_distribution<int> way(0, 3);
    Plan plan;
    const auto fixed = [&](int ticks) { return Hold{Way::Fixed, {turn(random_), false}, ticks}; };
    if (nana.state == UpsideDown) {
      plan.holds.push_back({Way::Fixed, {p == 1 ? 0 : turn(random_), true}, squash(random_)});
    }
    if (nana.state == UpsideDown || nana.state == Airborne) {
      plan.holds.push_back(fixed(hold(random_)));
      plan.holds.push_back(fixed(hold(random_)));
      plan.holds.push_back(fixed(kLongestFlight));
      return plan;
    }
    for (int i = 0; i < 3; ++i) {
      const int w = way(random_);
      const int ticks = i == 2 ? kLongestFlight : hold(random_);
      plan.holds.push_back(w == 0 ? Hold{Way::WithSwing, {0, false}, ticks}
                           : w == 1 ? Hold{Way::AgainstSwing, {0, false}, ticks}
                                    : fixed(ticks));
    }
    return plan;
  }

  // The other player meanwhile: what it means to do, then nothing.
  static Controls OtherPlayer(Plan& other, const Nana& nana) {
    return other.Done() ? Controls{0, false} : other.Next(nana);
  }

  // Plays `plan` for player p on a copy of the game, frame by frame as the play loop
  // does (one tick, then the frame's draws), until the banana is down again after a
  // flight (or, from the ground, upside down), the level is over or the try has gone on
  // long enough. The plan's length is the ticks it took. Its worth: flies killed per
  // tick, counting what the banana's end costs before its next jump.
  double Try(int p, Plan& plan) {
    GameState copy = *game_;
    Plan other = plans_[1 - p];
    const int flies = static_cast<int>(copy.flies.size());
    const int from = NanaOf(copy, p).state;
    bool flown = from == Airborne;
    double closest = 1e9;
    int ticks = 0;
    Plan mine = plan;
    while (ticks < kLongestFlight && !mine.Done() && CheckFlies(copy) && !copy.flies.empty()) {
      Controls c[2];
      c[p] = mine.Next(NanaOf(copy, p));
      if (copy.twoPlayer) c[1 - p] = OtherPlayer(other, NanaOf(copy, 1 - p));
      RunTick(copy, OneReadingEach(c[0], c[1]));
      TakeFrameDraws(copy);
      ++ticks;
      closest = std::min(closest, ClosestFly(copy, NanaOf(copy, p)));
      const int state = NanaOf(copy, p).state;
      if (from == Rolling || from == Tipping) {
        if (state == UpsideDown) break;
        continue;
      }
      if (state == Airborne) flown = true;
      if (flown && state != Airborne) break;
    }
    plan.length = ticks;
    const int state = NanaOf(copy, p).state;
    const int lost = copy.flies.empty()      ? 0
                     : state == UpsideDown   ? 0
                     : state == Tipping      ? kLostTicksTipping
                     : state == Rolling      ? kLostTicksRolling
                                             : 0;
    const int killed = flies - static_cast<int>(copy.flies.size());
    if (killed > 0) return killed / static_cast<double>(ticks + lost + 10);
    // None killed. With the last few flies left, the next jump goes up where this one
    // leaves the banana: the nearer beneath a fly the better.
    const double beneath = copy.flies.size() <= kLastFlies ? FlyAbove(copy, NanaOf(copy, p)) : 0;
    // From the ground, the sooner upside down the better; in a jump, the nearer it came
    // to a fly (then the sooner it is done).
    if (from == Rolling || from == Tipping) return -beneath * 1e-5 - (ticks + lost) * 1e-6;
    return -(closest + beneath) * 1e-5 - (ticks + lost) * 1e-7;
  }

  Plan BestPlan(int p) {
    SaveCLibraryState(table_);
    const Nana& nana = NanaOf(*game_, p);
    Plan best;
    double bestWorth = -1e9;
    // More tries when few flies are left (each try is quicker then, and the last flies
    // are the hardest to reach), and more again while none kills.
    const int flies = std::max<int>(1, static_cast<int>(game_->flies.size()));
    const int tries = kTries * std::min(kMostTriesFactor, 1 + kFewFlies / flies);
    for (int i = 0; i < tries || (bestWorth <= 0 && i < tries * kMoreTriesWithoutKill); ++i) {
      // On the ground the first try is plain rocking with the swing, which gets there.
      Plan plan = i == 0 && OnTheGround(nana) ? Plan{{{Way::WithSwing, {0, false}, kLongestFlight}}} : RandomPlan(p, nana);
      const double worth = Try(p, plan);
      RestoreCLibraryState(table_);
      if (worth > bestWorth) {
        bestWorth = worth;
        best = plan;
      }
    }
    // Played exactly as tried: cut to the ticks the try took.
    Plan cut;
    int left = best.length;
    for (const Hold& h : best.holds) {
      if (left <= 0) break;
      if (h.ticks <= 0) continue;
      cut.holds.push_back({h.way, h.controls, std::min(h.ticks, left)});
      left -= cut.holds.back().ticks;
    }
    return cut;
  }

  GameState* game_ = nullptr;
  std::mt19937 random_;
  int64_t stopAt_;
  int64_t decidedAt_ = -1;
  int level_ = 0;
  Controls chosen_[2] = {{0, false}, {0, false}};
  Plan plans_[2];
  unsigned char table_[kCLibraryStateBytes];
};

bool WriteFile(const std::string& path, const std::string& bytes) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: steered_game OUT.nsr [--two] [--seed N] [--ticks T]\n");
    return 2;
  }
  bool two = false;
  unsigned seed = 1;
  int64_t stopAt = INT64_MAX;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--two") {
      two = true;
    } else if (a == "--seed" && i + 1 < argc) {
      seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (a == "--ticks" && i + 1 < argc) {
      stopAt = std::strtoll(argv[++i], nullptr, 10);
    } else {
      std::fprintf(stderr, "steered_game: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  GameState game(two, PlayArea{}, SpriteSize{kMediaBananaWidth, kMediaBananaHeight},
                 SpriteSize{kMediaFlyWidth, kMediaFlyHeight});
  game.mathRevision = kPortableMath;  // the arithmetic a game played at the keyboard takes
  SteeredSource source(seed, stopAt);
  UnseenPresenter presenter;
  GameRecorder recorder(NANASPLAT_VERSION, kMediaFingerprint);
  PlayLoop play{source, presenter, &recorder};
  const LevelEnd end = PlayGame(play, game);
  EmptyLevelLists(game);
  const Replay& replay = recorder.Record();
  if (!WriteFile(argv[1], EncodeReplay(replay))) return 1;
  std::printf("%s, %s\n", SummaryText(replay.summary).c_str(), end == LevelEnd::TimeUp ? "time up" : "quit");
  return end == LevelEnd::TimeUp ? 0 : 1;
}
