// Metamethods of classes and table delegates.
function eq(a, b, what) { if (a != b) throw what + ": expected " + b + ", got " + a; }
function throws(f, msg) {
  try { f(); } catch (e) { if (msg != null && e != msg) throw "wrong error '" + e + "', expected '" + msg + "'"; return; }
  throw "expected the error: " + msg;
}

class Num {
  v = 0;
  constructor(x) { v = x; }
  function _add(o) { return Num(v + (o instanceof Num ? o.v : o)); }
  function _sub(o) { return Num(v - o.v); }
  function _mul(o) { return Num(v * o.v); }
  function _div(o) { return Num(v / o.v); }
  function _modulo(o) { return Num(v % o.v); }
  function _unm() { return Num(-v); }
  function _cmp(o) { return v <=> o.v; }
  function _typeof() { return "Num"; }
  function _tostring() { return "Num(" + v + ")"; }
  function _call(self, k) { return v * k; }
}
local a = Num(6), b = Num(4);
eq((a + b).v, 10, "_add");
eq((a + 1).v, 7, "_add with a number");
eq((a - b).v, 2, "_sub");
eq((a * b).v, 24, "_mul");
eq((a / b).v, 1, "_div");
eq((a % b).v, 2, "_modulo");
eq((-a).v, -6, "_unm");
eq(a > b, true, "_cmp >");
eq(a <= b, false, "_cmp <=");
eq(a <=> b, 1, "_cmp <=>");
eq(typeof a, "Num", "_typeof");
eq(a.tostring(), "Num(6)", "_tostring");
eq("" + a, "Num(6)", "_tostring in concatenation");
eq(a(3), 18, "_call");
local x = a;
x += b;
eq(x.v, 10, "compound assignment uses the metamethod");

class Bag {
  data = null;
  constructor() { data = {}; }
  function _get(k) { if (k in data) return data[k]; throw null; }
  function _set(k, v) { data[k] <- v; }
  function _nexti(prev) {
    local keys = [];
    foreach (k, v in data) keys.append(k);
    keys.sort();
    if (prev == null) return keys.len() ? keys[0] : null;
    local i = keys.find(prev);
    return i + 1 < keys.len() ? keys[i + 1] : null;
  }
}
local bag = Bag();
bag.x = 1;
bag.y = 2;
eq(bag.x + bag.y, 3, "_get/_set");
throws(function() { return bag.z; }, "the index 'z' does not exist");
local order = "";
foreach (k, v in bag) order += k + v;
eq(order, "x1y2", "_nexti");

class Cl {
  data = null;
  constructor() { data = [1, 2]; }
  function _cloned(src) { data = clone src.data; }
}
local c1 = Cl();
local c2 = clone c1;
c2.data.append(3);
eq(c1.data.len(), 2, "_cloned");

// table delegates: lookup, metamethods, default delegate after them
local proto = {
  greet = function() { return "hello " + name; },
  _add = function(o) { return name + "+" + o.name; },
  _get = function(k) { if (k.slice(0, 1) == "d") return "dyn_" + k; throw null; },
  _newslot = function(k, v) { ::newslots.append(k); rawset(k, v * 2); },
  _delslot = function(k) { ::deleted.append(k); rawdelete(k); },
  _call = function(self, n) { return name + n; },
  _tostring = function() { return "T:" + name; },
  _typeof = function() { return "special"; },
  _cmp = function(o) { return name <=> o.name; }
};
::newslots <- [];
::deleted <- [];
local t1 = { name = "a" }.setdelegate(proto);
local t2 = { name = "b" }.setdelegate(proto);
eq(t1.greet(), "hello a", "method from delegate");
eq(t1 + t2, "a+b", "_add in delegate");
eq(t1.dynamic, "dyn_dynamic", "_get in delegate");
t1.fresh <- 5;
eq(t1.fresh, 10, "_newslot");
eq(::newslots[0], "fresh", "_newslot called");
delete t1.fresh;
eq(::deleted[0], "fresh", "_delslot");
eq(t1(1), "a1", "_call on a table");
eq(t1.tostring(), "T:a", "_tostring on a table");
eq(typeof t1, "special", "_typeof on a table");
eq(t1 < t2, true, "_cmp on tables");
eq(t1.getdelegate() == proto, true, "getdelegate");
eq(t1.len(), 1, "default delegate still reachable");
t1.setdelegate(null);
eq(t1.getdelegate(), null, "delegate removed");
local chain = { a = 1 }.setdelegate({ b = 2 }.setdelegate({ c = 3 }));
eq(chain.a + chain.b + chain.c, 6, "delegate chain");
eq(chain.rawin("b"), false, "rawin ignores delegates");
throws(function() { return chain.rawget("b"); }, "the index 'b' does not exist");

// a metamethod that recurses forever is an error, not a crash
class Loop { function _get(k) { return this[k + "x"]; } }
throws(function() { return Loop().a; }, null);
print("ok\n");
