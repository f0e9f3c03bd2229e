// SPDX-License-Identifier: GPL-3.0-or-later
// Times a launch of the game: starts COMMAND, watches its window titled TITLE on the
// display until PICTURE shows centred in it (rows across its upper half, sampled
// every few pixels, must match), prints the milliseconds since the launch, then asks
// the window to close the way a window manager does and waits for the game to end.
//   first_frame TIMEOUT_MS TITLE PICTURE COMMAND [ARGS...]
// Prints "first frame after N ms" and "exit status S". Exits 0 when the picture
// showed and the game then ended with status 0; 1 when the picture never showed
// within TIMEOUT_MS; 3 when the game did not end well after the close request.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <allegro.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "x11_window.h"

namespace {

// The window's size (pixels); the picture is centred in it.
constexpr int kWindowW = 1024;
constexpr int kWindowH = 768;
// Rows of the picture compared (as fractions of its height: away from the menu's
// buttons in its lower part), every kStep-th pixel, each channel within kTolerance
// (of 255: the display keeps 5 or 6 bits), and the share of samples that must match.
constexpr double kRows[] = {0.25, 0.375, 0.5};
constexpr int kStep = 4;
constexpr int kTolerance = 16;
constexpr double kMatchShare = 0.95;
// Time between two looks at the window (microseconds) and the wait for the end (ms).
constexpr int kPollUs = 1000;
constexpr int kExitWaitMs = 10000;

double NowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Requests on a window that is not viewable yet fail; that only means "not yet".
int IgnoreError(Display*, XErrorEvent*) { return 0; }

struct Rgb {
  int r, g, b;
};

struct Sample {
  int x, y;  // in the window (pixels)
  Rgb want;
};

// Channel value of an X pixel under `mask`, scaled to 0..255.
int Channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  const unsigned long max = mask >> shift;
  return static_cast<int>(((pixel & mask) >> shift) * 255 / max);
}

bool Close(int a, int b) { return a - b <= kTolerance && b - a <= kTolerance; }

std::vector<Sample> SamplesOf(BITMAP* picture) {
  std::vector<Sample> samples;
  const int left = (kWindowW - picture->w) / 2;
  const int top = (kWindowH - picture->h) / 2;
  for (double row : kRows) {
    const int py = static_cast<int>(row * picture->h);
    for (int px = 0; px < picture->w; px += kStep) {
      const int c = getpixel(picture, px, py);
      samples.push_back({left + px, top + py, {getr24(c), getg24(c), getb24(c)}});
    }
  }
  return samples;
}

// Whether the window shows the samples now: one request per sampled row.
bool Shows(Display* display, Window window, const std::vector<Sample>& samples) {
  size_t matched = 0;
  size_t i = 0;
  while (i < samples.size()) {
    const int y = samples[i].y;
    size_t end = i;
    while (end < samples.size() && samples[end].y == y) ++end;
    const int x0 = samples[i].x;
    const int width = samples[end - 1].x - x0 + 1;
    XImage* image = XGetImage(display, window, x0, y, width, 1, AllPlanes, ZPixmap);
    if (image == nullptr) return false;
    for (; i < end; ++i) {
      const unsigned long p = XGetPixel(image, samples[i].x - x0, 0);
      const Rgb& want = samples[i].want;
      if (Close(Channel(p, image->red_mask), want.r) && Close(Channel(p, image->green_mask), want.g) &&
          Close(Channel(p, image->blue_mask), want.b)) {
        ++matched;
      }
    }
    XDestroyImage(image);
  }
  return matched >= kMatchShare * samples.size();
}

// The game's exit status, or -1 if it had not ended within the wait (it is then killed).
int WaitForEnd(pid_t game) {
  const double until = NowMs() + kExitWaitMs;
  int status = 0;
  while (NowMs() < until) {
    if (waitpid(game, &status, WNOHANG) == game) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    usleep(kPollUs * 10);
  }
  kill(game, SIGKILL);
  waitpid(game, &status, 0);
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: first_frame TIMEOUT_MS TITLE PICTURE COMMAND [ARGS...]\n");
    return 2;
  }
  const double timeoutMs = std::atof(argv[1]);
  const char* title = argv[2];

  if (install_allegro(SYSTEM_NONE, &errno, std::atexit) != 0) return 2;
  set_color_depth(24);
  BITMAP* picture = load_bitmap(argv[3], nullptr);
  if (picture == nullptr) {
    std::fprintf(stderr, "cannot load %s\n", argv[3]);
    return 2;
  }
  const std::vector<Sample> samples = SamplesOf(picture);
  destroy_bitmap(picture);
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "no display\n");
    return 2;
  }
  XSetErrorHandler(IgnoreError);

  const double launched = NowMs();
  const pid_t game = fork();
  if (game == 0) {
    execvp(argv[4], argv + 4);
    _exit(127);
  }
  if (game < 0) return 2;

  Window window = 0;
  bool shown = false;
  double elapsed = 0;
  while (!shown && elapsed < timeoutMs) {
    usleep(kPollUs);
    if (window == 0) window = FindByTitle(display, DefaultRootWindow(display), title);
    if (window != 0) shown = Shows(display, window, samples);
    elapsed = NowMs() - launched;
  }
  if (!shown) {
    std::printf("no first frame within %.0f ms\n", timeoutMs);
    kill(game, SIGKILL);
    waitpid(game, nullptr, 0);
    return 1;
  }
  std::printf("first frame after %.0f ms\n", elapsed);
  std::fflush(stdout);

  SendClose(display, window);
  const int status = WaitForEnd(game);
  std::printf("exit status %d\n", status);
  XCloseDisplay(display);
  return status == 0 ? 0 : 3;
}
