// The game objects at the tail of a world file.
//
// Layout (little-endian):
//   int   format version (GAMEOBJ_FORMAT_VERSION)
//   int   object count
//   per object, in serial-id order:
//     int class id, int serial id, int payload size, payload bytes
//   byte  1 when the world script's saved-game globals follow, else 0
//   the globals as script data (the object graph), when the byte is 1
//
// Objects are written in serial-id order, which is the order they were made
// in, so every object list comes back in the same order. A class's payload
// holds its own state (the player's and the castle's; the other classes
// have none yet); links between objects are stored as serial ids and
// resolved once every object exists. Reading checks every count and size
// against the bytes left and every class id and serial id; a failure
// removes the objects made so far and raises InputStream::Exception.
#include <algorithm>
#include <cstring>
#include "module.h"
#include "lib/check.h"
#include "script/scriptData.h"
#include "script/streams.h"
#include "world/worldGen.h"
#include "world/worldScript.h"

namespace gameobj {

enum { GAMEOBJ_FORMAT_VERSION = 1 };

namespace {

// Payloads: the player's position, velocity (4 floats each), the class
// ids of the spells in its two hands and its castle's serial id (0 for
// none); the castle's position and its owner's serial id.
constexpr int PLAYER_PAYLOAD = 16 + 16 + 4 + 4 + 4;
constexpr int CASTLE_PAYLOAD = 16 + 4;

int ser_id_of(BaseObject* o) { return o ? o->ser_id : 0; }

void write_payload(OutputStream& s, BaseObject* o) {
  switch (o->getClassId()) {
    case CLS_Player: {
      Player* p = static_cast<Player*>(o);
      s.writeValue(PLAYER_PAYLOAD);
      s.write(&p->pos, 16);
      s.write(&p->velocity, 16);
      s.writeValue(p->selected_spell[0]);
      s.writeValue(p->selected_spell[1]);
      s.writeValue(ser_id_of(p->castle.get()));
      return;
    }
    case CLS_CastleObject: {
      CastleObject* c = static_cast<CastleObject*>(o);
      s.writeValue(CASTLE_PAYLOAD);
      s.write(&c->pos, 16);
      s.writeValue(ser_id_of(c->owner.get()));
      return;
    }
    default: s.writeValue((int)0);
  }
}

[[noreturn]] void fail(InputStream& s, const char* fmt, int a, int b = 0) {
  char msg[160];
  snprintf(msg, sizeof(msg), fmt, a, b);
  throw InputStream::Exception(msg, s.position());
}

// The payload size a class's record must have in this format.
int payload_size(int class_id) {
  switch (class_id) {
    case CLS_Player: return PLAYER_PAYLOAD;
    case CLS_CastleObject: return CASTLE_PAYLOAD;
    default: return 0;
  }
}

// A link read from a record: the object of that serial id among those just
// loaded, of the wanted class (0 is no link).
template <class T>
T* linked(InputStream& s, int ser_id, int class_id) {
  if (ser_id == 0) return nullptr;
  BaseObject* o = get_gameobj_by_ser_id(ser_id);
  if (!o || o->getClassId() != class_id) fail(s, "object link to serial id %d of the wrong kind", ser_id);
  return static_cast<T*>(o);
}

// Records whose links are resolved after every object exists.
struct PendingLink {
  BaseObject* obj;
  int target;
};

void read_objects(InputStream& s) {
  int here = s.position();
  s.seekToEnd(0);
  int end = s.position();
  s.seekTo(here);

  int version, count;
  s.readValue(version);
  if (version != GAMEOBJ_FORMAT_VERSION) fail(s, "unsupported game object data version %d", version);
  s.readValue(count);
  const int header = 3 * (int)sizeof(int);
  if (count < 0 || (int64_t)count * header > end - s.position())
    fail(s, "object count %d does not fit in the %d bytes left", count, end - s.position());

  DynArray<int> ids;
  DynArray<PendingLink> links;
  for (int i = 0; i < count; i++) {
    int class_id, ser_id, size;
    s.readValue(class_id);
    s.readValue(ser_id);
    s.readValue(size);
    if (class_id <= CLS_NONE || class_id >= NUM_CLASS_IDS || !class_info[class_id].lists[0])
      fail(s, "unknown object class %d", class_id);
    if (ser_id <= 0) fail(s, "invalid serial id %d", ser_id);
    if (size != payload_size(class_id))
      fail(s, "object record of class %d has %d bytes", class_id, size);
    if (size > end - s.position()) fail(s, "object record of %d bytes, %d left", size, end - s.position());
    BaseObject* o = create_object(class_id);
    ASSERT(o);
    o->ser_id = ser_id;
    continue_ser_ids_after(ser_id);
    ids.push_back(ser_id);
    int link = 0;
    if (class_id == CLS_Player) {
      Player* p = static_cast<Player*>(o);
      s.read(&p->pos, 16);
      s.read(&p->velocity, 16);
      s.readValue(p->selected_spell[0]);
      s.readValue(p->selected_spell[1]);
      s.readValue(link);
    } else if (class_id == CLS_CastleObject) {
      CastleObject* c = static_cast<CastleObject*>(o);
      s.read(&c->pos, 16);
      s.readValue(link);
    }
    if (link) links.push_back({o, link});
  }
  std::sort(ids.begin(), ids.end());
  for (int i = 1; i < ids.count(); i++)
    if (ids[i] == ids[i - 1]) fail(s, "serial id %d used twice", ids[i]);

  for (const PendingLink& l : links) {
    if (l.obj->getClassId() == CLS_Player)
      static_cast<Player*>(l.obj)->castle = linked<CastleObject>(s, l.target, CLS_CastleObject);
    else
      static_cast<CastleObject*>(l.obj)->owner = linked<Player>(s, l.target, CLS_Player);
  }

  uint8_t has_script;
  s.readValue(has_script);
  if (has_script > 1) fail(s, "invalid script data flag %d", has_script);
  if (has_script) {
    HSQUIRRELVM vm = get_world_script_vm();
    if (!vm) throw InputStream::Exception("saved script data but no world script is running", s.position());
    clear_script_data_objects();
    load_script_data(s, vm);
    finish_loading_script_data(vm);
  }
}

// Every live object once, in serial-id order.
void collect_objects(DynArray<BaseObject*>& out) {
  for (const ObjectListRef& l : object_lists)
    for (BaseObject* o : *l.list) {
      int id = o->getClassId();
      if (o->state == OBJ_ALIVE && id > CLS_NONE && id < NUM_CLASS_IDS && class_info[id].lists[0] == l.list)
        out.push_back(o);
    }
  std::sort(out.begin(), out.end(), [](BaseObject* a, BaseObject* b) { return a->ser_id < b->ser_id; });
}

}  // namespace

void save_gameobjs(OutputStream& s) {
  DynArray<BaseObject*> objs;
  collect_objects(objs);
  s.writeValue((int)GAMEOBJ_FORMAT_VERSION);
  s.writeValue(objs.count());
  for (BaseObject* o : objs) {
    s.writeValue(o->getClassId());
    s.writeValue(o->ser_id);
    write_payload(s, o);
  }
  HSQUIRRELVM vm = get_world_script_vm();
  uint8_t has_script = vm ? 1 : 0;
  s.writeValue(has_script);
  if (!vm) return;
  // The world script's saved-game globals, when it keeps any; else an empty
  // table, so that loading always restores a (possibly empty) set.
  sqbind::SqObject globals;
  if (world_script_funcs.get_savegame_globals.isValid()) globals = ::get_savegame_globals();
  if (globals.type() != OT_TABLE) {
    sq_newtable(vm);
    globals = sqbind::SqObject::fromStack(vm, -1);
    sq_poptop(vm);
  }
  clear_script_data_objects();
  save_script_data(globals, s);
  save_script_refs(s);
}

void load_gameobjs(InputStream& s) {
  try {
    read_objects(s);
  } catch (...) {
    clear_script_data_objects();
    remove_all_gameobj();
    throw;
  }
  // Every object exists and is linked: each may now finish its own setup.
  DynArray<BaseObject*> objs;
  collect_objects(objs);
  for (BaseObject* o : objs) o->onLoaded();
}

}  // namespace gameobj
