// Tables and arrays under load: keys of every type, growth and shrinking,
// deletion and re-insertion, iteration while mutating, nested structures.
function eq(a, b, what) { if (a != b) throw what + ": expected " + b + ", got " + a; }
function throws(f, msg) {
  try { f(); } catch (e) { if (msg != null && e != msg) throw "wrong error '" + e + "', expected '" + msg + "'"; return; }
  throw "expected the error: " + msg;
}

// keys of every type
local fn = function() {};
class K {}
local inst = K();
local arrkey = [];
local t = {};
t[1] <- "int";
t[-5] <- "negative";
t[2.5] <- "float";
t["s"] <- "string";
t[true] <- "bool";
t[fn] <- "function";
t[K] <- "class";
t[inst] <- "instance";
t[arrkey] <- "array";
t[t] <- "itself";
eq(t.len(), 10, "ten keys");
eq(t[1] + t[-5] + t[2.5] + t["s"] + t[true], "intnegativefloatstringbool", "scalar keys");
eq(t[fn] + t[K] + t[inst] + t[arrkey] + t[t], "functionclassinstancearrayitself", "object keys");
throws(function() { t[null] <- 1; }, "null cannot be used as index");
eq(t.rawin(2) || t.rawin("1"), false, "no confusion between keys");
delete t[t];
t = null;

// many keys: growth, lookups, deletion of half, re-insertion
local big = {};
for (local i = 0; i < 20000; i++) big[i * 7] <- i;
local ok = true;
for (local i = 0; i < 20000; i++) if (big[i * 7] != i) ok = false;
eq(ok, true, "integer keys after growth");
for (local i = 0; i < 20000; i += 2) delete big[i * 7];
eq(big.len(), 10000, "after deleting half");
eq((14 in big) || (7 in big), true, "odd entries survive");
eq(0 in big, false, "even entries are gone");
for (local i = 0; i < 20000; i += 2) big[i * 7] <- -i;
eq(big.len(), 20000, "re-inserted");
eq(big[14], -2, "new values");
local strings = {};
for (local i = 0; i < 5000; i++) strings["k" + i] <- i;
local sum = 0;
foreach (k, v in strings) sum += v;
eq(sum, 5000 * 4999 / 2, "string keys");
for (local i = 0; i < 5000; i++) delete strings["k" + i];
eq(strings.len(), 0, "all deleted");
strings.x <- 1;
eq(strings.x, 1, "usable after emptying");

// churn: the same few keys deleted and added many times
local churn = {};
for (local round = 0; round < 2000; round++) {
  churn["a" + (round % 5)] <- round;
  local victim = "a" + ((round + 1) % 5);
  if (round % 3 == 0 && victim in churn) delete churn[victim];
}
eq(churn.len() <= 5, true, "churn keeps the table small");

// arrays
local a = [];
for (local i = 0; i < 1000; i++) a.append(i);
for (local i = 0; i < 500; i++) a.remove(0);
eq(a[0] + a.len(), 500 + 500, "remove from the front");
a.insert(250, "mid");
eq(a[250], "mid", "insert in the middle");
a.resize(2);
eq(a.len(), 2, "shrink");
local nested = [[1, [2, [3]]], { k = [4] }];
eq(nested[0][1][1][0] + nested[1].k[0], 7, "nested structures");
local grid = array(3);
for (local r = 0; r < 3; r++) grid[r] = array(3, r);
eq(grid[2][1], 2, "arrays of arrays");
throws(function() { a[-1]; }, "the index '-1' does not exist");
throws(function() { a["x"]; }, null);

// equality of containers is identity; clones are new containers
local c1 = [1, 2];
local c2 = clone c1;
eq(c1 == c2, false, "clone is another array");
eq(c1[1] == c2[1], true, "same elements");
print("ok\n");
