-- Sorting pseudo-random integers with a script comparator.
local n = 200000
local a = {}
local x = 12345
for i = 1, n do
  x = (x * 1103515245 + 12345) & 0x7fffffff
  a[i] = x % 1000000
end
table.sort(a, function(p, q) return p < q end)
local check = 0
for i = 1, n do check = (check * 31 + a[i]) % 65521 end
print(a[1], a[n // 2 + 1], a[n], check)
