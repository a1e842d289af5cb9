// The story's universe and its worlds. Each world of the universe keeps its
// name, type and seed, so entering it again later builds the same land.
include("gameModes/story/info.nut");
include("gen/worlds.nut");
include("gen/rules.nut");

universe_world_names <- [
  "Greenhollow", "Sunscar Mesa", "Ember Isle", "Frostpeak",
  "Reefmere", "Willowdale", "Cinderfall", "Duneward",
];
universe_world_types <- [
  "hills", "desert", "volcanic", "alpine",
  "archipelago", "hills", "volcanic", "desert",
];

// worlds: one table per world with its name, type, seed (an integer for
// set_rnd_seed) and place on the universe map (x, y in 0 ... 1).
function generate_universe() {
  local list = [];
  local n = universe_world_names.len();
  for (local i = 0; i < n; i++) {
    local a = (i + frnd() * 0.4) / n;
    local d = make_dir_2d(a, vec4f(0.38, 0, 0, 0), vec4f(0, 0.38, 0, 0));
    list.append({
      name = universe_world_names[i],
      type = universe_world_types[i],
      seed = irnd(),
      x = 0.5 + getx(d),
      y = 0.5 + gety(d),
    });
  }
  return { worlds = list, enteredWorld = -1 };
}

// The world the player is entering (the universe's enteredWorld), or null.
function entered_world() {
  if (!("universe" in getroottable()) || ::universe == null) return null;
  local i = ::universe.enteredWorld;
  return i >= 0 && i < ::universe.worlds.len() ? ::universe.worlds[i] : null;
}

function generate_world(name) {
  local w = entered_world();
  if (w) {
    set_rnd_seed(w.seed);
    build_world(w.type);
  } else {
    build_world("hills");
  }
}
