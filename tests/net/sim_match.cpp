// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim_match.h"

#include "sim/game.h"

namespace simnet {
namespace {

constexpr SpriteSize kBananaSprite{174, 60};  // the game's banana sprite (pixels)
constexpr SpriteSize kFlySprite{42, 38};      // a fly's first picture (pixels)
constexpr int kLastLevel = 3;                 // a match ends after this level at the latest

class SimulationGame : public MatchGame {
 public:
  SimulationGame(uint64_t seed, int glitchTick)
      : game_(true, PlayArea{1024, 768}, kBananaSprite, kFlySprite, OwnRandom(seed)), glitch_(glitchTick) {
    BeginLevel(game_);
    StartLevelClock(game_);
  }
  void SaveState(std::vector<uint8_t>& into) override { SaveGame(game_, into); }
  void LoadState(const std::vector<uint8_t>& from) override { RestoreGame(game_, from.data(), from.size()); }
  void AdvanceTick(const std::array<uint8_t, 2>& r, bool firstRun) override {
    CheckFlies(game_);
    const TickEvents events = RunTick(game_, OneReadingEach(Decode(r[0]), Decode(r[1])));
    if (firstRun) sounds_ += static_cast<uint64_t>(events.soundCount);
    if (game_.ticks - 1 == glitch_) game_.p1.nana.pos.x += 0.5;
  }
  uint32_t Checksum() override {
    const uint64_t sum = GameChecksum(game_);
    return static_cast<uint32_t>(sum ^ (sum >> 32));
  }
  bool Stopped() override { return game_.cleared || (!game_.flies.empty() && game_.timeLeft < 0); }
  bool GameOver() override { return Stopped() && (!game_.cleared || game_.level >= kLastLevel); }
  void NextLevel() override {
    ++game_.level;
    game_.flies.clear();
    game_.p1.extras.clear();
    game_.p2.extras.clear();
    BeginLevel(game_);
    StartLevelClock(game_);
  }
  uint64_t Sounds() const override { return sounds_; }

 private:
  static Controls Decode(uint8_t code) {
    // As the replays code them: turn + 1, plus 3 when squashing.
    return {static_cast<int>(code % 3) - 1, code >= 3};
  }
  GameState game_;
  int64_t glitch_;
  uint64_t sounds_ = 0;
};

}  // namespace

std::unique_ptr<MatchGame> MakeSimulationGame(uint64_t seed, int glitchTick) {
  return std::make_unique<SimulationGame>(seed, glitchTick);
}

}  // namespace simnet
