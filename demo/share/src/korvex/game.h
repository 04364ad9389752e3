/* game.h: the stand-in game's shared declarations. main.c reads the options and runs
 * the loop, scene.c paints a frame, font.c draws text in a 5x7 pixel font; gamedata.c
 * is written by the installer from the disc image and the patch. */
#ifndef BKF_GAME_H
#define BKF_GAME_H

#include <SDL.h>

/* From the installer's generated gamedata.c. */
extern const char bkf_disc_title[];
extern const char bkf_patch_version[];
extern const char bkf_disc_digest[];

/* What the game was told, shown on screen. */
struct options {
	const char *game;       /* --game DIR, or NULL */
	const char *resolution; /* --resolution WHAT, or NULL */
	int run;                /* --run was given */
	double seconds;         /* --seconds N, or < 0 to run until Escape */
	int status;             /* --status N, the exit status at the end */
	int signal;             /* --signal N, or 0 */
};

/* font.c */
int font_width(const char *s, int scale);
void font_draw(SDL_Renderer *r, int x, int y, int scale, const char *s);

/* scene.c */
void scene_draw(SDL_Renderer *r, int w, int h, Uint32 ms, const struct options *o,
	const char *mode, double left);

#endif
