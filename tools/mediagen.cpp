// Placeholder generator: plain pictures of the right sizes until the real artwork lands.
#include <allegro.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string dir = argv[1];
  install_allegro(SYSTEM_NONE, &errno, std::atexit);
  set_color_depth(24);
  struct Pic { const char* name; int w, h; };
  const Pic pics[] = {{"banana_sm1.bmp", 174, 60}, {"fly1.bmp", 42, 38}, {"fly2.bmp", 42, 38},
                      {"title800_3.bmp", 800, 600}, {"help1.bmp", 800, 600}, {"help2.bmp", 800, 600}};
  for (const Pic& pic : pics) {
    BITMAP* b = create_bitmap(pic.w, pic.h);
    clear_to_color(b, makecol(255, 0, 255));
    rectfill(b, 4, 4, pic.w - 5, pic.h - 5, makecol(250, 220, 60));
    save_bitmap((dir + "/" + pic.name).c_str(), b, nullptr);
    destroy_bitmap(b);
  }
  std::FILE* f = std::fopen((dir + "/font.dat").c_str(), "wb");
  if (f) std::fclose(f);
  return 0;
}
