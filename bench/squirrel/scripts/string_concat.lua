-- Short concatenations with number conversion, and a growing string.
local total = 0
local acc = ""
for i = 0, 799999 do
  local s = "item" .. i .. "/" .. (i % 7)
  total = total + #s
  acc = acc .. "ab"
  if #acc > 2000 then acc = "" end
end
print(total + #acc)
