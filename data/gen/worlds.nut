// The world types shared by the gameplay modes. build_world(type) makes one
// world of that type into the grids from the current random state; the
// colours come from gen/palettes.csv (world_palettes, one row per type).
//
//   hills        green rolling hills with lakes, woods and villages
//   desert       terraced red plateaus, banded cliffs, sand flats, an oasis
//   volcanic     a volcano island in the sea, its crater and a field of lava
//   alpine       snowy peaks, rocky ridges, glacial lakes in wooded valleys
//   archipelago  wooded islands with wide beaches in a shallow sea

world_types <- ["hills", "desert", "volcanic", "alpine", "archipelago"];

// ---- small tools

// The height below which the fraction q of the land lies (sampled).
function height_quantile(q) {
  local m = HmapMask.fromHeight();
  local hs = [];
  for (local z = 0; z < 256; z += 4)
    for (local x = 0; x < 256; x += 4)
      hs.append(m.getraw(x, z));
  hs.sort();
  local i = (q * hs.len()).tointeger();
  return hs[i < hs.len() ? i : hs.len() - 1];
}

// Water up to level wherever the land is lower, marked so nothing is built there.
function fill_water(level) {
  apply_water_mask(HmapMask.fromHeight(), function(w, h) { return h < level ? level - h : 0.0; });
  mark_water(0.01, MARK_WATER, 0);
}

// A noise layer, and the value at the fraction q of its range (thresholds
// are compared with the raw values, so the layer needs no rescaling).
function noise_layer(persistence) { return HmapMask.fastNoise(1.0, persistence); }
function noise_level(n, q) {
  local r = n.calcMinMax();
  return r[0] + (r[1] - r[0]) * q;
}

// A bit map with the disc of radius r around (cx, cz) set to value.
function set_disc(m, cx, cz, r, value) {
  local x0 = round(cx), z0 = round(cz), n = (r + 1).tointeger();
  for (local dz = -n; dz <= n; dz++)
    for (local dx = -n; dx <= n; dx++) {
      local fx = x0 + dx - cx, fz = z0 + dz - cz;
      if (fx * fx + fz * fz < r * r) m.set(x0 + dx, z0 + dz, value);
    }
}

// A ramp of horizontal rock bands: the three strata colours repeated.
function strata_ramp(p, bands) {
  local c = [p.strata1, p.strata2, p.strata3, p.strata2];
  return ColorRamp(function(t) {
    local f = t * bands;
    local i = f.tointeger();
    return lerpcolor(c[i % 4], c[(i + 1) % 4], f - i);
  });
}

// Wrapped distance between two points of the map.
function map_dist(x0, z0, x1, z1) {
  local dx = wrap(x1 - x0), dz = wrap(z1 - z0);
  return sqrt(dx * dx + dz * dz);
}

// ---- villages

// Up to count village sites on wide flat dry ground above min_h, spread
// apart; each an array [x, z].
function find_village_sites(count, min_h, flatness) {
  local slope = HmapMask.fromSlope();
  local hm = HmapMask.fromHeight();
  local wet = HmapMask.fromWater();
  local flat = BitMap(function(x, z) {
    return slope.getraw(x, z) > flatness && wet.getraw(x, z) <= 0.0 && hm.getraw(x, z) > min_h;
  });
  // Only ground that stays flat a few cells around.
  flat = flat.erode().erode().erode().erode();
  local sites = [];
  if (flat.area() < 40) return sites;
  flat.placePoints(count, function(x, z) { sites.append([x, z]); });
  return sites;
}

// Whether (x, z) lies within r of one of the sites.
function near_site(sites, x, z, r) {
  foreach (s in sites)
    if (map_dist(s[0], s[1], x, z) < r) return true;
  return false;
}

// The village ground as a bit map, for the painters.
function village_map(sites, r) {
  local m = BitMap(0);
  foreach (s in sites) {
    local x0 = s[0], z0 = s[1];
    for (local dz = -r; dz <= r; dz++)
      for (local dx = -r; dx <= r; dx++)
        if (dx * dx + dz * dz <= r * r) m.set(x0 + dx, z0 + dz, true);
  }
  return m;
}

// Levels each site and tries houses around its centre (a house whose
// ground is taken is not built); the first site also gets the large hall.
// Returns the position of the first village.
function build_villages(sites, radius, houses) {
  local first = null;
  foreach (i, s in sites) {
    local x = s[0], z = s[1];
    local h = get_average_circle_height(x, z, radius);
    flatten_circle(x, z, radius + 3, h, 0.9, 3.0);
    if (i == 0) place_house(x, z, -2);
    for (local k = 0; k < houses * 3; k++) {
      local d = make_dir_xz(frnd());
      local r = rndf(4.0, radius);
      place_house(round(x + getx(d) * r), round(z + getz(d) * r), rndi(0, 8));
    }
    mark_circle(x, z, radius + 2, MARK_PLACE, 0);
    if (!first) first = vec4f(x, h + 6, z, 1);
  }
  return first;
}

// ---- erosion

function erode(droplets, params) {
  gen_droplet_erosion(droplets, params);
}

// ---- the world types

function gen_hills(p) {
  reseed_noise();
  add_simplex_noise(0, 28, 2, 6, 0.5);
  add_simplex_noise(0, 7, 8, 4, 0.5);
  add_voronoi_hills(4, 0, 9, 0.95);
  add_fast_noise(0, 2.0, null, GT_SOIL, 255, 0.55);
  gen_fault(hmfrnd(), hmfrnd(), srnd(), srnd(), rndf(4, 7), 0.5, 14, null, GT_ROCK);
  recenter_hmap();
  recolor_by_height(ColorRamp.linear(p.soil, p.rock));
  // Rain carves the valleys; settling mud turns from the rock's grey to brown.
  erode(7000, { Kq = 6.0, Kd = 0.05, Kr = 0.6, reactionTime = 1.0,
                reactions = [[vec4f(1, 1, 1, 0), vec4f(0.92, 0.86, 0.78, 0), 0.06]] });
  local sea = height_quantile(0.16);
  fill_water(sea);
  local sites = find_village_sites(4, sea + 1.5, 0.975);
  local village = village_map(sites, 9);
  local slope = HmapMask.fromSlope(), hm = HmapMask.fromHeight(), woods = noise_layer(0.62);
  local forest = noise_level(woods, 0.6), meadow = noise_level(woods, 0.4);
  local mixed = lerpcolor(p.grass, p.forest, 0.4);
  repaint_land(function(x, z, c, t) {
    local h = hm.getraw(x, z), s = slope.getraw(x, z);
    if (h < sea - 0.3) return [lerpcolor(c, p.bed, 0.7), GT_SOIL];
    if (h < sea + 0.35 || (h < sea + 0.9 && s < 0.97)) return [lerpcolor(c, p.sand, 0.85), GT_SAND];
    if (s < 0.7) return [lerpcolor(c, p.cliff, 0.6), GT_ROCK];
    if (village.get(x, z)) return [lerpcolor(c, p.soil, 0.5), GT_SOIL, p.grass, ST_GRASS];
    local w = woods.getraw(x, z);
    return [c, GT_SOIL, w > forest ? p.forest : w > meadow ? mixed : p.grass, ST_GRASS];
  });
  local start = build_villages(sites, 9, 7);
  set_player_pos(start ? start : vec4f(128, 30, 128, 1));
  set_sun_dir(norm3(vec4f(-0.5, 0.8, -0.3, 0)));
  set_sky_name("day");
}

function gen_desert(p) {
  reseed_noise();
  gen_voronoi_faults(4, 0, 22, 0.22, 2, 3, 6.0);
  add_simplex_noise(0, 7, 4, 4, 0.5);
  add_fast_noise(0, 1.5, null, GT_SAND, 255, 0.5);
  local strata = strata_ramp(p, 7);
  for (local i = 0; i < 3; i++)
    gen_fault(hmfrnd(), hmfrnd(), srnd(), srnd(), rndf(8, 14), 0.5, 18, strata, GT_ROCK);
  gen_crater(hmfrnd(), hmfrnd(), rndf(8, 12), 0.55);
  recenter_hmap();
  recolor_by_height(strata);
  // Red clay washed down the cliffs turns brown where it settles.
  erode(7000, { Kq = 4.0, Kd = 0.08, Kr = 0.5, reactionTime = 1.0,
                reactions = [[vec4f(1, 1, 0, 0), vec4f(0.82, 0.9, 0.06, 0), 0.08]] });
  local oasis = height_quantile(0.025);
  fill_water(oasis);
  local sites = find_village_sites(2, oasis + 1.0, 0.985);
  local village = village_map(sites, 7);
  local slope = HmapMask.fromSlope(), hm = HmapMask.fromHeight(), scrub = noise_layer(0.85);
  local bush = noise_level(scrub, 0.7);
  local r = hm.calcMinMax();
  local mid = r[0] + (r[1] - r[0]) * 0.45;
  repaint_land(function(x, z, c, t) {
    local h = hm.getraw(x, z), s = slope.getraw(x, z);
    if (h < oasis + 0.6) return [lerpcolor(c, p.bed, 0.6), GT_SOIL, p.grass, ST_GRASS];
    if (s < 0.8) return [c, GT_ROCK];
    if (village.get(x, z)) return [lerpcolor(c, p.soil, 0.6), GT_SOIL];
    if (h < mid) {
      // Sand flats between the mesas, a little scrub here and there.
      local sand = lerpcolor(c, p.sand, 0.75);
      return scrub.getraw(x, z) > bush ? [sand, GT_SAND, p.forest, ST_GRASS] : [sand, GT_SAND];
    }
    return [lerpcolor(c, p.soil, 0.35), GT_SOIL];
  });
  local start = build_villages(sites, 7, 5);
  set_player_pos(start ? start : vec4f(128, 30, 128, 1));
  set_sun_dir(norm3(vec4f(0.3, 0.9, 0.2, 0)));
  set_sky_name("desert");
}

function gen_volcanic(p) {
  reseed_noise();
  local cx = hmfrnd(), cz = hmfrnd();
  // The island: a wide shield with the steep cone of the volcano on it.
  local island = HmapMask(function(x, z) {
    local dx = x - cx, dz = z - cz;
    if (dx > 128) dx -= 256; else if (dx < -128) dx += 256;
    if (dz > 128) dz -= 256; else if (dz < -128) dz += 256;
    local d = sqrt(dx * dx + dz * dz);
    local shield = 1.0 - d / 88.0, cone = 1.0 - d / 34.0;
    local h = -14.0;
    if (shield > 0) h += 38.0 * shield * sqrt(shield);
    if (cone > 0) h += 30.0 * cone * sqrt(cone);
    return h;
  });
  apply_height_mask(island, null);
  add_simplex_noise(0, 9, 4, 5, 0.5);
  add_fast_noise(0, 3, null, GT_ROCK, 255, 0.58);
  local crater_r = 7.5;
  gen_crater(cx, cz, crater_r, 0.7);
  recolor_by_height(ColorRamp.linear(p.soil, p.rock));
  erode(7000, { Kq = 5.0, Kd = 0.06, Kr = 0.7, reactionTime = 1.0,
                reactions = [[vec4f(1, 1, 1, 0), vec4f(0.9, 0.88, 0.86, 0), 0.05]] });
  local sea = height_quantile(0.58);
  fill_water(sea);

  // Lava: the crater's lake, and a field that has run down one flank.
  local rim = get_average_circle_height(cx, cz, crater_r * 1.4);
  local d = make_dir_xz(frnd());
  // The flow keeps to a narrow wedge down the flank.
  local flank = BitMap(0), dx0 = getx(d), dz0 = getz(d);
  for (local dz = -48; dz <= 48; dz++)
    for (local dx = -48; dx <= 48; dx++) {
      local r = sqrt(dx * dx + dz * dz);
      if (r > 11 && r < 48 && (dx * dx0 + dz * dz0) > r * 0.84) flank.set(round(cx) + dx, round(cz) + dz, true);
    }
  local field = flank.randomFill(round(cx + dx0 * 13), round(cz + dz0 * 13), 420);
  local lava = HmapMask(0);
  local hm0 = HmapMask.fromHeight();
  local b = field.bounds();
  for (local j = 0; j < b[3]; j++)
    for (local i = 0; i < b[2]; i++)
      if (field.get(b[0] + i, b[1] + j)) lava.set(b[0] + i, b[1] + j, -1.2);
  local n = (crater_r + 1).tointeger(), x0 = round(cx), z0 = round(cz);
  for (local dz = -n; dz <= n; dz++)
    for (local dx = -n; dx <= n; dx++) {
      local fx = x0 + dx - cx, fz = z0 + dz - cz;
      if (fx * fx + fz * fz < crater_r * crater_r) {
        local depth = (rim - hm0.getraw(x0 + dx, z0 + dz)) * 0.6;
        lava.set(x0 + dx, z0 + dz, depth > 0.5 ? -depth : -0.5);
      }
    }
  apply_water_mask(lava, null);
  local burnt = field.expand().expand();
  set_disc(burnt, cx, cz, crater_r + 3, true);
  mark_circle(cx, cz, 30, MARK_PLACE, 0);

  local sites = find_village_sites(3, sea + 1.2, 0.97);
  local village = village_map(sites, 8);
  local slope = HmapMask.fromSlope(), hm = HmapMask.fromHeight(), green = noise_layer(0.6);
  local lush = noise_level(green, 0.55);
  local ashline = sea + (rim - sea) * 0.45;
  repaint_land(function(x, z, c, t) {
    if (burnt.get(x, z)) return [p.cliff, GT_ROCK, p.ash, ST_ASH];
    local h = hm.getraw(x, z);
    if (h < sea - 0.5) return [lerpcolor(c, p.bed, 0.7), GT_SOIL];
    if (h < sea + 0.8) return [p.sand, GT_SAND];
    local s = slope.getraw(x, z);
    if (s < 0.68) return [lerpcolor(c, p.rock, 0.7), GT_ROCK];
    if (h > ashline) return [lerpcolor(c, p.rock, 0.5), GT_ROCK, p.ash, ST_ASH];
    if (village.get(x, z)) return [c, GT_SOIL, p.grass, ST_GRASS];
    return [c, GT_SOIL, green.getraw(x, z) > lush ? p.forest : p.grass, ST_GRASS];
  });
  local start = build_villages(sites, 8, 6);
  set_player_pos(start ? start : vec4f(cx + 40, sea + 20, cz, 1));
  set_sun_dir(norm3(vec4f(-0.3, 0.6, 0.7, 0)));
  set_sky_name("dusk");
}

function gen_alpine(p) {
  reseed_noise();
  add_simplex_noise(0, 40, 2, 6, 0.55);
  add_voronoi_hills(4, 0, 20, 1.0);
  add_fast_noise(0, 5, null, GT_ROCK, 255, 0.62);
  for (local i = 0; i < 3; i++)
    gen_fault(hmfrnd(), hmfrnd(), srnd(), srnd(), rndf(6, 11), 0.6, 30, null, GT_ROCK);
  recenter_hmap();
  recolor_by_height(ColorRamp.linear(p.soil, p.rock));
  erode(8000, { Kq = 8.0, Kd = 0.04, Kr = 0.8 });
  local lakes = height_quantile(0.1);
  fill_water(lakes);
  local snow = height_quantile(0.72), tree = height_quantile(0.45);
  local sites = find_village_sites(3, lakes + 1.0, 0.97);
  local village = village_map(sites, 8);
  local slope = HmapMask.fromSlope(), hm = HmapMask.fromHeight(), patch = noise_layer(0.65);
  local pr = patch.calcMinMax();
  local plo = pr[0], pk = 1.0 / (pr[1] - pr[0]);
  repaint_land(function(x, z, c, t) {
    local h = hm.getraw(x, z), s = slope.getraw(x, z), n = (patch.getraw(x, z) - plo) * pk;
    if (h < lakes + 0.4) return [lerpcolor(c, p.bed, 0.6), GT_SOIL];
    local line = snow + (n - 0.5) * 8.0;
    if (h > line && s > 0.55) return [c, GT_ROCK, lerpcolor(p.snow, p.cliff, (1.0 - s) * 0.8), ST_SNOW];
    if (s < 0.65) return [lerpcolor(c, p.cliff, 0.6), GT_ROCK];
    if (village.get(x, z)) return [c, GT_SOIL, p.grass, ST_GRASS];
    if (h < tree + (n - 0.5) * 6.0) return [c, GT_SOIL, p.forest, ST_GRASS];
    return [c, GT_SOIL, p.grass, ST_GRASS];
  });
  local start = build_villages(sites, 8, 6);
  set_player_pos(start ? start : vec4f(128, 40, 128, 1));
  set_sun_dir(norm3(vec4f(0.6, 0.5, -0.4, 0)));
  set_sky_name("cold");
}

function gen_archipelago(p) {
  reseed_noise();
  add_simplex_noise(0, 30, 4, 6, 0.5);
  add_voronoi_hills(8, 0, 7, 0.9);
  add_fast_noise(0, 2, null, GT_SOIL, 255, 0.55);
  recenter_hmap();
  recolor_by_height(ColorRamp.linear(p.sand, p.rock));
  erode(6000, { Kq = 5.0, Kd = 0.05, Kr = 0.6 });
  local sea = height_quantile(0.64);
  fill_water(sea);
  local sites = find_village_sites(4, sea + 1.0, 0.96);
  local village = village_map(sites, 7);
  local slope = HmapMask.fromSlope(), hm = HmapMask.fromHeight(), woods = noise_layer(0.6);
  local forest = noise_level(woods, 0.5);
  repaint_land(function(x, z, c, t) {
    local h = hm.getraw(x, z), s = slope.getraw(x, z);
    if (h < sea - 2.0) return [lerpcolor(c, p.bed, 0.8), GT_SAND];
    if (h < sea + 1.2) return [p.sand, GT_SAND];
    if (s < 0.7) return [lerpcolor(c, p.cliff, 0.6), GT_ROCK];
    if (village.get(x, z)) return [c, GT_SOIL, p.grass, ST_GRASS];
    return [c, GT_SOIL, woods.getraw(x, z) > forest ? p.forest : p.grass, ST_GRASS];
  });
  local start = build_villages(sites, 7, 5);
  set_player_pos(start ? start : vec4f(128, 30, 128, 1));
  set_sun_dir(norm3(vec4f(-0.2, 0.9, 0.4, 0)));
  set_sky_name("day");
}

world_builders <- {
  hills = gen_hills,
  desert = gen_desert,
  volcanic = gen_volcanic,
  alpine = gen_alpine,
  archipelago = gen_archipelago,
};

// Builds a world of the type (one of world_types) from the current random
// state, with a copy of the type's palette (see gen/rules.nut).
function build_world(type) {
  if (!(type in world_builders)) throw "unknown world type '" + type + "'";
  ::cur_world_type <- type;
  ::cur_palette <- clone world_palettes[type];
  world_builders[type](::cur_palette);
}
