-- Appending to an array, then reading it in a scattered order.
local n = 1000000
local a = {}
for i = 0, n - 1 do a[#a + 1] = (i * 3) % 1000 end
local sum = 0
for pass = 1, 8 do
  local idx = pass
  for i = 0, n - 1 do
    idx = (idx + 7919) % n
    sum = (sum + a[idx + 1]) % 1000000007
  end
end
print(#a, sum)
