// Float arithmetic on values that stay exact in 32 bits, so that both
// languages agree on the result.
local acc = 0.0;
for (local i = 0; i < 8000000; i++) {
  local x = (i % 1024) * 0.125;
  local y = x * x * 0.0625;
  acc = acc + y - x * 1.5;
  if (acc >= 4096.0) acc = acc - 4096.0;
  if (acc < 0.0) acc = acc + 4096.0;
}
print((acc * 128.0).tointeger() + "\n");
