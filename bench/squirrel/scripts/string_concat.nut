// Short concatenations with number conversion, and a growing string.
local total = 0;
local acc = "";
for (local i = 0; i < 800000; i++) {
  local s = "item" + i + "/" + (i % 7);
  total = total + s.len();
  acc = acc + "ab";
  if (acc.len() > 2000) acc = "";
}
print((total + acc.len()) + "\n");
