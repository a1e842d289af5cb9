// Weak references: weakref(), ref(), and slots holding weak references.
function eq(a, b, what) { if (a != b) throw what + ": expected " + b + ", got " + a; }

class Thing { name = "thing"; }
local obj = Thing();
local w = obj.weakref();
eq(typeof w, "weakref", "weakref type");
eq(w.ref(), obj, "ref while alive");
obj = null;
eq(w.ref(), null, "ref after death");

local tbl = { a = 1 };
local wt = tbl.weakref();
eq(tbl.weakref() == wt, true, "one weak reference per object");
tbl = null;
eq(wt.ref(), null, "table died");

// a slot holding a weak reference reads as the target
local target = [1, 2, 3];
local holder = { r = target.weakref() };
local list = [target.weakref()];
eq(holder.r.len(), 3, "table slot reads through");
eq(list[0].len(), 3, "array slot reads through");
target = null;
eq(holder.r, null, "slot reads null once the target died");
eq(list[0], null, "array slot null");

// values that are not reference counted return themselves
eq((5).weakref(), 5, "integer weakref");
eq((1.5).weakref(), 1.5, "float weakref");
eq(true.weakref(), true, "bool weakref");

// cycles keep objects alive until the collector runs
local a = {}, b = {};
a.other <- b;
b.other <- a;
local wa = a.weakref();
a = null;
b = null;
eq(wa.ref() != null, true, "cycle alive before collection");
local freed = collectgarbage();
eq(wa.ref(), null, "cycle collected");
eq(freed >= 2, true, "collected count");

// resurrectunreachable hands back what would be collected
local c = [];
c.append(c);
local wc = c.weakref();
c = null;
local back = resurrectunreachable();
eq(back != null && back.len() >= 1, true, "resurrected");
eq(wc.ref() != null, true, "still alive while held");
back = null;
collectgarbage();
eq(wc.ref(), null, "gone after the second collection");
print("ok\n");
