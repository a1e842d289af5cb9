// Sorting pseudo-random integers with a script comparator.
local n = 200000;
local a = [];
local x = 12345;
for (local i = 0; i < n; i++) {
  x = (x * 1103515245 + 12345) & 0x7fffffff;
  a.append(x % 1000000);
}
a.sort(function(p, q) { return p <=> q; });
local check = 0;
for (local i = 0; i < n; i++) check = (check * 31 + a[i]) % 65521;
print(a[0] + "\t" + a[n / 2] + "\t" + a[n - 1] + "\t" + check + "\n");
