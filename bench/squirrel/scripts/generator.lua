-- A generator (coroutine) producing values for a loop.
local function gen(n)
  return coroutine.wrap(function()
    for i = 0, n - 1 do coroutine.yield(i) end
  end)
end
local sum = 0
for v in gen(2000000) do sum = (sum + v * 3) % 1000000007 end
print(sum)
