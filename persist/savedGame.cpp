// Saved-game files: slots, the info and universe records, world files,
// saving and loading whole games.
#include "persist/savedGame.h"
#include <unistd.h>
#include <cmath>
#include <cstring>
#include "app/app.h"
#include "app/log.h"
#include "game/camera.h"
#include "game/game_mode.h"
#include "objects/gameobj_ops.h"
#include "objects/object_lists.h"
#include "objects/player.h"
#include "script/scriptData.h"
#include "script/sqVMReload.h"
#include "script/streams.h"
#include "world/heightmap.h"
#include "world/worldGen.h"

using sqbind::SqObject;
using sqbind::SquirrelError;

int cur_game_slot = -1;
int world_time = 0;
float world_sun_size_cos = cosf(0.3490658f);

int save_fail_at_write = 0;
int save_writes = 0;

// ---- writing files whole

// A write of a save: counted, and failed where the test seam says so.
static bool save_write_allowed() {
  save_writes++;
  return save_fail_at_write <= 0 || save_writes != save_fail_at_write;
}

namespace {

// A file being built in memory; commit writes it safely.
struct SaveFile : MemoryOutputStream {
  void write(const void* buf, int n) override {
    if (!save_write_allowed()) throw OutputStream::Exception("error writing file", position());
    MemoryOutputStream::write(buf, n);
  }
  void commit(const char* path) {
    if (!save_write_allowed() || !write_file_replacing(path, bytes.data(), (size_t)bytes.count()))
      throw OutputStream::Exception("Can't create output file", -1);
  }
};

// A file of the slot, open for reading; "Can't open input file" when missing.
struct SaveInput : FileInputStream {
  explicit SaveInput(const char* path) {
    if (!open(path, "rb")) throw InputStream::Exception("Can't open input file", -1);
  }
};

void check_version(InputStream& s) {
  uint32_t version;
  s.readValue(version);
  if (version != SAVE_VERSION) throw InputStream::Exception("Unsupported saved game version", s.position());
}

// A script error's text: for a failed script call the script's own error.
String script_text(const SquirrelError& e) { return sqbind::script_error_text(e, world_script.vm); }

// Shows "<prefix>\n<text>", the text cut to fit the message buffer.
void show_error(const char* prefix, const char* text) {
  TempString<4096> msg;
  msg.printf("%s\n%.3900s", prefix, text);
  set_error_message(msg);
}

}  // namespace

// ---- slots

PathString get_saved_games_folder() { return get_appdata_folder_path("saves"); }

PathString get_saved_game_file(int slot, const char* name) {
  PathString p;
  p.printf("%s/%d/%s", get_saved_games_folder().c_str(), slot, name);
  return p;
}

static bool make_slot_folder(int slot) {
  PathString folder;
  folder.printf("%s/%d", get_saved_games_folder().c_str(), slot);
  return make_folders(folder);
}

TempString<260> get_saved_game_name(int slot, bool& outdated) {
  outdated = false;
  TempString<260> name;
  if (slot < 0 || !scratch_vm) return name;
  bool version_differs = false;
  try {
    SaveInput f(get_saved_game_file(slot, "info"));
    uint32_t magic, version;
    f.readValue(magic);
    if (magic != SAVE_INFO_MAGIC) {
      outdated = true;
      return TempString<260>("? ? ?");
    }
    f.readValue(version);
    version_differs = version != SAVE_VERSION;
    SqObject info = load_data(f, scratch_vm);
    if (info.type() == OT_TABLE && sqbind::hasSlot(info, "name")) {
      String n = sqbind::getSlotString(info, "name");
      name.set(n.c_str(), n.length() < 259 ? n.length() : 259);
    }
  } catch (const StreamIOException& e) {
    debug("saved game %d: %s", slot, e.what());
    return TempString<260>();
  } catch (const SquirrelError& e) {
    debug("saved game %d: %s", slot, e.what());
    return TempString<260>();
  }
  outdated = version_differs;
  return name;
}

bool erase_saved_game(int slot) {
  set_error_message(nullptr);
  if (slot < 0) {
    set_error_message("No slot selected for erasing the saved game");
    return false;
  }
  make_slot_folder(slot);
  unlink(get_saved_game_file(slot, "info"));
  unlink(get_saved_game_file(slot, "uni"));
  for (int i = 0; i < 1000; i++) {
    TempString<8> w;
    w.printf("w%03d", i);
    unlink(get_saved_game_file(slot, w));
  }
  return true;
}

// ---- worlds

bool save_world(const char* path) {
  debug("saving world to %s", path);
  if (delete_gameobj) delete_gameobj();
  try {
    clear_script_data_objects();
    SaveFile f;
    f.bytes.reserve(4 + HeightmapData::WORLD_DATA_SIZE + 4096);
    f.writeValue(SAVE_VERSION);
    HeightmapData::saveWorldData(f);
    f.write(&world_sun_dir, 16);
    f.writeValue(world_sun_size_cos);
    f.writeShortString(world_sky_name);
    f.writeValue(camera_yaw);
    f.writeValue(camera_pitch);
    f.writeValue(camera_roll);
    f.writeValue(world_time);
    debug("saving gameobjs");
    if (save_gameobjs) save_gameobjs(f);
    f.commit(path);
    return true;
  } catch (const StreamIOException& e) {
    clear_script_data_objects();
    show_error("Error saving the world:", e.what());
  } catch (const SquirrelError& e) {
    clear_script_data_objects();
    show_error("Error saving the world:", script_text(e).c_str());
  }
  return false;
}

bool load_world(const char* path) {
  debug("loading world from %s", path);
  if (remove_all_gameobj) remove_all_gameobj();
  // LATER(effects): reset the common effects.
  FileInputStream f;
  if (!f.open(path, "rb")) return false;
  return load_world(f);
}

bool load_world(InputStream& f) {
  try {
    clear_script_data_objects();
    check_version(f);
    HeightmapData::loadWorldData(f);
    vec4f sun;
    f.read(&sun, 16);
    float sun_size_cos;
    f.readValue(sun_size_cos);
    char sky[256];
    f.readShortString(sky);
    float yaw, pitch, roll;
    int time;
    f.readValue(yaw);
    f.readValue(pitch);
    f.readValue(roll);
    f.readValue(time);
    // LATER(sky): set_sun_dir without interpolation, then the sky name.
    world_sun_dir = sun;
    world_sun_size_cos = sun_size_cos;
    world_sky_name.set(sky, (int)strnlen(sky, world_sky_name.capacity() - 1));
    camera_yaw = yaw;
    camera_pitch = pitch;
    camera_roll = roll;
    world_time = time;
    if (load_gameobjs) load_gameobjs(f);
    if (!Player_list.empty()) local_player = Player_list[0];
    // LATER(terrain renderer): mark the cached heights invalid for a full rebuild.
    reset_update_time();
    return true;
  } catch (const StreamIOException& e) {
    clear_script_data_objects();
    TempString<4096> msg;
    msg.printf("Error loading the world:\n%.3900s (at %X)", e.what(), (unsigned)e.position);
    set_error_message(msg);
  } catch (const SquirrelError& e) {
    clear_script_data_objects();
    show_error("Error loading the world:", script_text(e).c_str());
  }
  return false;
}

bool load_world(int index) {
  if (index < 0 || cur_game_slot < 0 || index > 999) return false;
  TempString<8> name;
  name.printf("w%03d", index);
  return load_world(get_saved_game_file(cur_game_slot, name));
}

// ---- games

int get_entered_world() {
  if (universe.isNull()) return -1;
  try {
    if (!sqbind::hasSlot(universe, "enteredWorld")) return -1;
    return sqbind::getSlotInt(universe, "enteredWorld");
  } catch (const SquirrelError&) {
    return -1;
  }
}

void set_entered_world(int index) {
  HSQUIRRELVM v = universe.vm;
  if (!v) return;
  SQInteger top = sq_gettop(v);
  universe.push(v);
  sq_pushinteger(v, index);
  sqbind::set_slot(v, "enteredWorld");
  sq_settop(v, top);
}

bool save_game() {
  set_error_message(nullptr);
  if (!game_mode_has_saves) return true;
  if (cur_game_slot < 0) {
    set_error_message("No slot selected for the saved game");
    return false;
  }
  PathString world_path;
  try {
    make_slot_folder(cur_game_slot);
    if (save_spells) save_spells();

    SaveFile info;
    info.writeValue(SAVE_INFO_MAGIC);
    info.writeValue(SAVE_VERSION);
    save_data(cur_game_info, info);
    info.commit(get_saved_game_file(cur_game_slot, "info"));

    if (!universe.isNull()) {
      SaveFile uni;
      uni.writeValue(SAVE_VERSION);
      save_data(universe, uni);
      uni.commit(get_saved_game_file(cur_game_slot, "uni"));
    }

    if (game_mode_has_universe) {
      int entered = sqbind::getSlotInt(universe, "enteredWorld");
      if (entered < 0) return true;
      if (entered > 999) throw SquirrelError("enteredWorld out of range");
      TempString<8> name;
      name.printf("w%03d", entered);
      world_path = get_saved_game_file(cur_game_slot, name);
    } else {
      world_path = get_saved_game_file(cur_game_slot, "world");
    }
  } catch (const StreamIOException& e) {
    show_error("Error saving the game:", e.what());
    return false;
  } catch (const SquirrelError& e) {
    show_error("Error saving the game:", script_text(e).c_str());
    return false;
  }
  return save_world(world_path);
}

// A gameplay mode id read from a file names a folder under gameModes/.
static bool plain_mode_id(const char* id) {
  if (!*id || strcmp(id, ".") == 0 || strcmp(id, "..") == 0) return false;
  return !strchr(id, '/') && !strchr(id, '\\');
}

bool load_saved_game(int slot) {
  set_error_message(nullptr);
  if (slot < 0) {
    set_error_message("No slot selected for loading the game");
    return false;
  }
  cur_game_slot = -1;
  release_universe_data();
  try {
    SqObject info;
    {
      SaveInput f(get_saved_game_file(slot, "info"));
      uint32_t magic, version;
      f.readValue(magic);
      f.readValue(version);
      if (magic != SAVE_INFO_MAGIC || version != SAVE_VERSION)
        throw InputStream::Exception("Unsupported saved game version", f.position());
      info = load_data(f, scratch_vm);
    }
    String mode("story");
    if (info.type() == OT_TABLE && sqbind::hasSlot(info, "mode")) mode = sqbind::getSlotString(info, "mode");
    if (!plain_mode_id(mode.c_str())) throw SquirrelError("Invalid gameplay mode in the saved game");
    init_world_script(mode.c_str());
    cur_game_info = info;
    {
      SaveInput f(get_saved_game_file(slot, "uni"));
      check_version(f);
      universe = load_data(f, world_script.vm);
    }
    fetch_universe_data();
    if (load_spells) load_spells();
    if (!game_mode_has_universe && !load_world(get_saved_game_file(slot, "world"))) return false;
    cur_game_slot = slot;
    return true;
  } catch (const StreamIOException& e) {
    show_error("Error loading the game:", e.what());
  } catch (const SquirrelError& e) {
    show_error("Error loading the game:", script_text(e).c_str());
  }
  return false;
}
