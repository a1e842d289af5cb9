// The sandbox: one world, of a type drawn from the random state.
include("gameModes/sandbox/info.nut");
include("gen/worlds.nut");
include("gen/rules.nut");

function generate_world(name) {
  build_world(world_types[rndi(0, world_types.len() - 1)]);
}
