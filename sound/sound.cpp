// Sound before the audio library and the sound script are started.
//
// This file holds the state of the sound layer until its start-up exists:
// the library was never initialised, so every channel operation fails (an
// unstarted library accepts no handle) and no sound event has a script
// function, so every event gives channel 0. The real wrapper over the audio
// back end and the sound script replace these bodies.
#include "sound/sound.h"

bool play_sound(unsigned, bool) { return false; }
bool is_sound_playing(unsigned) { return false; }
bool slide_sound_volume(unsigned, float, int) { return false; }
bool fade_out_and_stop_sound(unsigned, int) { return false; }
bool set_relative_sound_pos(unsigned, float) { return false; }
bool set_sound_3d_params(unsigned, float, float) { return false; }
bool set_sound_3d_pos(unsigned, vec4f) { return false; }
bool set_sound_3d_pos(unsigned, vec4f, vec4f) { return false; }

unsigned get_sound_event_channel(int) { return 0; }
