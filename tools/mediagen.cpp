// SPDX-License-Identifier: GPL-3.0-or-later
// Generates the game's pictures and font from code:
//   mediagen <output_dir> <dat_tool> [<ttf_file>]
// writes font.dat, banana_sm1.bmp, fly1.bmp, fly2.bmp, title800_3.bmp, help1.bmp and
// help2.bmp into <output_dir>. The same sources always give the same bytes.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "art.h"
#include "save.h"
#include "text.h"

extern char** environ;

namespace {

const char* const kDefaultFace = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr int kFontHeight = 26;  // pixels per line of the game's font
const Rgb kMaskColour{255, 0, 255};  // the library's transparent colour in sprites
const Rgb* const kSprite = &kMaskColour;
const Rgb* const kOpaque = nullptr;

bool Save(const std::string& dir, const char* name, const Canvas& c, const Rgb* empty) {
  std::string path = dir + "/" + name;
  if (SaveBmp24(path, c, empty)) return true;
  std::fprintf(stderr, "mediagen: cannot write %s\n", path.c_str());
  return false;
}

// Runs a program without a shell and with its chatter on stdout discarded; returns its
// exit status, or -1 if it could not be run.
int Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The font: one-colour glyphs laid out in the library's bitmap-font grid, packed into a
// datafile by the library's own dat tool (uncompressed, without the grabber's date and
// source-path properties, so that the file's bytes depend on nothing but the glyphs).
bool MakeFont(Typeface& tf, const std::string& dir, const std::string& dat) {
  GlyphGrid grid;
  int em = 0;
  if (!MakeGlyphGrid(tf, kFontHeight, grid, &em)) {
    std::fprintf(stderr, "mediagen: the face does not fit %d pixels\n", kFontHeight);
    return false;
  }
  std::vector<uint8_t> palette(256 * 3, 0);  // 1, the ink, is black
  palette[0] = palette[1] = palette[2] = 255;     // 0, empty: white
  palette[255 * 3] = palette[255 * 3 + 1] = 255;  // 255, the border: yellow
  std::string gridPath = dir + "/game_font.bmp";
  std::string datPath = dir + "/font.dat";
  if (!SaveBmp8(gridPath, grid.w, grid.h, grid.pixels, palette)) {
    std::fprintf(stderr, "mediagen: cannot write %s\n", gridPath.c_str());
    return false;
  }
  std::remove(datPath.c_str());
  int rc = Run({dat, "-c0", "-s1", "-n0", "-t", "FONT", "-a", datPath, gridPath});
  std::remove(gridPath.c_str());
  if (rc != 0) {
    std::fprintf(stderr, "mediagen: %s failed (%d)\n", dat.c_str(), rc);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: mediagen <output_dir> <dat_tool> [<ttf_file>]\n");
    return 2;
  }
  std::string dir = argv[1], dat = argv[2];
  std::string facePath = argc > 3 ? argv[3] : kDefaultFace;
  Typeface tf;
  if (!tf.Open(facePath)) {
    std::fprintf(stderr, "mediagen: cannot open %s\n", facePath.c_str());
    return 1;
  }
  bool ok = MakeFont(tf, dir, dat);
  ok = Save(dir, "banana_sm1.bmp", BananaSprite(), kSprite) && ok;
  ok = Save(dir, "fly1.bmp", FlySprite(0), kSprite) && ok;
  ok = Save(dir, "fly2.bmp", FlySprite(1), kSprite) && ok;
  ok = Save(dir, "title800_3.bmp", TitlePicture(tf), kOpaque) && ok;
  ok = Save(dir, "help1.bmp", HelpPage1(tf), kOpaque) && ok;
  ok = Save(dir, "help2.bmp", HelpPage2(tf), kOpaque) && ok;
  return ok ? 0 : 1;
}
