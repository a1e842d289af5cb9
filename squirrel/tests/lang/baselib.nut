// The base library: printing and conversions to text, type(), compilestring,
// getstackinfos, error handlers, root and const tables, version values.
print("print writes without a newline;");
print(" then continues\n");
print(12); print(" "); print(-3.25); print(" "); print(1e20); print(" "); print(0.1); print("\n");
print(100000.0); print(" "); print(1.0); print(" "); print(-0.0); print(" "); print(1.0/3); print("\n");
print(null); print(" "); print(true); print(" "); print(false); print("\n");
print(type(1) + " " + type(1.5) + " " + type("s") + " " + type(null) + " " + type(true) + "\n");
print(type([]) + " " + type({}) + " " + type(print) + " " + type(@() 1) + " " + type(class {}) + "\n");
class Custom { function _typeof() { return "custom"; } function _tostring() { return "<custom>"; } }
print(type(Custom()) + " " + typeof Custom() + " " + Custom() + "\n");
function g() { yield 1; }
print(type(g()) + " " + type(newthread(g)) + " " + type((1).weakref()) + " " + type({}.weakref()) + "\n");

// compilestring: a closure that runs in the root table
local f = compilestring("return 6 * 7;");
print("compilestring: " + f() + "\n");
local add = compilestring("return vargv[0] + vargv[1];", "adder");
print("with arguments: " + add(2, 3) + "\n");
try { compilestring("local x = ;", "broken.nut"); } catch (e) { print("compile error: " + e + "\n"); }

// getstackinfos
function where() {
  local info = getstackinfos(1);
  return info.func + " line " + info.line + " local a=" + info.locals.a;
}
function caller() { local a = "A"; local r = where(); return r; }
print(caller() + "\n");
print((getstackinfos(100) == null) + "\n");

// the error handler sees uncaught errors of a call with raiseerror
seterrorhandler(function(e) { ::handled <- e; });
::handled <- null;
local ok = false;
try { throw "kept by try"; } catch (e) { ok = true; }
print("caught by try, handler=" + ::handled + "\n");
seterrorhandler(null);

// root and const tables
::global_one <- 1;
print("root: " + getroottable().global_one + "\n");
local old = setroottable({ print = print, getroottable = getroottable });
::only_here <- 2;
print("new root has " + getroottable().len() + " slots\n");
setroottable(old);
print("restored: " + ("only_here" in getroottable()) + " " + ::global_one + "\n");
const C1 = 5;
print("const: " + getconsttable().C1 + "\n");

// version information
print(_version_ + " " + _versionnumber_ + " " + _intsize_ + " " + _floatsize_ + " " + _charsize_ + "\n");

// error() writes to the error stream, assert fails with a message
error("");
try { assert(1 == 2); } catch (e) { print("assert: " + e + "\n"); }
assert(true);
try { callee(1); } catch (e) { print("bad call: " + e + "\n"); }
print(typeof callee() + "\n");
