// Classes: fields, methods, static members, constructors, inheritance, base
// calls, attributes, new members before the first instance, instanceof.
function eq(a, b, what) { if (a != b) throw what + ": expected " + b + ", got " + a; }
function throws(f, msg) {
  try { f(); } catch (e) { if (msg != null && e != msg) throw "wrong error '" + e + "', expected '" + msg + "'"; return; }
  throw "expected the error: " + msg;
}

class Animal </ kind = "base" /> {
  name = "animal";
  legs = 4;
  static count = 0;
  static registry = [];
  constructor(n = null) {
    if (n != null) name = n;
    Animal.registry.append(this);
  }
  function describe() { return name + " with " + legs + " legs"; }
  function speak() { return "..."; }
}
class Bird extends Animal {
  legs = 2;
  constructor(n) { base.constructor(n); }
  function speak() { return "tweet after " + base.speak(); }
}
local a = Animal();
local b = Bird("robin");
eq(a.describe(), "animal with 4 legs", "defaults");
eq(b.describe(), "robin with 2 legs", "inherited method, overridden field");
eq(b.speak(), "tweet after ...", "base call");
eq(Animal.registry.len(), 2, "static shared");
eq(b.count, 0, "static through an instance");
eq(b instanceof Bird && b instanceof Animal, true, "instanceof chain");
eq(b.getclass(), Bird, "getclass");
eq(Bird.getbase(), Animal, "getbase");
eq(Animal.getbase(), null, "no base");
eq(Animal.getattributes(null).kind, "base", "class attributes");

// the default values of fields are copied into each instance
class Holder { items = null; tag = "t"; constructor() { items = []; } }
local h1 = Holder(), h2 = Holder();
h1.items.append(1);
h1.tag = "changed";
eq(h2.items.len() + h2.tag, "0t", "instances are independent");
class Shared { list = []; }
Shared().list.append(1);
eq(Shared().list.len(), 1, "a container default is shared (reference semantics)");

// methods see this; missing members are errors
class Counter {
  n = 0;
  function inc() { n++; return this; }
}
local c = Counter();
c.inc().inc().inc();
eq(c.n, 3, "method chaining");
throws(function() { return c.missing; }, "the index 'missing' does not exist");
throws(function() { c.missing = 1; }, "the index 'missing' does not exist");
throws(function() { c.newfield <- 1; }, null);

// members added before the first instance; locked after
class Late {}
Late.greet <- function() { return "hello"; };
Late.value <- 5;
Late.static_like <- "s";
local l = Late();
eq(l.greet() + l.value, "hello5", "members added before instancing");
throws(function() { Late.other <- 1; }, "trying to modify a class that has already been instantiated");
Late.greet2 <- function() { return "methods can still be added"; };
eq(Late().greet2(), "methods can still be added", "methods after instancing");

// attributes on members
class Attr {
  </ min = 0, max = 10 /> level = 5;
  </ help = "does it" /> function act() {}
}
eq(Attr.getattributes("level").max, 10, "field attributes");
eq(Attr.getattributes("act").help, "does it", "method attributes");
Attr.setattributes("level", { min = 1 });
eq(Attr.getattributes("level").min, 1, "setattributes");

// newmember / rawnewmember
class Dyn {}
Dyn.newmember("x", 3);
Dyn.rawnewmember("y", 4, { note = "a" }, false);
eq(Dyn().x + Dyn().y, 7, "newmember");
eq(Dyn.getattributes("y").note, "a", "rawnewmember attributes");
local made = Dyn.instance();
eq(made.x, 3, "instance() without constructor");

// class expression and nested class declarations
local Anon = class { v = 9; };
eq(Anon().v, 9, "class expression");
local ns = {};
class ns.Inner { function who() { return "inner"; } }
eq(ns.Inner().who(), "inner", "class a.b");

// _inherited and _newmember
local inherited = [];
class Tracked {
  function _inherited(attrs) { inherited.append(attrs == null ? "none" : attrs.tag); }
}
class T1 extends Tracked {}
class T2 extends Tracked </ tag = "t2" /> {}
eq(inherited.len() + inherited[0] + inherited[1], "2nonet2", "_inherited");
local added = [];
class Watch {
  function _newmember(key, value, attrs, isstatic) {
    added.append(key);
    this.rawnewmember(key, value, attrs, isstatic);
  }
}
class Sub extends Watch { a = 1; function b() { return 2; } }
eq(added.len(), 2, "_newmember for each member of a derived class");
eq(Sub().a + Sub().b(), 3, "members added by rawnewmember");

// constructor errors and calling classes with arguments
class NeedsArg { v = 0; constructor(a) { v = a; } }
throws(function() { NeedsArg(); }, "wrong number of parameters");
eq(NeedsArg(5).v, 5, "constructor argument");
class Base1 { constructor() { throw "ctor failed"; } }
throws(function() { Base1(); }, "ctor failed");
throws(function() { class X extends 1 {} }, null);
print("ok\n");
