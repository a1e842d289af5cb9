// Script values in streams: one byte-tagged format at three levels.
//
// - Plain data (save_data / load_data): null, bool, integer, float, string,
//   array, table; arrays and tables are written inline where they occur.
// - References (save_ref / load_ref): plain data plus script functions, and
//   instances only as references to objects already written or as native
//   game objects by serial id.
// - The object graph (save_script_data / load_script_data, closed by
//   save_script_refs and finish_loading_script_data): every array, table and
//   instance is written once and referred to by its index in the object list
//   afterwards, so shared objects and cycles survive; script class instances
//   go by class name with their "persistent" members, native game objects by
//   serial id, BitMap instances as their bits.
//
// Encoding: one type byte, then the payload; ints and floats 32-bit
// little-endian, strings an int length and the bytes.
//
//   0 null          1 bool (byte)    2 string       3 integer      4 float
//   5 array (count, values)          6 table (count, key/value pairs)
//   7 global function (name, environment)
//   8 class method (class name, method name, environment)
//   9 script instance (class name, count, member name/value pairs; after 10)
//  10 new object: a second type byte 5, 6, 9, 12 or 100, then its payload
//  11 object reference (index)      12 native game object (serial id)
// 100 bit map (its 8192 bytes; after 10)
//
// Reading checks every count and length against the bytes left in the
// stream before anything is made, and nests at most MAX_SCRIPT_DATA_DEPTH
// levels, so a damaged or hostile file gives an error, never a crash.
//
// Errors: writing throws OutputStream::Exception (position -1), reading
// InputStream::Exception with the stream position; a native object's push
// may throw sqbind::SquirrelError.
#pragma once
#include <cstdint>
#include "script/sqbind.h"
#include "script/streams.h"

// Type bytes of the encoding.
enum ScriptDataType : uint8_t {
  SD_NULL = 0,
  SD_BOOL = 1,
  SD_STRING = 2,
  SD_INTEGER = 3,
  SD_FLOAT = 4,
  SD_ARRAY = 5,
  SD_TABLE = 6,
  SD_FUNCTION = 7,
  SD_METHOD = 8,
  SD_INSTANCE = 9,
  SD_NEW_OBJECT = 10,
  SD_OBJECT_REF = 11,
  SD_GAMEOBJ = 12,
  SD_BITMAP = 100,
};

// Nesting deeper than this (arrays in arrays ...) is refused on writing and
// on reading, so that neither recursion can exhaust the native stack.
constexpr int MAX_SCRIPT_DATA_DEPTH = 1000;

// Plain data (types 0-6).
void save_data(const sqbind::SqObject& value, OutputStream& s);
sqbind::SqObject load_data(InputStream& s, HSQUIRRELVM vm);

// Types 0-8; an instance only as a listed object (11) or a game object (12).
void save_ref(const sqbind::SqObject& value, OutputStream& s);
// Any encoding, read into vm (the same reader as load_script_data).
sqbind::SqObject load_ref(InputStream& s, HSQUIRRELVM vm);

// The object graph. The first object a save passes through it must be the
// table of script globals that finish_loading_script_data restores into the
// root table.
void save_script_data(const sqbind::SqObject& value, OutputStream& s);
sqbind::SqObject load_script_data(InputStream& s, HSQUIRRELVM vm);
// Ends a save: logs "%d script objects saved" and empties the object list.
void save_script_refs(OutputStream& s);
// Ends a load: the first listed object's slots become root-table globals,
// then every listed object's "onLoaded" (if it has one) is called; the list
// is emptied even when a call fails (SquirrelError "SqFunc<> call failed").
void finish_loading_script_data(HSQUIRRELVM vm);

// Native classes without a serial id: only BitMap (type 100).
bool save_custom_script_instance(const sqbind::SqObject& value, OutputStream& s);
bool load_custom_script_instance(int type, InputStream& s, HSQUIRRELVM vm);

// The object list shared by writing and reading. A save or load that fails
// part-way leaves what it registered; whoever starts a new save or load
// empties it first (saved worlds do), so nothing stale is referred to.
void clear_script_data_objects();
int script_data_object_count();
