// The world rules the gameplay modes share at play time: reactions to game
// events, tooltips and menus for objects, what a saved game keeps, and the
// live editing of the current world's palette.

// The palette of the world built last (a copy of its world_palettes row),
// edited live by set_pal_color.
cur_palette <- null;
cur_world_type <- "";

function process_event(event) {
  if (event == "enter_world" && ::cur_world_type != "")
    print("entered a world of type " + ::cur_world_type + "\n");
}

// No object has a script tooltip or context menu of its own yet.
function get_world_tooltip(obj) { return null; }
function get_world_ctx_menu(obj) { return null; }

// The script state a saved game keeps beside the world.
function get_savegame_globals() {
  return { cur_world_type = ::cur_world_type };
}

function set_pal_color(name, color) {
  if (::cur_palette == null || !(name in ::cur_palette)) throw "no palette colour '" + name + "'";
  ::cur_palette[name] = color;
}

function get_cur_pal_color(name) {
  if (::cur_palette == null || !(name in ::cur_palette)) throw "no palette colour '" + name + "'";
  return ::cur_palette[name];
}
