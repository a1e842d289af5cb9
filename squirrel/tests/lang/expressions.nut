// Operators: arithmetic with integer/float promotion, division, bitwise,
// comparisons, logical operators, assignment forms, typeof/in/instanceof/clone/delete.
function eq(a, b, what) { if (a != b) throw what + ": expected " + b + ", got " + a; }
function throws(f, msg) {
  try { f(); } catch (e) { if (msg != null && e != msg) throw "wrong error '" + e + "', expected '" + msg + "'"; return; }
  throw "expected the error: " + msg;
}

// promotion
eq(typeof (1 + 1), "integer", "int + int");
eq(typeof (1 + 1.0), "float", "int + float");
eq(typeof (2 * 0.5), "float", "int * float");
eq(7 / 2, 3, "integer division truncates");
eq(-7 / 2, -3, "integer division toward zero");
eq(7 % 3, 1, "modulo");
eq(-7 % 3, -1, "modulo sign follows dividend");
eq(7.0 / 2, 3.5, "float division");
eq(7.5 % 2, 1.5, "float modulo");
eq(1.0 / 0 > 1e30, true, "float division by zero is infinite");
throws(function() { return 1 / 0; }, "division by zero");
throws(function() { return 1 % 0; }, "division by zero");
eq(-2147483647 - 1, -2147483648, "min int");
eq((-2147483647 - 1) / -1, -2147483647 - 1, "min int / -1 wraps");
eq((-2147483647 - 1) % -1, 0, "min int % -1");
eq(2147483647 + 1, -2147483647 - 1, "addition wraps");
eq(65536 * 65536, 0, "multiplication wraps");
eq(-(-2147483647 - 1), -2147483647 - 1, "negation wraps");

// bitwise
eq(6 & 3, 2, "and");
eq(6 | 3, 7, "or");
eq(6 ^ 3, 5, "xor");
eq(~0, -1, "not");
eq(1 << 31, -2147483647 - 1, "shift into sign");
eq(-8 >> 1, -4, "arithmetic shift");
eq(-8 >>> 28, 15, "logical shift");
throws(function() { return 1.5 & 1; }, null);

// comparisons
eq(1 < 2, true, "lt");
eq(2 <= 2, true, "le");
eq(3 > 2.5, true, "int > float");
eq(1 == 1.0, true, "int == float");
eq("abc" < "abd", true, "string <");
eq("b" > "abc", true, "string >");
eq("x" == "x", true, "string ==");
eq(null == null, true, "null == null");
eq(null == 0, false, "null != 0");
eq([] == [], false, "arrays compare by identity");
eq(1 <=> 2, -1, "cmp3 lt");
eq(2 <=> 2, 0, "cmp3 eq");
eq("b" <=> "a", 1, "cmp3 strings");
eq(2.5 <=> 1, 1, "cmp3 mixed");
throws(function() { return 1 < "a"; }, null);
throws(function() { return {} < {}; }, null);

// logical operators return an operand
eq(null || "x", "x", "or picks second");
eq(1 || 2, 1, "or picks first");
eq(0 && 2, 0, "and stops at false");
eq(1 && 2, 2, "and picks second");
eq(!0, true, "not 0");
eq(!"", false, "empty string is true");
eq(!0.0, true, "0.0 is false");
local calls = 0;
local function side() { calls++; return true; }
local r = false && side();
r = true || side();
eq(calls, 0, "short circuit");
eq(1 ? "y" : "n", "y", "ternary");
eq(null ? "y" : "n", "n", "ternary false");
eq(1 < 2 ? 3 < 4 ? "a" : "b" : "c", "a", "nested ternary");

// assignment forms
local x = 10;
x += 5; eq(x, 15, "+=");
x -= 3; eq(x, 12, "-=");
x *= 2; eq(x, 24, "*=");
x /= 5; eq(x, 4, "/=");
x %= 3; eq(x, 1, "%=");
local y = x++; eq(y, 1, "postfix result"); eq(x, 2, "postfix effect");
y = ++x; eq(y, 3, "prefix result");
y = x--; eq(y, 3, "postfix --"); eq(x, 2, "after --");
local t = { n = 1 };
t.n++; eq(t.n, 2, "field ++");
t.n += 10; eq(t.n, 12, "field +=");
local arr = [1, 2];
arr[1] *= 5; eq(arr[1], 10, "element *=");
local a1, b1;
a1 = b1 = 7; eq(a1 + b1, 14, "chained assignment");
t.s <- "new"; eq(t.s, "new", "newslot");
throws(function() { local u = {}; u.missing = 1; }, "the index 'missing' does not exist");

// string concatenation converts the other operand
eq("a" + 1, "a1", "string + int");
eq(1 + "a", "1a", "int + string");
eq("v" + 1.5, "v1.5", "string + float");
eq("n" + null, "nnull", "string + null");
eq("b" + true, "btrue", "string + bool");

// typeof, in, instanceof, clone, delete
eq(typeof print, "function", "typeof native");
eq(typeof function() {}, "function", "typeof closure");
eq(typeof (class {}), "class", "typeof class");
local tt = { a = 1 };
eq("a" in tt, true, "in table");
eq("b" in tt, false, "not in table");
eq(1 in [5, 6], true, "index in array");
eq(5 in [5, 6], false, "value is not an index");
class K {}
class L extends K {}
eq(L() instanceof K, true, "instanceof base");
eq(K() instanceof L, false, "not instanceof derived");
eq(1 instanceof K, false, "number is not an instance");
local orig = { list = [1] };
local copy = clone orig;
copy.list.append(2);
copy.extra <- 1;
eq(orig.list.len(), 2, "clone is shallow");
eq("extra" in orig, false, "clone is a new table");
eq(delete tt.a, 1, "delete returns the value");
eq("a" in tt, false, "deleted");
throws(function() { delete tt.a; }, "the index 'a' does not exist");

// precedence
eq(2 + 3 * 4, 14, "mul before add");
eq((2 + 3) * 4, 20, "parentheses");
eq(1 + 2 << 1, 6, "add before shift");
eq(1 | 2 ^ 3 & 4, 3, "bitwise precedence");
eq(-2 * -3, 6, "unary minus");
eq(!1 == false, true, "not before ==");
eq(10 - 2 - 3, 5, "left associative");
print("ok\n");
