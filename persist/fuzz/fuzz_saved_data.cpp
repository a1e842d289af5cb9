// libFuzzer target over the readers of saved data. The first byte of an
// input picks the reader, the rest is what it reads:
//   0  plain data (load_data), as in the info and universe records
//   1  script data (load_script_data, then finish_loading_script_data)
//   2  an info file in a save slot (get_saved_game_name)
//   3  a world file: a valid version and an all-zero world block, then the
//      input as the rest of the file (sky, camera, clock, the module's
//      objects and script globals), read by load_world
// The readers run in a world script machine of a small gameplay mode with
// classes, functions and BitMap bound, and with the game-object module's
// code linked in and bound as the host binds it. Every input must end in a
// clear error or a success: a crash, a leak, undefined behaviour or a stop
// of the program (fatal) is a finding.
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include "app/log.h"
#include "objects/gameobj_ops.h"
#include "persist/savedGame.h"
#include "platform/paths.h"
#include "script/scriptData.h"
#include "script/sqVMReload.h"
#include "world/heightmap.h"
#include "world/worldGen.h"

extern "C" void* get_gameobj_func_by_name(const char* name);

namespace {

const char* const MODE_SCRIPT = R"(
game_mode_info <- { title = "Fuzz", hasUniverse = true };
class Base { function f() { return 1; } }
class Derived extends Base {
  </ persistent = true /> a = 0;
  </ persistent = true /> b = null;
  c = 2;
  function onLoaded() { c = a; }
}
class Thrower { function onLoaded() { throw "onLoaded fails"; } }
function g() { return 2; }
)";

// A stream of two regions read one after the other.
class JoinedInputStream : public InputStream {
 public:
  const uint8_t* a;
  int a_size;
  const uint8_t* b;
  int b_size;
  int pos = 0;

  JoinedInputStream(const void* first, int first_size, const void* second, int second_size)
      : a((const uint8_t*)first), a_size(first_size), b((const uint8_t*)second), b_size(second_size) {}

  int size() const { return a_size + b_size; }
  int readSome(void* buf, int n) override {
    if (n <= 0) return 0;
    int left = size() - pos;
    if (n > left) n = left;
    uint8_t* out = (uint8_t*)buf;
    for (int done = 0; done < n;) {
      int chunk;
      if (pos < a_size) {
        chunk = std::min(n - done, a_size - pos);
        memcpy(out + done, a + pos, chunk);
      } else {
        chunk = n - done;
        memcpy(out + done, b + (pos - a_size), chunk);
      }
      done += chunk;
      pos += chunk;
    }
    return n;
  }
  void read(void* buf, int n) override {
    if (n < 0) throw Exception("negative size in read()", -1);
    if (n > size() - pos) throw Exception("read() outside of input memory region", pos);
    readSome(buf, n);
  }
  int position() override { return pos; }
  void seekTo(int target) override {
    if (target < 0 || target > size()) throw Exception("seek outside of input memory region", pos);
    pos = target;
  }
  void seekToEnd(int offset) override { seekTo(size() + offset); }
};

std::string folder;
uint8_t* world_header = nullptr;  // version and a zero world block
const int WORLD_HEADER_SIZE = 4 + HeightmapData::WORLD_DATA_SIZE;

void write_text(const std::string& rel, const char* text) {
  std::string path = folder + "/" + rel;
  make_folders(path.substr(0, path.rfind('/')).c_str());
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) abort();
  fputs(text, f);
  fclose(f);
}

void start_world_script() {
  try {
    init_world_script("fz");
  } catch (const sqbind::SquirrelError& e) {
    fprintf(stderr, "fuzz mode script failed: %s\n", e.what());
    abort();
  }
}

// Log lines of the readers go nowhere.
void silence_stdout() {
  FILE* null = fopen("/dev/null", "w");
  if (null) dup2(fileno(null), 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/qvfuzz-XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  folder = tmpl;
  snprintf(app_path, sizeof(app_path), "%s/", folder.c_str());
  setenv("XDG_DATA_HOME", folder.c_str(), 1);
  write_text("gameModes/fz/gen/main.nut", MODE_SCRIPT);
  write_text("gen/palettes.csv", "name,ground\nplain,1\n");
  silence_stdout();
  HeightmapData::init_grids();
  create_scratch_vm();
  // The module's operations, bound by name as the host binds the module.
#define BIND_OP(ret, name, params) name = (ret(*) params)get_gameobj_func_by_name(#name);
  QV_GAMEOBJ_OPS(BIND_OP)
#undef BIND_OP
  init_gameobj();
  start_world_script();
  world_header = (uint8_t*)calloc(1, WORLD_HEADER_SIZE);
  uint32_t version = SAVE_VERSION;
  memcpy(world_header, &version, 4);
  cur_game_slot = 0;
  make_folders(get_saved_game_file(0, "").c_str());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1 << 20)) return 0;
  uint8_t mode = data[0] % 4;
  data++, size--;
  HSQUIRRELVM vm = get_world_script_vm();
  SQInteger top = sq_gettop(vm);
  clear_script_data_objects();
  bool globals_may_change = false;  // a load that ran to its end sets root globals
  switch (mode) {
    case 0:
    case 1: {
      MemoryInputStream in(data, (int)size);
      try {
        sqbind::SqObject v = mode == 0 ? load_data(in, vm) : load_script_data(in, vm);
        if (mode == 1) {
          globals_may_change = true;
          finish_loading_script_data(vm);
        }
      } catch (const StreamIOException&) {
      } catch (const sqbind::SquirrelError&) {
      }
      break;
    }
    case 2: {
      PathString path = get_saved_game_file(0, "info");
      FILE* f = fopen(path, "wb");
      if (!f) abort();
      fwrite(data, 1, size, f);
      fclose(f);
      bool outdated;
      get_saved_game_name(0, outdated);
      break;
    }
    case 3: {
      JoinedInputStream in(world_header, WORLD_HEADER_SIZE, data, (int)size);
      remove_all_gameobj();
      globals_may_change = load_world(in);
      break;
    }
  }
  clear_script_data_objects();
  remove_all_gameobj();
  set_error_message(nullptr);
  if (sq_gettop(vm) != top) abort();  // a reader left values on the stack
  // Loaded globals may replace the mode's own: the next input starts afresh.
  if (globals_may_change) start_world_script();
  sq_collectgarbage(vm);
  return 0;
}
