// Settings store, ConfigNode, and the options read at start.
#include "app/config.h"
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>
#include "app/app.h"
#include "lib/check.h"
#include "platform/paths.h"

int gfx_quality = 1;
bool use_ppaa = true;
bool app_use_vsync = true;
bool use_obj_shadows = true;
bool left_handed = false;
int land_shadow_quality = 2;
int shadow_resolution = 1;
bool blur_shadows = false;
bool invert_mouse_y = false;
bool use_dev_keys = false;
int quit_after_frames = 0;
String shot_path;

// ---------------------------------------------------------------------------
// Line grammar

static bool is_blank(char c) { return c == ' ' || c == '\t'; }
static bool is_line_end(char c) { return c == '\r' || c == '\n'; }

bool ConfigLineReader::next(ConfigLine& out) {
  while (p < end) {
    while (p < end && is_blank(*p)) p++;
    if (p >= end) break;
    if (is_line_end(*p)) {
      p++;
      continue;
    }
    if (*p == '/' && p + 1 < end && p[1] == '/') {
      while (p < end && *p != '\n') p++;
      continue;
    }
    // A key runs to the first blank, "=" or line end. When no "=" follows it,
    // scanning goes on with the next word of the line.
    const char* key = p;
    while (p < end && !is_blank(*p) && *p != '=' && !is_line_end(*p)) p++;
    int key_len = (int)(p - key);
    while (p < end && is_blank(*p)) p++;
    if (p >= end || *p != '=') continue;
    p++;
    while (p < end && is_blank(*p)) p++;
    const char* value = p;
    while (p < end && !is_line_end(*p)) p++;
    const char* value_end = p;
    while (value_end > value && is_blank(value_end[-1])) value_end--;
    if (key_len == 16 && !memcmp(key, "_CONFIG_VERSION_", 16)) continue;
    out = {key, key_len, value, (int)(value_end - value)};
    return true;
  }
  return false;
}

bool parse_config_int(const char* text, int& out) {
  char* end;
  long v = strtol(text, &end, 0);
  if (end == text) return false;
  out = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : (int)v;
  return true;
}

bool parse_config_double(const char* text, double& out) {
  char* end;
  double v = strtod(text, &end);
  if (end == text) return false;
  out = v;
  return true;
}

// Reads a whole file; false if it cannot be opened, its size cannot be
// determined or fewer bytes than its size come back. The text gets a
// terminating zero that size does not count.
static bool read_whole_file(const char* path, char*& text, int& size) {
  text = nullptr;
  size = 0;
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  struct stat st;
  bool ok = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size < INT_MAX;
  if (ok) {
    size = (int)st.st_size;
    text = (char*)dlmalloc((size_t)size + 1);
    ok = text && fread(text, 1, (size_t)size, f) == (size_t)size;
  }
  fclose(f);
  if (!ok) {
    dlfree(text);
    text = nullptr;
    size = 0;
    return false;
  }
  text[size] = 0;
  return true;
}

// ---------------------------------------------------------------------------
// The settings store

struct ConfigEntry {
  char* key;
  char* value;
  int key_len;
  int value_len;
};

static DynArray<ConfigEntry> config_entries;
static bool config_loaded = false;
static bool config_saved = false;

static char* copy_text(const char* s, int len) {
  char* r = (char*)dlmalloc((size_t)len + 1);
  if (!r) fatal("out of memory (setting of %d bytes)", len);
  if (len > 0) memcpy(r, s, (size_t)len);
  r[len] = 0;
  return r;
}

static void free_config_entries() {
  for (ConfigEntry& e : config_entries) {
    dlfree(e.key);
    dlfree(e.value);
  }
  config_entries.release();
}

void reset_app_config() {
  free_config_entries();
  config_loaded = false;
  config_saved = false;
}

static PathString settings_path() { return get_appdata_folder_path("settings.cfg"); }

static void load_app_config() {
  if (config_loaded) return;
  config_loaded = true;
  free_config_entries();
  char* text;
  int size;
  config_saved = read_whole_file(settings_path(), text, size);
  if (!config_saved) return;
  ConfigLineReader reader(text, size);
  ConfigLine l;
  while (reader.next(l))
    config_entries.push_back({copy_text(l.key, l.key_len), copy_text(l.value, l.value_len), l.key_len, l.value_len});
  dlfree(text);
}

static int find_config_entry(const char* name) {
  int len = (int)strlen(name);
  for (int i = 0; i < config_entries.count(); i++) {
    const ConfigEntry& e = config_entries[i];
    if (e.key_len == len && !memcmp(e.key, name, (size_t)len)) return i;
  }
  return -1;
}

bool get_config_str(const char* name, char* buf, int size) {
  load_app_config();
  int i = find_config_entry(name);
  if (i < 0 || config_entries[i].value_len + 1 > size) return false;
  memcpy(buf, config_entries[i].value, (size_t)config_entries[i].value_len + 1);
  return true;
}

bool get_config_int(const char* name, int& out) {
  char buf[64];
  return get_config_str(name, buf, sizeof(buf)) && parse_config_int(buf, out);
}

bool get_config_bool(const char* name, bool& out) {
  int v;
  if (!get_config_int(name, v)) return false;
  out = v != 0;
  return true;
}

bool get_config_float(const char* name, float& out) {
  char buf[64];
  double v;
  if (!get_config_str(name, buf, sizeof(buf)) || !parse_config_double(buf, v)) return false;
  out = (float)v;
  return true;
}

bool set_config_str(const char* name, const char* value, int len) {
  load_app_config();
  if (!value) value = "", len = 0;
  if (len < 0) len = (int)strlen(value);
  char* v = copy_text(value, len);
  int i = find_config_entry(name);
  if (i >= 0) {
    dlfree(config_entries[i].value);
    config_entries[i].value = v;
    config_entries[i].value_len = len;
  } else {
    int klen = (int)strlen(name);
    config_entries.push_back({copy_text(name, klen), v, klen, len});
  }
  config_saved = false;
  return true;
}

bool set_config_int(const char* name, int v) {
  char buf[16];
  snprintf(buf, sizeof(buf), "%d", v);
  return set_config_str(name, buf);
}

bool set_config_bool(const char* name, bool v) { return set_config_int(name, v ? 1 : 0); }

bool set_config_float(const char* name, float v) {
  char buf[32];
  snprintf(buf, sizeof(buf), "%g", (double)v);
  return set_config_str(name, buf);
}

bool flush_app_config() {
  // Nothing read means nothing to write: writing now would replace the file
  // with an empty list (a fatal error before the settings were read, say).
  if (!config_loaded || config_saved) return true;
  config_saved = true;
  DynArray<char> text;
  static const char header[] = "// Game settings\n_CONFIG_VERSION_=1\n\n";
  text.append(header, (int)sizeof(header) - 1);
  for (const ConfigEntry& e : config_entries) {
    text.append(e.key, e.key_len);
    text.push_back('=');
    text.append(e.value, e.value_len);
    text.push_back('\n');
  }
  make_folders(get_appdata_folder_path(""));
  if (!write_file_replacing(settings_path(), text.data(), (size_t)text.count())) return false;
  debug("app config saved");
  return true;
}

// ---------------------------------------------------------------------------
// ConfigNode

void* ConfigNode::operator new(size_t bytes) {
  void* p = dlmalloc(bytes);
  if (!p) fatal("out of memory (ConfigNode)");
  return p;
}

void ConfigNode::operator delete(void* p) { dlfree(p); }

void ConfigNode::parse(const char* text, int len) {
  ConfigLineReader reader(text, len);
  ConfigLine l;
  while (reader.next(l)) {
    Entry* e = entries.appendDefault(1);
    e->key.assign(l.key, l.key_len);
    e->value.assign(l.value, l.value_len);
  }
}

bool ConfigNode::load(const char* path) {
  char* text;
  int size;
  if (!read_whole_file(path, text, size)) return false;
  parse(text, size);
  dlfree(text);
  return true;
}

ConfigNode* ConfigNode::fromFile(const char* path) {
  ConfigNode* n = new ConfigNode();
  if (!n->load(path)) {
    delete n;
    return nullptr;
  }
  return n;
}

int ConfigNode::findEntry(const char* name) const {
  for (int i = 0; i < entries.count(); i++)
    if (entries[i].key == name) return i;
  return -1;
}

const char* ConfigNode::getStr(const char* name, const char* def) const {
  int i = findEntry(name);
  return i < 0 ? def : entries[i].value.c_str();
}

int ConfigNode::getInt(const char* name, int def) const {
  int i = findEntry(name), v;
  return i >= 0 && parse_config_int(entries[i].value.c_str(), v) ? v : def;
}

double ConfigNode::getFloat(const char* name, double def) const {
  int i = findEntry(name);
  double v;
  return i >= 0 && parse_config_double(entries[i].value.c_str(), v) ? v : def;
}

// ---------------------------------------------------------------------------
// Start-up options

void read_app_config(int argc, char** argv) {
  // These two default to off although the variables start on.
  use_ppaa = false;
  app_use_vsync = false;
  get_config_int("screen_wd", app_screen_wd);
  get_config_int("screen_ht", app_screen_ht);
  get_config_bool("fullscreen", want_fullscreen);
  get_config_bool("antialias", use_ppaa);
  get_config_bool("vsync", app_use_vsync);
  get_config_bool("obj_shadows", use_obj_shadows);
  get_config_bool("left_handed", left_handed);
  get_config_int("land_shadows", land_shadow_quality);
  get_config_int("shadow_resolution", shadow_resolution);
  get_config_bool("blur_shadows", blur_shadows);
  get_config_bool("invert_mouse_y", invert_mouse_y);
  get_config_bool("devkeys", use_dev_keys);
  char quality[64];
  if (get_config_str("gfx_quality", quality, sizeof(quality))) {
    if (!strcasecmp(quality, "low")) gfx_quality = 0;
    if (!strcasecmp(quality, "high")) gfx_quality = 1;
  }
  int priority = 0;
  if (get_config_int("process_priority", priority)) set_process_priority(priority);
  parse_command_line(argc, argv);
}

// The decimal conversion of atoi, clamped to the int range: 0 without a number.
static int decimal_value(const char* s) {
  long v = strtol(s, nullptr, 10);
  return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : (int)v;
}

void parse_command_line(int argc, char** argv) {
  // Every argument is examined as an option in its turn, also one that is the
  // value of the option before it (so "-start -win" also switches to windowed).
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    if (!strcmp(a, "-720")) app_screen_wd = 1280, app_screen_ht = 720;
    else if (!strcmp(a, "-360")) app_screen_wd = 640, app_screen_ht = 360;
    else if (!strcmp(a, "-1024")) app_screen_wd = 1280, app_screen_ht = 1024;
    else if (!strcmp(a, "-aa")) use_ppaa = true;
    else if (!strcmp(a, "-noaa")) use_ppaa = false;
    else if (!strcmp(a, "-vs")) app_use_vsync = true;
    else if (!strcmp(a, "-novs")) app_use_vsync = false;
    else if (!strcmp(a, "-fullscr")) want_fullscreen = true;
    else if (!strcmp(a, "-win")) want_fullscreen = false;
    else if (!strcmp(a, "-gfx-high")) gfx_quality = 1;
    else if (!strcmp(a, "-gfx-low")) gfx_quality = 0;
    else if (!strcmp(a, "-devmode")) start_in_dev_mode = true;
    else if (!strcmp(a, "-start") && next) start_game_mode = next;
    else if (!strcmp(a, "-slot") && next) start_game_slot = decimal_value(next);
    else if (!strcmp(a, "-frames") && next) quit_after_frames = decimal_value(next);
    else if (!strcmp(a, "-shot") && next) shot_path = next;
  }
}
