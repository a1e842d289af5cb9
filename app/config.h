// Settings store (settings.cfg in the per-user folder) and the options read
// at start from the settings and the command line.
#pragma once

extern int gfx_quality;  // 0 low, 1 high

bool get_config_str(const char* name, char* buf, int size);
bool get_config_int(const char* name, int& out);
bool get_config_bool(const char* name, bool& out);
bool get_config_float(const char* name, float& out);
bool set_config_str(const char* name, const char* value, int len = -1);
bool set_config_int(const char* name, int v);
bool set_config_bool(const char* name, bool v);
bool set_config_float(const char* name, float v);
bool flush_app_config();
