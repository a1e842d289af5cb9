// Settings store (settings.cfg in the per-user folder), the general
// key = value reader ConfigNode, and the options read at start from the
// settings and the command line.
#pragma once
#include "lib/dynArray.h"
#include "lib/strings.h"

// Settings read at start (read_app_config). The command line overrides them
// for the run only; none of these is written back.
extern int gfx_quality;           // 0 low, 1 high; key "gfx_quality": "low" / "high"
extern bool use_ppaa;             // "antialias": post-process antialiasing
extern bool app_use_vsync;        // "vsync": present with vertical sync
extern bool use_obj_shadows;      // "obj_shadows": objects cast shadows
extern bool left_handed;          // "left_handed": read by the game-object module only
extern int land_shadow_quality;   // "land_shadows": terrain shadow variant
extern int shadow_resolution;     // "shadow_resolution": shadow map quality
extern bool blur_shadows;         // "blur_shadows"
extern bool invert_mouse_y;       // "invert_mouse_y": inverts vertical mouse look
extern bool use_dev_keys;         // "devkeys": enables the developer keys

// Automation options of the command line: -frames N quits with exit code 0
// after N presented frames (0: no limit); -shot PATH saves the last frame.
extern int quit_after_frames;
extern String shot_path;

bool get_config_str(const char* name, char* buf, int size);
bool get_config_int(const char* name, int& out);
bool get_config_bool(const char* name, bool& out);
bool get_config_float(const char* name, float& out);
bool set_config_str(const char* name, const char* value, int len = -1);
bool set_config_int(const char* name, int v);
bool set_config_bool(const char* name, bool v);
bool set_config_float(const char* name, float v);
// Writes the settings if they changed since the last write; "app config
// saved" on success. The file is replaced whole (temporary file and rename),
// so a crash during the write keeps the old settings. A failed write returns
// false and is tried again only after the next change.
bool flush_app_config();
// Forgets the settings in memory without writing them: the next access reads
// settings.cfg again (for tests and for a change of the per-user folder).
void reset_app_config();

// Reads the start-up settings into the globals above and those of app/app.h
// (screen size, fullscreen, process priority), then the command line.
void read_app_config(int argc, char** argv);
// Applies the command-line options (argv[0] is the program and is skipped).
void parse_command_line(int argc, char** argv);

// The C rules for numbers in settings: automatic base ("0x10" is 16, "010"
// is 8), clamped to the int range; false when the text has no number at its
// start.
bool parse_config_int(const char* text, int& out);
bool parse_config_double(const char* text, double& out);

// Any file of key = value lines (the settings grammar), loaded into a list of
// pairs in file order with typed getters. Allocated from the shared heap, so
// the game-object module may create and delete nodes.
class ConfigNode {
 public:
  struct Entry {
    String key, value;
  };
  DynArray<Entry> entries;

  ConfigNode() = default;
  ~ConfigNode() { clear(); }
  void clear() { entries.release(); }

  // Appends the entries of the whole file; false if it cannot be opened, its
  // size cannot be determined or fewer bytes than its size are read.
  bool load(const char* path);
  // Appends the entries of len bytes of text.
  void parse(const char* text, int len);
  // A new node loaded from path, or null when load fails.
  static ConfigNode* fromFile(const char* path);

  int findEntry(const char* name) const;  // first entry with that key, -1 if none
  bool hasValue(const char* name) const { return findEntry(name) != -1; }
  const char* getStr(const char* name, const char* def) const;
  int getInt(const char* name, int def) const;
  double getFloat(const char* name, double def) const;

  static void* operator new(size_t bytes);
  static void operator delete(void* p);
};

// One key = value pair as the grammar finds it (pointers into the text).
struct ConfigLine {
  const char* key;
  int key_len;
  const char* value;
  int value_len;
};
// Walks the entries of a text in order. "_CONFIG_VERSION_" lines are skipped.
struct ConfigLineReader {
  const char* p;
  const char* end;
  ConfigLineReader(const char* text, int len) : p(text), end(text + (len > 0 ? len : 0)) {}
  bool next(ConfigLine& out);
};
