// Droplet erosion: simulated rain that carves valleys and lays down
// sediment on HeightmapData::hmap, recolouring the ground where it settles.
#pragma once
#include "lib/dynArray.h"
#include "lib/vecmath.h"

namespace HeightmapData {

// A colour reaction: its speed at colour c is the product over the channels
// of c_j^exponent_j (exponents of 0 or below count 1); it changes c by speed
// times the rate vector (k * (products - reactants)).
struct ErosionReaction {
  float rate[4];
  int exponent[4];
};

// The parameters, named by the script keys that set them.
struct ErosionParams {
  float Kq = 10.0f;            // sediment capacity per unit of drop x speed x water
  float Kw = 0.001f;           // fraction of water lost per step
  float Kr = 0.9f;             // fraction of the missing capacity eroded per step
  float Kd = 0.02f;            // fraction of the excess sediment dropped per step
  float Ki = 0.1f;             // weight of the previous direction
  float minSlope = 0.05f;      // lower bound of the drop used for capacity
  float g = 20.0f;             // gravity
  float depositBlend = 2.0f;   // colour blend rate per unit of deposited height
  float reactionTime = 100.0f; // time the reactions run after each deposit
  int periodStep = 10240;      // droplets between calls of runPeriod (<= 0: never)
  DynArray<ErosionReaction> reactions;

  // Called every periodStep droplets; the script version calls its function.
  virtual void runPeriod() {}
  virtual ~ErosionParams() = default;
};

// A reaction from the script's form: reactants, products and rate k.
ErosionReaction make_erosion_reaction(vec4f reactants, vec4f products, float k);

// Runs count droplets, one after another, from random grid points.
void genDropletErosion(unsigned count, ErosionParams& params);

}  // namespace HeightmapData
