#include "game/frame_sequence.h"
#include "app/log.h"
#include "game/game_mode.h"
#include "render/d3d_render.h"
#include "render/font.h"

void draw_frame(float t) {
  if (cur_game_mode) cur_game_mode->render(t);
  set_back_buffer_target();
  if (cur_game_mode) cur_game_mode->renderUi(t);
  start_draw_text();
  draw_error_message();
  draw_visual_log();
  // The frame-rate and camera read-out and the developer's sun elevation
  // join here with the timing overlay.
  end_draw_text();
}
