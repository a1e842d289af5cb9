// strip, lstrip, rstrip and split, with zeros inside strings and argument
// errors.
print("[" + strip("  a b \t\n") + "][" + lstrip("  ab  ") + "][" + rstrip("  ab  ") + "]\n");
print("[" + strip("") + "][" + strip(" \t\r\n\v\f") + "][" + strip("x") + "][" + lstrip("   ") + "]\n");
print(strip(" a\0b ").len() + "\n");

local function show(parts) {
  local s = parts.len() + ":";
  foreach (p in parts) s += "<" + p + ">";
  return s;
}
print(show(split("a,b;c", ",;")) + "\n");
print(show(split("a,,b,", ",")) + "\n");
print(show(split(",,,", ",")) + "\n");
print(show(split("", ",")) + "\n");
print(show(split("abc", "")) + "\n");
print(show(split(" one  two three ", " ")) + "\n");
print(show(split("a\0b", "\0")) + "\n");

foreach (f in [@() strip(1), @() lstrip(), @() rstrip("a", "b"), @() split("a"), @() split("a", 1)]) {
  try {
    f();
    print("no error\n");
  } catch (e) {
    print("error (" + typeof e + ")\n");
  }
}
