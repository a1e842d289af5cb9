// Functions: closures capturing by reference, default parameters, varargs,
// lambdas, recursion, declarations, environments, tail calls.
function eq(a, b, what) { if (a != b) throw what + ": expected " + b + ", got " + a; }
function throws(f, msg) {
  try { f(); } catch (e) { if (msg != null && e != msg) throw "wrong error '" + e + "', expected '" + msg + "'"; return; }
  throw "expected the error: " + msg;
}

// closures share the captured variable
local function make() {
  local n = 0;
  local inc = function() { n++; return n; };
  local get = function() { return n; };
  return [inc, get];
}
local pair = make();
pair[0](); pair[0]();
eq(pair[1](), 2, "shared outer");
local x = 1;
local readx = function() { return x; };
x = 42;
eq(readx(), 42, "capture by reference");
local setx = function(v) { x = v; };
setx(7);
eq(x, 7, "closure writes outer");
local fns = [];
for (local i = 0; i < 3; i++) { local j = i; fns.append(function() { return j; }); }
eq(fns[0]() + fns[1]() + fns[2](), 3, "fresh local per iteration");
local each = [];
foreach (v in [1, 2, 3]) each.append(@() v);
eq(each[0]() * 100 + each[1]() * 10 + each[2](), 123, "foreach variable per iteration");
local function outer() {
  local a = 1;
  return function() { return function() { a++; return a; }; };
}
local deep = outer()();
deep();
eq(deep(), 3, "two levels of capture");

// default parameters and varargs
function def(a, b = 2, c = "c") { return a + ":" + b + ":" + c; }
eq(def(1), "1:2:c", "defaults");
eq(def(1, 5), "1:5:c", "one default");
eq(def(1, 5, 6), "1:5:6", "no default");
throws(function() { def(); }, "wrong number of parameters");
throws(function() { def(1, 2, 3, 4); }, "wrong number of parameters");
local base_val = 10;
local withdef = function(v = base_val * 2) { return v; };
eq(withdef(), 20, "default evaluated at creation");
function va(first, ...) {
  local s = first;
  foreach (v in vargv) s += v;
  return s + "/" + vargv.len();
}
eq(va(1), "1/0", "no varargs");
eq(va(1, 2, 3), "6/2", "varargs");
function va2(...) { return vargv; }
eq(va2("a", "b")[1], "b", "vargv array");

// lambdas and recursion
local sq = @(v) v * v;
eq(sq(9), 81, "lambda");
local compose = @(f, g) @(v) f(g(v));
eq(compose(sq, @(v) v + 1)(2), 9, "lambda closures");
function fact(n) { return n <= 1 ? 1 : n * fact(n - 1); }
eq(fact(10), 3628800, "recursion");
local function lfib(n) { return n < 2 ? n : lfib(n - 1) + lfib(n - 2); }
eq(lfib(15), 610, "local recursive function");

// tail calls do not grow the stack
function loop(n, acc) { if (n == 0) return acc; return loop(n - 1, acc + 1); }
eq(loop(200000, 0), 200000, "tail calls");

// declarations into tables
local ns = { inner = {} };
function ns::inner::hello() { return "hi"; }
eq(ns.inner.hello(), "hi", "function a::b::c");
local tbl = { val = 3, function get() { return val; } };
eq(tbl.get(), 3, "function in table literal uses this");

// this and environments
function getname() { return this.name; }
local env1 = { name = "one" };
local env2 = { name = "two" };
eq(getname.call(env1), "one", "call with env");
eq(getname.pcall(env2), "two", "pcall");
eq(getname.acall([env1]), "one", "acall");
eq(getname.pacall([env2]), "two", "pacall");
local bound = getname.bindenv(env2);
eq(bound(), "two", "bindenv");
env1.fn <- bound;
eq(env1.fn(), "two", "bound env wins over the caller");
function addall(a, b) { return this.k + a + b; }
eq(addall.call({ k = 1 }, 2, 3), 6, "call passes arguments");

// callee and function information
local me = function() { return callee(); };
eq(me(), me, "callee");
local infos = def.getinfos();
eq(infos.name, "def", "getinfos name");
eq(infos.parameters.len(), 4, "getinfos parameters include this");
eq(infos.defparams.len(), 2, "getinfos defaults");
eq(print.getinfos().native, true, "native getinfos");

// calling things that are not functions
throws(function() { local n = 1; n(); }, "attempt to call 'integer'");
throws(function() { null(); }, "attempt to call 'null'");
print("ok\n");
