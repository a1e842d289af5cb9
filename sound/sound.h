// Sound: the wrapper over the audio library and the game's sound events.
// Channels are the library's 32-bit handles; 0 means none. Every wrapper
// operation returns whether the library call succeeded.
#pragma once
#include "lib/vecmath.h"

constexpr int NUM_SOUND_EVENTS = 50;
constexpr int SE_land_moving = 33;

bool play_sound(unsigned channel, bool restart);
bool is_sound_playing(unsigned channel);
// Slides the volume over ms milliseconds when ms > 0, else sets it at once.
bool slide_sound_volume(unsigned channel, float volume, int ms);
// Fades out over ms milliseconds and stops (ms <= 0: silence and stop at once).
bool fade_out_and_stop_sound(unsigned channel, int ms);
// Moves the play position to a fraction 0..1 of the channel's length.
bool set_relative_sound_pos(unsigned channel, float fraction);
bool set_sound_3d_params(unsigned channel, float min_dist, float max_dist);
bool set_sound_3d_pos(unsigned channel, vec4f pos);
bool set_sound_3d_pos(unsigned channel, vec4f pos, vec4f vel);

// The channel the sound script picks for event index (0 for an index outside
// 0-49, for an event without a script function, or when the script fails).
unsigned get_sound_event_channel(int index);
