// The main menu's showcase: a new world of a striking type each time,
// seen from the self-running camera.
include("gameModes/mainMenu/info.nut");
include("gen/worlds.nut");
include("gen/rules.nut");

showcase_types <- ["volcanic", "archipelago", "hills", "alpine", "desert"];

function generate_world(name) {
  build_world(showcase_types[rndi(0, showcase_types.len() - 1)]);
}
