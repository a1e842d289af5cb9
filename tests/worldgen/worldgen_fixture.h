// A world script machine over a temporary application folder: the test
// writes gameModes/<mode>/gen/main.nut (and the palette file), starts the
// mode and runs script snippets in its machine.
#pragma once
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <string>
#include "app/log.h"
#include "platform/paths.h"
#include "script/sqVMReload.h"
#include "script/sqbind.h"
#include "tests/support/test_support.h"
#include "world/heightmap.h"
#include "world/noise.h"
#include "world/worldGen.h"

struct WorldScriptTest : testing::Test {
  TempDir dir;
  char saved_app_path[260];

  void SetUp() override {
    memcpy(saved_app_path, app_path, sizeof(app_path));
    snprintf(app_path, sizeof(app_path), "%s/", dir.path.c_str());
    HeightmapData::init_grids();
    if (!scratch_vm) create_scratch_vm();
    write("gen/palettes.csv", "name,ground\nplain,0xFF808080\n");
    set_error_message(nullptr);
  }
  void TearDown() override {
    close_world_script();
    memcpy(app_path, saved_app_path, sizeof(app_path));
    set_error_message(nullptr);
  }

  // Writes a file under the application folder, making its folders.
  void write(const std::string& rel, const std::string& text) {
    std::string path = dir.path + "/" + rel;
    make_folders(path.substr(0, path.rfind('/')).c_str());
    ASSERT_TRUE(write_file(path, text));
  }
  // Writes the mode's main.nut and starts it; returns the error or "".
  std::string start(const std::string& main_nut, const char* mode = "t") {
    write(std::string("gameModes/") + mode + "/gen/main.nut", main_nut);
    try {
      init_world_script(mode);
    } catch (const sqbind::SquirrelError& e) {
      return e.what();
    }
    return "";
  }
  HSQUIRRELVM vm() { return world_script.vm; }
  // Runs a snippet in the world machine; the error text or "".
  std::string run(const std::string& text) {
    if (sqbind::run_buffer(vm(), text.c_str(), (int)text.size(), "snippet.nut")) return "";
    return sqbind::SquirrelError(vm()).what();
  }
  // The value of an expression as text (tostring), or "ERROR: ..." when it fails.
  std::string eval(const std::string& expr) {
    testing::internal::CaptureStdout();
    std::string err = run("eval_result <- (" + expr + ").tostring();");
    testing::internal::GetCapturedStdout();
    if (!err.empty()) return "ERROR: " + err;
    return sqbind::getSlotString(sqbind::SqObject::root(vm()), "eval_result").c_str();
  }
};

inline uint64_t fnv1a(uint64_t h, const void* data, size_t n) {
  const unsigned char* p = (const unsigned char*)data;
  for (size_t i = 0; i < n; i++) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

// All world grids, bit for bit.
inline uint64_t world_grids_hash() {
  using namespace HeightmapData;
  uint64_t h = 14695981039346656037ull;
  h = fnv1a(h, hmap, HMAP_CELLS * sizeof(float));
  h = fnv1a(h, target_hmap, HMAP_CELLS * sizeof(float));
  h = fnv1a(h, water, HMAP_CELLS * sizeof(Water));
  h = fnv1a(h, tmpw, HMAP_CELLS * sizeof(Water));
  return fnv1a(h, surface, HMAP_CELLS * sizeof(Surface));
}
