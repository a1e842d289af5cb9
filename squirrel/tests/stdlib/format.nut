// format: the printf conversions with flags, width and precision, number
// conversions between integer and float, zeros inside strings, and errors.
print(format("%d|%5d|%-5d|%05d|%+d|% d|%i", 42, 42, 42, 42, 42, 42, -7) + "\n");
print(format("%x %X %o %u %#x %08X", 255, 255, 8, 7, 255, 48879) + "\n");
print(format("%x %u %d", -1, -1, -2147483647 - 1) + "\n");
print(format("%c%c%c", 72, 105, 33) + "\n");
print(format("[%s|%6s|%-6s|%.2s|%6.2s|%s]", "abc", "abc", "abc", "abc", "abc", "") + "\n");
print(format("%f|%.2f|%8.3f|%-8.1f|%e|%.3E|%g|%g|", 1.5, 3.14159, 2.5, 2.75, 12345.678, 0.5, 0.0001,
             100000000.0) + "\n");
print(format("%d %d %.1f %s", 3.9, -3.9, 2, "x") + "\n");
print(format("100%% %s", "done") + " " + format("no conversions") + " " + format("%d", 1, 2) + "\n");
print(format("%s", "a\0b").len() + " " + format("x\0%d", 5).len() + "\n");
print(format("%3s|%-3s|", "long text", "ab") + "\n");

local bad = [
  @() format("%d"), @() format("%d", "x"), @() format("%s", 1), @() format("%f", "x"),
  @() format("%q", 1), @() format("%", 1), @() format("%5", 1), @() format("%1234d", 1),
  @() format("%.1234f", 1.0), @() format("%d %d", 1), @() format("%c", null),
];
foreach (f in bad) {
  try {
    print(f() + "\n");
  } catch (e) {
    print(e + "\n");
  }
}
foreach (f in [@() format(), @() format(5)]) {
  try {
    f();
    print("no error\n");
  } catch (e) {
    print("error (" + typeof e + ")\n");
  }
}
