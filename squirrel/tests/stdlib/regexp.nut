// The regexp class: match, search and capture over the documented syntax,
// starting positions, groups that take no part, zeros in the text, compile
// errors and bad calls.
local function range(m) { return m == null ? "null" : m.begin + "-" + m.end; }
local function ranges(a) {
  if (a == null) return "null";
  local s = "";
  foreach (m in a) s += "[" + m.begin + "," + m.end + "]";
  return s;
}

local word = regexp("[a-z]+");
print(typeof word + " " + (word instanceof regexp) + " " + word.subexpcount() + " " +
      regexp("(a)(?:b)((c))").subexpcount() + "\n");
print(word.match("hello") + " " + word.match("hello1") + " " + word.match("") + " " +
      regexp("a|ab").match("ab") + " " + regexp("a*").match("") + " " + regexp("b").match("ab") + "\n");
print(range(word.search("12abc34")) + " " + range(word.search("1234")) + " " +
      range(word.search("ab cd", 2)) + " " + range(word.search("ab", 2)) + "\n");

local cases = [
  ["(\\d+)-(\\d+)", "tel 12-345!"],
  ["(a)|(b)", "b"],
  ["(b+)(bbb)", "bbbbbbb"],
  ["<.+?>", "<a><b>"],
  ["<.+>", "<a><b>"],
  ["(x|xy)z", "xyz"],
  ["c|b|a", "abc"],
  ["\\m()", "x(a(b)c)y"],
  ["\\bcat\\b", "concat cat"],
  ["\\Bcat", "cat concat"],
  ["^\\s*(\\w+)\\s*=\\s*(.*)$", "  width = 640 px"],
  ["(?:ab)+", "xababab"],
  ["a{2,3}", "aaaa"],
  ["a{2}", "aaaa"],
  ["x{2,}", "axxxxb"],
  ["(ab){1,2}?c", "ababc"],
  ["[^0-9]+", "12ab3"],
  ["[\\d.]+", "v1.25x"],
  ["[-a]+", "b-a-"],
  ["\\x+", "zzBEEFz"],
  ["\\a+\\d", "!!abc1"],
  ["\\u\\l+", "see Paris"],
  ["\\p+", "ab.,;c"],
  ["\\S+$", "last word"],
  ["\\D\\W\\A\\X\\C\\P\\L\\U", "1x.5gZqQr"],
  ["\\c", "a\tb"],
  ["(a*)*b", "aab"],
  ["", "abc"],
  ["a\\.b", "axb a.b"],
  ["\\t", "a\tb"],
  ["^b", "ab"],
  ["b", "a\0b"],
  ["z", "abc"],
];
foreach (c in cases) print(c[0] + " -> " + ranges(regexp(c[0]).capture(c[1])) + "\n");

print(range(regexp("^b").search("ab", 1)) + " " + ranges(regexp("(\\d)").capture("1a2", 1)) + "\n");

// Every match of an expression, one after the other.
local number = regexp("\\d+");
local text = "a1 b22 c333";
local found = [];
for (local m = number.search(text); m != null; m = number.search(text, m.end))
  found.append(text.slice(m.begin, m.end));
print(found.len() + " " + found[0] + " " + found[1] + " " + found[2] + "\n");

local errors = [
  @() regexp("("), @() regexp(")"), @() regexp("a**"), @() regexp("[z-a]"), @() regexp("[abc"),
  @() regexp("a{3,1}"), @() regexp("a\\"), @() word.search("abc", 10), @() word.capture("abc", -1),
  @() regexp("(x+x+)+y").search("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"),
];
foreach (f in errors) {
  try {
    f();
    print("no error\n");
  } catch (e) {
    print(e + "\n");
  }
}

// A subclass whose constructor does not construct the regexp, and a clone,
// which does not share the compiled expression of its original.
class Unbuilt extends regexp {
  constructor() {}
}
foreach (f in [@() Unbuilt().match("a"), @() (clone word).match("abc")]) {
  try {
    f();
    print("no error\n");
  } catch (e) {
    print(e + "\n");
  }
}
print(word.match("abc") + "\n");
foreach (f in [@() word.match(1), @() word.search(), @() regexp(5), @() word.subexpcount(1)]) {
  try {
    f();
    print("no error\n");
  } catch (e) {
    print("error (" + typeof e + ")\n");
  }
}
