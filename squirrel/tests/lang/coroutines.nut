// Generators (yield, resume, getstatus) and threads (newthread, call,
// wakeup, suspend, getstatus).
function eq(a, b, what) { if (a != b) throw what + ": expected " + b + ", got " + a; }
function throws(f, msg) {
  try { f(); } catch (e) { if (msg != null && e != msg) throw "wrong error '" + e + "', expected '" + msg + "'"; return; }
  throw "expected the error: " + msg;
}

function counter(from, to) {
  for (local i = from; i <= to; i++) yield i;
  return "done";
}
local g = counter(1, 3);
eq(typeof g, "generator", "calling a generator function");
eq(g.getstatus(), "suspended", "created suspended");
eq(resume g, 1, "first yield");
eq(resume g, 2, "second yield");
eq(resume g, 3, "third yield");
eq(resume g, "done", "return value ends it");
eq(g.getstatus(), "dead", "dead after return");
throws(function() { resume g; }, "resuming dead generator");

// locals survive suspension; closures see them by reference
function acc() {
  local total = 0;
  local peek = @() total;
  while (true) { total += 10; yield peek; }
}
local ga = acc();
local p1 = resume ga;
resume ga;
eq(p1(), 20, "outer captured inside a generator");

// generator in foreach, with try/catch around yield
function guarded() {
  try {
    yield 1;
    yield 2;
    throw "inside";
  } catch (e) {
    yield "caught " + e;
  }
}
local got = [];
foreach (v in guarded()) got.append(v);
eq(got.len() + ":" + got[2], "3:caught inside", "trap kept across yields");

function running() { yield g.getstatus(); }
local self_gen = null;
function me() { yield self_gen.getstatus(); }
self_gen = me();
eq(resume self_gen, "running", "status while running");
throws(function() { function bad() { yield resume self_gen2; } ::self_gen2 <- bad(); resume ::self_gen2; }, "resuming active generator");
function err_gen() { yield 1; throw "gen error"; }
local eg = err_gen();
resume eg;
throws(function() { resume eg; }, "gen error");
eq(eg.getstatus(), "dead", "an error kills the generator");
throws(function() { resume 5; }, null);

// nested generators
function inner() { yield "a"; yield "b"; }
function outer() { foreach (v in inner()) yield v + v; }
local s = "";
foreach (v in outer()) s += v;
eq(s, "aabb", "generator driving a generator");

// threads
function worker(a, b) {
  local got = suspend(a + b);
  got = suspend(got * 2);
  return "end " + got;
}
local t = newthread(worker);
eq(t.getstatus(), "idle", "new thread");
eq(t.call(1, 2), 3, "first suspend value");
eq(t.getstatus(), "suspended", "suspended");
eq(t.wakeup(5), 10, "wakeup value flows in");
eq(t.wakeup("x"), "end x", "return ends the thread");
eq(t.getstatus(), "idle", "idle again");
eq(t.call(2, 2), 4, "a thread can be called again");
throws(function() { newthread(function() {}).wakeup(); }, null);

function thrower() { suspend(1); throw "thread error"; }
local t2 = newthread(thrower);
t2.call();
throws(function() { t2.wakeup(); }, "thread error");

// suspending is only possible from the thread's own code
function via_native() { [1, 2].sort(function(a, b) { suspend(0); return a <=> b; }); }
local t3 = newthread(via_native);
throws(function() { t3.call(); }, null);

// generator resumed inside a thread
function tg() {
  local g = counter(5, 6);
  local a = resume g;
  suspend(a);
  return resume g;
}
local t4 = newthread(tg);
eq(t4.call(), 5, "generator before suspend");
eq(t4.wakeup(), 6, "generator after wakeup");
local infos = newthread(function() { suspend(); });
infos.call();
eq(infos.getstackinfos(0).func != null, true, "getstackinfos of a thread");
print("ok\n");
