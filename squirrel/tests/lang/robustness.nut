// Scripts cannot crash the host: runaway recursion, huge allocations,
// mutation during iteration, metamethod cycles and bad arguments all become
// script errors that can be caught.
function throws(f) {
  try { f(); } catch (e) { return e; }
  throw "expected an error";
}

// deep recursion
function down(n) { return 1 + down(n + 1); }
print("recursion: " + throws(@() down(0)) + "\n");
// deep recursion through metamethods and natives (C recursion is bounded too)
class Deep { function _get(k) { return this[k]; } }
throws(@() Deep().x);
class Str { function _tostring() { return "" + this; } }
throws(@() "" + Str());
local self_sort = [3, 2, 1];
function cmp(a, b) { self_sort.sort(cmp); return a <=> b; }
throws(@() self_sort.sort(cmp));
function viacall(n) { return viacall.call(this, n + 1); }
throws(@() viacall(0));
local t = {};
t.setdelegate({ _get = function(k) { return t[k]; } });
throws(@() t.anything);

// huge allocations
print("array: " + throws(@() array(2000000000)) + "\n");
throws(@() [].resize(1 << 30));
throws(@() array(-5));

// mutating containers while iterating
local arr = [1, 2, 3, 4, 5, 6];
local visited = 0;
foreach (i, v in arr) { visited++; if (i == 1) arr.clear(); }
print("array cleared while iterating: visited " + visited + "\n");
local grow = [1];
local steps = 0;
foreach (v in grow) { if (grow.len() < 100) grow.append(v); steps++; }
print("array grown while iterating: " + steps + " steps\n");
local tbl = {};
for (local i = 0; i < 50; i++) tbl[i] <- i;
local count = 0;
foreach (k, v in tbl) { count++; tbl[k + 1000] <- v; if (count > 10000) break; }
print("table grown while iterating: finished\n");
foreach (k, v in tbl) tbl.clear();
print("table cleared while iterating: " + tbl.len() + "\n");

// bad arguments to built-ins
foreach (f in [@() "abc".slice(2, 1), @() "abc".find(1), @() [1].remove(-1), @() (5).tochar("x"),
               @() {}.setdelegate(1), @() newthread(1), @() compilestring(5), @() array("x"),
               @() [1, 2].sort(5), @() [].extend(1), @() {}.rawget(), @() getstackinfos("x"),
               @() (1).weakref(1), @() setroottable(1), @() seterrorhandler(1), @() type()]) {
  throws(f);
}
print("bad arguments: errors\n");

// other misuse
throws(@() resume 1);
local th = newthread(@() 1);
throws(@() th.wakeup());
print("done\n");
