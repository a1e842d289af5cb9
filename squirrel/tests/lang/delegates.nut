// The built-in methods of every type and their errors.
function eq(a, b, what) { if (a != b) throw what + ": expected " + b + ", got " + a; }
function throws(f, msg) {
  try { f(); } catch (e) { if (msg != null && e != msg) throw "wrong error '" + e + "', expected '" + msg + "'"; return; }
  throw "expected the error: " + msg;
}

// numbers and bools
eq((5).tofloat(), 5.0, "int tofloat");
eq(typeof (5).tofloat(), "float", "tofloat type");
eq((5.9).tointeger(), 5, "float tointeger");
eq((-5.9).tointeger(), -5, "tointeger truncates");
eq((65).tochar(), "A", "tochar");
eq((12).tostring(), "12", "int tostring");
eq((0.5).tostring(), "0.5", "float tostring");
eq(true.tointeger(), 1, "bool tointeger");
eq(false.tostring(), "false", "bool tostring");

// strings
local s = "Hello World";
eq(s.len(), 11, "len");
eq(s.slice(6), "World", "slice from");
eq(s.slice(0, 5), "Hello", "slice range");
eq(s.slice(-5), "World", "negative start");
eq(s.slice(0, -6), "Hello", "negative end");
throws(function() { s.slice(5, 2); }, null);
throws(function() { s.slice(0, 100); }, null);
eq(s.find("o"), 4, "find");
eq(s.find("o", 5), 7, "find from");
eq(s.find("xyz"), null, "find missing");
eq(s.tolower(), "hello world", "tolower");
eq(s.toupper(), "HELLO WORLD", "toupper");
eq("42".tointeger(), 42, "tointeger");
eq("-7".tointeger(), -7, "negative tointeger");
eq("2.5".tofloat(), 2.5, "tofloat");
eq("10".tofloat(), 10.0, "integer text tofloat");
throws(function() { "abc".tointeger(); }, "cannot convert the string");
throws(function() { "".tofloat(); }, "cannot convert the string");
eq("x".tostring(), "x", "string tostring");
eq(s[0], 'H', "index a string");
throws(function() { return s[11]; }, "the index '11' does not exist");

// tables
local t = { a = 1, b = 2 };
eq(t.len(), 2, "table len");
eq(t.rawget("a"), 1, "rawget");
t.rawset("c", 3);
eq(t.c, 3, "rawset creates");
eq(t.rawin("c"), true, "rawin");
eq(t.rawdelete("c"), 3, "rawdelete returns the value");
eq(t.rawin("c"), false, "rawdelete removed");
throws(function() { t.rawget("zz"); }, "the index 'zz' does not exist");
t.clear();
eq(t.len(), 0, "clear");
eq(typeof t.tostring(), "string", "table tostring");
throws(function() { t.setdelegate(5); }, null);

// arrays
local a = [3, 1, 2];
eq(a.len(), 3, "array len");
a.append(4);
a.push(5);
eq(a.top(), 5, "top");
eq(a.pop(), 5, "pop");
a.extend([6, 7]);
eq(a.len(), 6, "extend");
a.insert(0, 0);
eq(a[0], 0, "insert");
eq(a.remove(0), 0, "remove returns the item");
throws(function() { a.insert(100, 1); }, "index out of range");
throws(function() { a.remove(100); }, "index out of range");
throws(function() { [].pop(); }, null);
throws(function() { [].top(); }, null);
a.resize(3);
eq(a.len(), 3, "resize smaller");
a.resize(5, "x");
eq(a[4], "x", "resize with fill");
throws(function() { a.resize(-1); }, null);
a = [5, 2, 8, 1];
a.sort();
eq(a[0] + "" + a[1] + a[2] + a[3], "1258", "sort");
a.sort(@(x, y) y <=> x);
eq(a[0], 8, "sort with comparator");
throws(function() { a.sort(@(x, y) "bad"); }, null);
throws(function() { [1, "a", 2].sort(); }, null);
a.reverse();
eq(a[0], 1, "reverse");
eq(a.slice(1, 3).len(), 2, "slice");
eq(a.slice(-1)[0], 8, "negative slice");
eq(a.map(@(v) v * 2)[3], 16, "map");
local applied = [1, 2];
applied.apply(@(v) v + 10);
eq(applied[1], 12, "apply");
eq([1, 2, 3, 4].reduce(@(p, c) p + c), 10, "reduce");
eq([].reduce(@(p, c) p + c), null, "reduce empty");
eq([1, 2, 3, 4].filter(@(i, v) v % 2 == 0).len(), 2, "filter");
eq([4, 5, 6].find(6), 2, "find");
eq([4, 5, 6].find(7), null, "find missing");
a.clear();
eq(a.len(), 0, "array clear");
throws(function() { a.append(); }, "wrong number of parameters");
throws(function() { local x = [1]; x[1] = 2; }, "the index '1' does not exist");
eq(array(3, 0).len(), 3, "array()");
eq(array(2)[1], null, "array() fills with null");
throws(function() { array(-1); }, null);

// sorting a large array with a comparator that changes the array is safe
local big = [];
for (local i = 0; i < 200; i++) big.append((i * 37) % 101);
throws(function() { big.sort(function(p, q) { big.clear(); return p <=> q; }); }, null);

// closures
local f = function(x, y) { return x + y + (this.k ? this.k : 0); };
eq(f.call({ k = 1 }, 2, 3), 6, "call");
eq(f.acall([{ k = 0 }, 2, 3]), 5, "acall");
throws(function() { f.acall([]); }, null);
eq(typeof f.weakref(), "weakref", "closure weakref");
eq(typeof f.tostring(), "string", "closure tostring");

// classes and instances
class P { x = 1; }
local p = P();
eq(p.getclass(), P, "getclass");
eq(p.rawget("x"), 1, "instance rawget");
p.rawset("x", 5);
eq(p.x, 5, "instance rawset");
eq(p.rawin("x") && !p.rawin("y"), true, "instance rawin");
eq(P.rawget("x"), 1, "class rawget");
eq(P.rawin("x"), true, "class rawin");
eq(typeof P.instance(), "instance", "class instance()");

// generators, threads, weak references
function g() { yield 1; }
eq(g().getstatus(), "suspended", "generator getstatus");
eq(newthread(g).getstatus(), "idle", "thread getstatus");
local w = p.weakref();
eq(w.ref(), p, "weakref ref");
eq(typeof w.weakref(), "weakref", "weakref of a weakref");
eq(typeof w.tostring(), "string", "weakref tostring");

// wrong argument types give errors
throws(function() { "abc".slice("x"); }, null);
throws(function() { [1].insert("a", 1); }, null);
throws(function() { [1].map(5); }, null);
throws(function() { (1).tochar(1); }, "wrong number of parameters");
print("ok\n");
