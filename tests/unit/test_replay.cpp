// SPDX-License-Identifier: GPL-3.0-or-later
// Replays: the file read back as written, damaged files refused, the record a game
// leaves (its readings, its frames, its random numbers) and where it is written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "game.h"
#include "init.h"
#include "gamerecord.h"
#include "replay.h"
#include "replaycheck.h"
#include "sim/random.h"
#include "test_support.h"

namespace {

Replay SampleReplay() {
  Replay replay;
  replay.players = 2;
  replay.gameVersion = "1.0";
  unsigned char table[kCLibraryStateBytes];  // a usable generator state, as a game takes it
  SaveCLibraryState(table);
  replay.randomState.assign(table, table + kCLibraryStateBytes);
  replay.mediaFingerprint = 0xfeedf00du;
  replay.mathRevision = 3;
  replay.summary = {3, 27, 31, 70007, true, 0x12345678u};
  replay.levelScreens = 4;
  replay.frames = {{1, 70005}, {2, 1}};
  replay.controls[0] = {{ControlsCode({1, false}), 300}, {ControlsCode({0, true}), 70000}};
  replay.controls[1] = {{ControlsCode({-1, false}), 9}};
  return replay;
}

bool SameRuns(const std::vector<ReplayRun>& a, const std::vector<ReplayRun>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].value != b[i].value || a[i].count != b[i].count) return false;
  }
  return true;
}

TEST(ReplayFile, ReadsBackExactlyWhatWasWritten) {
  const Replay written = SampleReplay();
  Replay read;
  std::string error;
  ASSERT_TRUE(DecodeReplay(EncodeReplay(written), read, error)) << error;
  EXPECT_EQ(read.players, 2);
  EXPECT_EQ(read.gameVersion, "1.0");
  EXPECT_EQ(read.randomState, written.randomState);
  EXPECT_EQ(read.summary.level, 3);
  EXPECT_EQ(read.summary.p1Score, 27);
  EXPECT_EQ(read.summary.p2Score, 31);
  EXPECT_EQ(read.summary.ticks, 70007);
  EXPECT_EQ(read.mediaFingerprint, 0xfeedf00du);
  EXPECT_EQ(read.randomSource, 0);
  EXPECT_EQ(read.mathRevision, 3);
  EXPECT_TRUE(read.summary.timeUp);
  EXPECT_EQ(read.summary.endState, 0x12345678u);
  EXPECT_EQ(read.levelScreens, 4u);
  EXPECT_TRUE(SameRuns(read.frames, written.frames));
  EXPECT_TRUE(SameRuns(read.controls[0], written.controls[0]));
  EXPECT_TRUE(SameRuns(read.controls[1], written.controls[1]));
}

TEST(ReplayFile, ControlsAndRunsKeepEveryReading) {
  for (int turn = -1; turn <= 1; ++turn) {
    for (bool squash : {false, true}) {
      const Controls back = ControlsFromCode(ControlsCode({turn, squash}));
      EXPECT_EQ(back.turn, turn);
      EXPECT_EQ(back.squash, squash);
      EXPECT_LE(ControlsCode({turn, squash}), 5u);
    }
  }
  std::vector<ReplayRun> runs;
  for (uint32_t v : {1u, 1u, 1u, 0u, 2u, 2u}) AppendRun(runs, v);
  EXPECT_TRUE(SameRuns(runs, {{1, 3}, {0, 1}, {2, 2}}));
}

// Ten minutes of a busy two-player game: every player changes the controls every
// few readings, and the frames now and then run two ticks.
TEST(ReplayFile, TenMinutesOfBusyPlayTakeAtMost64KB) {
  Replay replay = SampleReplay();
  std::mt19937 random(7);
  std::uniform_int_distribution<int> hold(4, 30), code(0, 5), slow(0, 19);
  replay.frames.clear();
  int64_t ticks = 0;
  while (ticks < 36000) {
    const uint32_t t = slow(random) == 0 ? 2 : 1;
    AppendRun(replay.frames, t);
    ticks += t;
  }
  replay.summary.ticks = ticks;
  for (auto& runs : replay.controls) {
    runs.clear();
    for (int reads = 0; reads < 36000 * 2;) {
      const int n = hold(random);
      runs.push_back({static_cast<uint32_t>(code(random)), static_cast<uint32_t>(n)});
      reads += n;
    }
  }
  const std::string bytes = EncodeReplay(replay);
  RecordProperty("bytes", static_cast<int>(bytes.size()));
  EXPECT_LE(bytes.size(), 64u * 1024);
  Replay read;
  std::string error;
  EXPECT_TRUE(DecodeReplay(bytes, read, error)) << error;
}

TEST(ReplayFile, RefusesWhatIsNotAWholeIntactReplay) {
  const std::string good = EncodeReplay(SampleReplay());
  Replay read;
  std::string error;
  auto refused = [&](const std::string& bytes) { return !DecodeReplay(bytes, read, error) && !error.empty(); };

  EXPECT_TRUE(refused(""));
  EXPECT_TRUE(refused("NOTAREPLAY" + good.substr(10)));
  EXPECT_NE(error.find("magic"), std::string::npos);
  std::string version = good;
  version[8] = 3;
  EXPECT_TRUE(refused(version));
  EXPECT_NE(error.find("version"), std::string::npos);
  for (size_t n = 0; n < good.size(); ++n) EXPECT_TRUE(refused(good.substr(0, n))) << "cut at " << n;
  for (size_t at = 0; at < good.size(); ++at) {
    std::string damaged = good;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x10);
    EXPECT_TRUE(refused(damaged)) << "byte " << at;
  }
  EXPECT_TRUE(refused(good + "x"));

  // Intact files whose contents cannot be a game's.
  Replay bad = SampleReplay();
  bad.summary.ticks = 70008;  // the frames ran 70007
  EXPECT_TRUE(refused(EncodeReplay(bad)));
  bad = SampleReplay();
  bad.randomState.assign(bad.randomState.size(), 0xff);
  EXPECT_TRUE(refused(EncodeReplay(bad)));
  bad = SampleReplay();
  bad.players = 3;
  EXPECT_TRUE(refused(EncodeReplay(bad)));
  bad = SampleReplay();
  bad.controls[0].push_back({6, 1});  // no such controls
  EXPECT_TRUE(refused(EncodeReplay(bad)));
  bad = SampleReplay();
  bad.players = 1;  // with player 2's readings
  EXPECT_TRUE(refused(EncodeReplay(bad)));
}

// A replay refused, with the reason it gives.
std::string Refusal(const Replay& replay) {
  Replay read;
  std::string error;
  return DecodeReplay(EncodeReplay(replay), read, error) ? "" : error;
}

TEST(ReplayBounds, AFileHoldingMoreThanItsGameCouldIsRefusedSayingWhat) {
  Replay bad = SampleReplay();
  bad.players = 1;
  bad.controls[1].clear();
  bad.summary = {1, 0, 0, 0, false, 0};
  bad.levelScreens = 1;
  bad.controls[0].clear();
  bad.frames = {{0, UINT32_MAX}};  // a game that never ends
  EXPECT_NE(Refusal(bad).find("4294967295 frames that run no tick; a game of 0 ticks has at most"),
            std::string::npos) << Refusal(bad);
  bad.frames.assign(300000, {0, 1});  // packed small, unpacked long
  EXPECT_NE(Refusal(bad).find("too long (a body of 600005 bytes"), std::string::npos) << Refusal(bad);

  bad.summary.ticks = 10;
  bad.frames = {{1, 10}};
  bad.controls[0] = {{0, 10 * 30 + 1}};  // more than every banana of 10 ticks reads
  EXPECT_NE(Refusal(bad).find("301 control readings of player 1"), std::string::npos) << Refusal(bad);
  bad.controls[0] = {{0, 10 * 30}};
  EXPECT_EQ(Refusal(bad), "");
  bad.summary.level = 12;  // each level before the last takes a tick to clear
  EXPECT_NE(Refusal(bad).find("level 12 cannot be reached in 10 ticks"), std::string::npos) << Refusal(bad);
  bad.summary.level = 2;
  bad.levelScreens = 5;
  EXPECT_NE(Refusal(bad).find("5 level screens"), std::string::npos) << Refusal(bad);
}

TEST(ReplayBounds, WhatARealGameHoldsIsRead) {
  // A pause every second of a ten-minute game, each ending in a frame without a tick.
  Replay game = SampleReplay();
  game.summary.ticks = 36000;
  game.summary.level = 9;
  game.levelScreens = 18;
  game.frames.clear();
  for (int second = 0; second < 600; ++second) game.frames.insert(game.frames.end(), {{1, 60}, {0, 1}});
  for (auto& runs : game.controls) runs = {{0, 36000 * 30}};  // CRAZY all along, with every extra
  EXPECT_EQ(Refusal(game), "");
}

TEST(ReplayBounds, AFileIsReadNoFurtherThanAReplayCanBe) {
  const std::string path = ScratchDir() + "/huge.nsr";
  WriteFile(path, EncodeReplay(SampleReplay()) + std::string(kMaxReplayFileBytes, 'x'));
  Replay read;
  std::string error;
  EXPECT_FALSE(LoadReplay(path, read, error));
  EXPECT_EQ(error, "too large for a replay");
}

// The bounded read other files holding a replay go through (a world board's queued games):
// up to its bound exactly, never a byte more, and a directory is a failure, not a throw.
TEST(ReplayBounds, ABoundedReadTakesUpToItsBoundAndRefusesTheRest) {
  const std::string dir = ScratchDir();
  WriteFile(dir + "/ten", std::string(10, 'x'));
  const struct {
    std::string path;
    size_t most;
    bool read;
    const char* error;
  } cases[] = {{dir + "/ten", 10, true, ""},
               {dir + "/ten", 9, false, "too large for a replay"},
               {dir, 100, false, "Is a directory"},
               {dir + "/none", 100, false, "No such file or directory"}};
  for (const auto& c : cases) {
    std::string bytes, error;
    EXPECT_EQ(ReadFileBounded(c.path, c.most, bytes, error), c.read) << c.path << " " << c.most;
    EXPECT_EQ(error, c.error) << c.path;
    if (c.read) {
      EXPECT_EQ(bytes, std::string(10, 'x'));
    }
  }
}

// Where a replay came from, as --check-replay tells it when the replay differs.
TEST(ReplayOrigin, SaysWhenAnotherVersionOrOtherPicturesRecordedIt) {
  Replay here = SampleReplay();
  here.mathRevision = 0;
  Replay replay = here;
  EXPECT_EQ(ReplayOrigin(replay, here), "");
  replay.gameVersion = "1.2";
  EXPECT_EQ(ReplayOrigin(replay, here), "recorded by nanasplat 1.2");
  replay.mediaFingerprint = here.mediaFingerprint + 1;
  EXPECT_EQ(ReplayOrigin(replay, here), "recorded by nanasplat 1.2 with other pictures");
  replay.gameVersion = here.gameVersion;
  EXPECT_EQ(ReplayOrigin(replay, here), "recorded by nanasplat 1.0 with other pictures");
  replay.mediaFingerprint = 0;  // an old replay does not know its pictures
  EXPECT_EQ(ReplayOrigin(replay, here), "");
}

TEST(ReplayOrigin, TheFingerprintFollowsTheShapesOfTheBananaAndTheFlies) {
  BITMAP* banana = create_bitmap(174, 60);
  BITMAP* fly = create_bitmap(42, 38);
  BITMAP* wider = create_bitmap(43, 38);
  for (BITMAP* b : {banana, fly, wider}) clear_to_color(b, makecol(200, 200, 0));
  const uint32_t print = MediaFingerprint(banana, fly, fly);
  EXPECT_NE(print, 0u);
  EXPECT_EQ(MediaFingerprint(banana, fly, fly), print);
  EXPECT_NE(MediaFingerprint(banana, wider, fly), print);
  EXPECT_NE(MediaFingerprint(banana, fly, nullptr), print);
  putpixel(banana, 3, 4, makecol(10, 10, 10));  // another colour: the same shape
  EXPECT_EQ(MediaFingerprint(banana, fly, fly), print);
  putpixel(banana, 3, 4, bitmap_mask_color(banana));  // a hole: another shape
  EXPECT_NE(MediaFingerprint(banana, fly, fly), print);
  for (BITMAP* b : {banana, fly, wider}) destroy_bitmap(b);
}

// A game as the play loop records it: readings and frames, then its end.
Replay PlayTwoFrames(Game& game, int score) {
  GameRecorder recorder("1.0", 0);
  recorder.BeginGame(game);
  recorder.Reading(1, {1, false});
  recorder.Reading(1, {1, false});  // an extra banana reads too
  recorder.Reading(1, {1, false});
  recorder.Reading(1, {1, false});
  recorder.Frame(2);
  recorder.Reading(1, {0, true});
  recorder.Frame(1);
  game.p1.score = score;
  recorder.FinishGame(game, LevelEnd::Quit);
  WriteGameRecord(recorder.Record());
  return recorder.Record();
}

TEST(ReplayRecording, KeepsEveryReadingEachFramesTicksAndTheEnd) {
  Game game(false, nullptr);
  game.level = 2;
  GameRecorder recorder("1.0", 0);
  recorder.Reading(1, {1, false});  // outside a game nothing is recorded
  const Replay record = PlayTwoFrames(game, 5);
  EXPECT_EQ(record.players, 1);
  EXPECT_TRUE(SameRuns(record.frames, {{2, 1}, {1, 1}}));
  EXPECT_TRUE(SameRuns(record.controls[0], {{ControlsCode({1, false}), 4}, {ControlsCode({0, true}), 1}}));
  EXPECT_TRUE(record.controls[1].empty());
  EXPECT_EQ(record.summary.level, 2);
  EXPECT_EQ(record.summary.p1Score, 5);
  EXPECT_EQ(record.summary.ticks, 3);
  EXPECT_FALSE(record.summary.timeUp);
  EXPECT_TRUE(recorder.Record().controls[0].empty());
}

TEST(ReplayRecording, WritesLastAndBestWhenTheGameEnds) {
  const std::string dir = ScratchDir() + "/" + ReplayDirectory();
  Game game(false, nullptr);
  PlayTwoFrames(game, 9);
  Replay last, best;
  std::string error;
  ASSERT_TRUE(LoadReplay(dir + "/last.nsr", last, error)) << error;
  ASSERT_TRUE(LoadReplay(dir + "/best.nsr", best, error)) << error;
  EXPECT_EQ(best.summary.p1Score, 9);

  PlayTwoFrames(game, 4);  // a worse game: the last one, not the best
  ASSERT_TRUE(LoadReplay(dir + "/last.nsr", last, error));
  ASSERT_TRUE(LoadReplay(dir + "/best.nsr", best, error));
  EXPECT_EQ(last.summary.p1Score, 4);
  EXPECT_EQ(best.summary.p1Score, 9);

  PlayTwoFrames(game, 12);
  ASSERT_TRUE(LoadReplay(dir + "/best.nsr", best, error));
  EXPECT_EQ(best.summary.p1Score, 12);
}

TEST(ReplayRecording, KeepsAnUnreadableBestAsideBeforeWritingANewOne) {
  const std::string dir = ScratchDir() + "/" + ReplayDirectory();
  Game game(false, nullptr);
  PlayTwoFrames(game, 1);
  WriteFile(dir + "/best.nsr", "NSREPLAY from a game we cannot read");
  ResetLog();
  PlayTwoFrames(game, 0);  // a worse game than any
  EXPECT_EQ(ReadFile(dir + "/best.nsr.unreadable"), "NSREPLAY from a game we cannot read");
  Replay best;
  std::string error;
  ASSERT_TRUE(LoadReplay(dir + "/best.nsr", best, error)) << error;
  int asideLines = 0;
  for (const std::string& line : LogMessages()) asideLines += line.find("kept as") != std::string::npos;
  EXPECT_EQ(asideLines, 1);
}

// The third game of a run starts from the numbers the games before it drew: its record
// carries the generator's state, and playing it back starts from that state again.
TEST(ReplayRecording, APlaybackDrawsTheRandomNumbersItsGameDrew) {
  for (int i = 0; i < 1000; ++i) std::rand();  // earlier games
  Game game(false, nullptr);
  GameRecorder recorder("1.0", 0);
  recorder.BeginGame(game);
  const Replay script = recorder.Record();
  std::vector<int> drawn;
  for (int i = 0; i < 50; ++i) drawn.push_back(std::rand());

  for (int i = 0; i < 777; ++i) std::rand();  // anything drawn since
  ReplaySource source(script);
  source.BeginGame(game);
  std::vector<int> again;
  for (int i = 0; i < 50; ++i) again.push_back(std::rand());
  EXPECT_EQ(again, drawn);
  EXPECT_TRUE(source.ReachedItsEnd(0, 0));  // the script had no frames: its game ends at once
  std::srand(1);
}

}  // namespace
