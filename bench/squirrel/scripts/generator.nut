// A generator producing values for a foreach loop.
function gen(n) {
  for (local i = 0; i < n; i++) yield i;
}
local sum = 0;
foreach (v in gen(2000000)) sum = (sum + v * 3) % 1000000007;
print(sum + "\n");
