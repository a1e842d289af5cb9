// Inserting integer and string keys into a table, then looking them up.
local n = 200000;
local t = {};
for (local i = 0; i < n; i++) t[i * 16 + 3] <- i;
local names = [];
for (local i = 0; i < 100; i++) names.append("key" + i);
local s = {};
for (local i = 0; i < 100; i++) s[names[i]] <- i + 1;
local sum = 0;
for (local pass = 0; pass < 20; pass++) {
  for (local i = 0; i < n; i++) {
    local k = ((i * 7 + pass) % n) * 16 + 3;
    sum = (sum + t[k]) % 1000000007;
    sum = sum + s[names[i % 100]];
  }
}
print(sum + "\n");
