-- Float arithmetic on values that stay exact in 32 bits, so that both
-- languages agree on the result.
local acc = 0.0
for i = 0, 7999999 do
  local x = (i % 1024) * 0.125
  local y = x * x * 0.0625
  acc = acc + y - x * 1.5
  if acc >= 4096.0 then acc = acc - 4096.0 end
  if acc < 0.0 then acc = acc + 4096.0 end
end
print(math.floor(acc * 128.0))
