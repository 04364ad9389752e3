// floor.h: the floor of a frame. floor_frame() paints one screen with nothing but the
// work each frame must do: the 150 background bands, every text rendered, uploaded,
// copied and freed through SDL2_ttf, the bar's measurements and fills. It keeps no
// state of the launcher's own, so what draw() costs beyond it is the launcher's overhead.
// At a scale of 2 it paints in output pixels, its texts rendered at twice the size.
#pragma once

#include <SDL.h>
#include <SDL_ttf.h>

// The screens, numbered as the launcher's states.
enum { FL_CHECKING, FL_SETUP, FL_UPDATE, FL_WORKING, FL_FAILED, FL_READY, FL_CRASHED };

extern SDL_Renderer *FL_R;
extern int FL_SCALE;  // output pixels per canvas pixel: 1 or 2
extern TTF_Font *FL_TITLE, *FL_BODY, *FL_SMALL, *FL_BUTTON;  // the faces that draw
extern TTF_Font *FL_BODY_1X, *FL_BUTTON_1X;  // the faces that measure the layout

// Opens the four fonts the launcher uses (same faces, same sizes) at the scale, and the
// two that measure the layout in canvas pixels, as the launcher's does. Returns 0 when
// the regular face was not found.
int floor_fonts(int scale = 1);
// Paints one screen with the launcher's sample content; logs is the logs directory
// line of the failure screens, started the tick count the working clock counts from.
void floor_frame(int screen, const char *logs, Uint32 started);
