// Script machines that remember every file they ran, with its modification
// time, so that edited files can run again while the program runs; and the
// scratch machine for small data scripts and saved-game info.
#pragma once
#include <cstdint>
#include "lib/dynArray.h"
#include "squirrel/squirrel.h"

class SqReloadableVM {
 public:
  struct RunFile {
    char path[260];  // full path
    int64_t mtime;   // modification time when last run; 0 when missing
  };

  HSQUIRRELVM vm = nullptr;  // null while closed
  DynArray<RunFile> files;   // in first-include order

  virtual ~SqReloadableVM();
  // Closes, then opens a machine with the given initial stack and binds
  // (slot `bind`); false when the machine cannot be made. A pointer to this
  // object is kept in the machine's registry under "SqReloadableVM".
  virtual bool init(int initial_stack);
  virtual void close();
  // Runs the file unless its full path (compared without regard to case)
  // is listed already; relative paths are taken from the application folder.
  virtual bool include(const char* path);
  // Whether any listed file's modification time changed.
  virtual bool needsReload();
  virtual bool reload(bool force);
  // The script function "include" and the math and string libraries.
  virtual bool bind();
  // Runs again, in list order, each file whose time changed (every file when
  // forced), storing its new time first; stops at the first failure.
  virtual bool rerun(bool force);
};

// Reads the machine's SqReloadableVM back from its registry; throws
// SquirrelError when there is none.
SqReloadableVM* get_reloadable_vm(HSQUIRRELVM vm);

// The scratch machine: stack 1024, math and string libraries. Made once at
// start-up ("Can't create scratch VM" is fatal), closed at shutdown.
extern HSQUIRRELVM scratch_vm;
void create_scratch_vm();
void close_scratch_vm();
