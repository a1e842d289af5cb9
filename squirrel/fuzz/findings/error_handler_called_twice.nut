// Finding: the VM calls the error handler twice for one uncaught error when
// the thrown value is not a string and the handler turns it into text with
// sq_tostring (as build/bin/sq does).
//
//   build/bin/sq squirrel/fuzz/findings/error_handler_called_twice.nut
//
// prints the report twice on stderr:
//   ...error_handler_called_twice.nut:14: error: (table : 0x...)
//   call stack: ...
//   error: (table : 0x...)
// The second call comes from vm_call's notify_error after execute has already
// notified; the handler's own sq_tostring call seems to reset error_notified.
// Expected: one call of the handler per uncaught error.
throw {code = 1};
