-- Inserting integer and string keys into a table, then looking them up.
local n = 200000
local t = {}
for i = 0, n - 1 do t[i * 16 + 3] = i end
local names = {}
for i = 0, 99 do names[i + 1] = "key" .. i end
local s = {}
for i = 1, 100 do s[names[i]] = i end
local sum = 0
for pass = 0, 19 do
  for i = 0, n - 1 do
    local k = ((i * 7 + pass) % n) * 16 + 3
    sum = (sum + t[k]) % 1000000007
    sum = sum + s[names[i % 100 + 1]]
  end
end
print(sum)
