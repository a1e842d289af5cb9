// Appending to an array, then reading it in a scattered order.
local n = 1000000;
local a = [];
for (local i = 0; i < n; i++) a.append((i * 3) % 1000);
local sum = 0;
for (local pass = 1; pass <= 8; pass++) {
  local idx = pass;
  for (local i = 0; i < n; i++) {
    idx = (idx + 7919) % n;
    sum = (sum + a[idx]) % 1000000007;
  }
}
print(a.len() + "\t" + sum + "\n");
