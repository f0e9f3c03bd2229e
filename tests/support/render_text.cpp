// SPDX-License-Identifier: GPL-3.0-or-later
// Renders a text the way the game draws it (black, or the given colour, in the given
// font datafile's font, on white) into a BMP of exactly the text's size, so that
// end-to-end tests can compare a part of a screenshot with what should be there.
//   render_text FONT.dat TEXT OUT.bmp [R G B]
#include <allegro.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4 && argc != 7) return 2;
  if (install_allegro(SYSTEM_NONE, &errno, std::atexit) != 0) return 2;
  set_color_depth(16);
  DATAFILE* data = load_datafile(argv[1]);
  FONT* face = (data && data[0].type == DAT_FONT) ? static_cast<FONT*>(data[0].dat) : font;
  BITMAP* out = create_bitmap(text_length(face, argv[2]), text_height(face));
  clear_to_color(out, makecol(255, 255, 255));
  const int colour = argc == 7 ? makecol(std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]))
                               : makecol(0, 0, 0);
  textprintf_ex(out, face, 0, 0, colour, -1, "%s", argv[2]);
  const bool saved = save_bitmap(argv[3], out, nullptr) == 0;
  if (saved) std::printf("%d %d\n", out->w, out->h);
  destroy_bitmap(out);
  if (data != nullptr) unload_datafile(data);
  return saved ? 0 : 1;
}
