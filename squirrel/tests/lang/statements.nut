// Control flow: if/else, loops, foreach over every iterable, break/continue,
// switch with fall-through, try/catch/throw, local declarations, const, enum.
function eq(a, b, what) { if (a != b) throw what + ": expected " + b + ", got " + a; }

local s = 0;
for (local i = 0; i < 10; i++) {
  if (i == 3) continue;
  if (i == 7) break;
  s += i;
}
eq(s, 0 + 1 + 2 + 4 + 5 + 6, "for with break/continue");

local n = 0, w = 0;
while (n < 5) { n++; if (n % 2) continue; w += n; }
eq(w, 6, "while with continue");

local d = 0;
do { d++; } while (d < 3);
eq(d, 3, "do-while");
do d++; while (false);
eq(d, 4, "do-while runs once");

local e = "";
if (d == 1) e = "one"; else if (d == 4) e = "four"; else e = "other";
eq(e, "four", "else if");

for (local i = 0, j = 10; i < j; i++, j--) s = i * 100 + j;
eq(s, 406, "for with comma expressions");

local nested = 0;
for (local i = 0; i < 3; i++)
  for (local j = 0; j < 3; j++) {
    if (j == 2) break;
    nested++;
  }
eq(nested, 6, "break leaves only the inner loop");

// foreach over every iterable
local keys = [], vals = [];
foreach (i, v in [10, 20, 30]) { keys.append(i); vals.append(v); }
eq(keys.len() + ":" + keys[2] + ":" + vals[1], "3:2:20", "foreach array");
local sum = 0;
foreach (k, v in { a = 1, b = 2, c = 3 }) sum += v;
eq(sum, 6, "foreach table");
local chars = "";
foreach (i, c in "abc") chars += i + "" + c.tochar();
eq(chars, "0a1b2c", "foreach string");
class Pt { x = 1; y = 2; function f() {} }
local members = 0;
foreach (k, v in Pt) members++;
eq(members, 3, "foreach class members");
local fields = {};
foreach (k, v in Pt()) fields[k] <- v;
eq(fields.x + fields.y, 3, "foreach instance members");
function gen() { yield "a"; yield "b"; }
local g = "";
foreach (i, v in gen()) g += i + v;
eq(g, "0a1b", "foreach generator with index");
local only = 0;
foreach (v in [5, 6]) only += v;
eq(only, 11, "foreach value only");
local empty = 0;
foreach (v in []) empty++;
foreach (v in {}) empty++;
foreach (v in "") empty++;
eq(empty, 0, "foreach over empty containers");

// removing entries while iterating a table visits every other entry once
local t = {};
for (local i = 0; i < 100; i++) t[i] <- i;
local seen = 0;
foreach (k, v in t) { seen++; if (k % 2 == 0) delete t[k]; }
eq(seen, 100, "delete during foreach");
eq(t.len(), 50, "half deleted");

// switch
function classify(v) {
  local r = "";
  switch (v) {
    case 1: r += "one ";
    case 2: r += "two "; break;
    case "s": r += "string "; break;
    case 3 + 1: r += "four "; break;
    default: r += "default ";
  }
  return r;
}
eq(classify(1), "one two ", "fall-through");
eq(classify(2), "two ", "case");
eq(classify("s"), "string ", "string case");
eq(classify(4), "four ", "expression case");
eq(classify(9), "default ", "default");
local loops = 0;
for (local i = 0; i < 4; i++) {
  switch (i) { case 1: continue; default: loops++; }
}
eq(loops, 3, "continue inside switch goes to the loop");

// exceptions
local caught = null;
try { throw "boom"; } catch (ex) { caught = ex; }
eq(caught, "boom", "throw string");
try { throw { code = 5 }; } catch (ex) { caught = ex.code; }
eq(caught, 5, "throw table");
function thrower() { throw "deep"; }
function middle() { thrower(); return "not reached"; }
try { middle(); } catch (ex) { caught = ex; }
eq(caught, "deep", "throw through frames");
local order = "";
try {
  try { throw "inner"; } catch (ex) { order += "1"; throw ex + "!"; }
} catch (ex) { order += "2" + ex; }
eq(order, "12inner!", "rethrow");
for (local i = 0; i < 3; i++) {
  try { if (i == 1) break; } catch (ex) {}
}
local after = 0;
try { after = 1; } catch (ex) { after = 2; }
eq(after, 1, "try without error");
try { local a = [1]; a[5]; } catch (ex) { caught = ex; }
eq(caught, "the index '5' does not exist", "runtime error caught");

// locals
local p = 1, q, r = p + 1;
eq(q, null, "uninitialised local");
eq(r, 2, "local sees earlier local");
{
  local p = 100;
  eq(p, 100, "shadowing");
}
eq(p, 1, "scope restored");

// const and enum
const LIMIT = 10;
const NAME = "n";
const NEG = -3;
enum Dir { North, East = 10, South, West = "w" }
eq(LIMIT + NEG, 7, "const");
eq(NAME, "n", "string const");
eq(Dir.North, 0, "enum first");
eq(Dir.East, 10, "enum explicit");
eq(Dir.South, 1, "enum counter");
eq(Dir.West, "w", "enum string");
eq(getconsttable().LIMIT, 10, "const table");
print("ok\n");
