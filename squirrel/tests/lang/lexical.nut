// Comments, literals, escapes, verbatim strings, __LINE__ and __FILE__.
function eq(a, b, what) { if (a != b) throw what + ": expected " + b + ", got " + a; }

# a hash comment
/* a block comment
   over two lines */ local x = 1; // a line comment
eq(x, 1, "after comments");

// integer literals
eq(0x1F, 31, "hex");
eq(0xFFFFFFFF, -1, "hex wraps to 32 bits");
eq(0x7fffffff, 2147483647, "hex max");
eq(017, 15, "octal");
eq('a', 97, "char");
eq('\n', 10, "escaped char");
eq('\\', 92, "backslash char");
eq(-2147483647 - 1, 0x80000000, "int min");

// float literals
eq(1.5, 3 / 2.0, "float");
eq(1e3, 1000.0, "exponent");
eq(2.5e-1, 0.25, "negative exponent");
eq(typeof 1.0, "float", "typeof float literal");
eq(typeof 10, "integer", "typeof int literal");

// string escapes
local s = "\t\a\b\n\r\v\f\\\"\'\x41\x4a";
local codes = [9, 7, 8, 10, 13, 11, 12, 92, 34, 39, 65, 74];
eq(s.len(), codes.len(), "escape count");
foreach (i, c in codes) eq(s[i], c, "escape " + i);
eq("a\0b".len(), 3, "embedded zero");

// verbatim strings
local v = @"C:\path\n ""quoted""";
eq(v, "C:\\path\\n \"quoted\"", "verbatim");
local ml = @"line1
line2";
eq(ml.len(), 11, "verbatim over lines");

eq(__LINE__, 40, "__LINE__");
eq(typeof __FILE__, "string", "__FILE__ is a string");
eq(__FILE__.find("lexical.nut") != null, true, "__FILE__ names the script");

// identifiers and keywords as member names
local t = { constructor = 1 };
eq(t.constructor, 1, "constructor as a key");

// statements separated by newlines or semicolons
local a = 1; local b = 2
local c = a + b
eq(c, 3, "optional semicolons");

// compile errors are reported, not executed
function compile_error(src) {
  try { compilestring(src); } catch (e) { return e; }
  return null;
}
foreach (src in ["local = 1", "x = \"unterminated", "local a = 1 local b = 2", "function (", "0x",
                 "'ab'", "a = 1 +", "/* open comment", "\"bad \\q escape\"", "class { }", "break",
                 "continue", "local this = 1", "return )"]) {
  if (compile_error(src) == null) throw "no compile error for: " + src;
}
print("ok\n");
