-- Method calls on objects (a metatable standing in for the class).
local Vec = {}
Vec.__index = Vec
function Vec.new(x, y) return setmetatable({x = x, y = y}, Vec) end
function Vec:move(dx, dy) self.x = self.x + dx; self.y = self.y + dy end
function Vec:sum() return self.x + self.y end
local v = Vec.new(1, 2)
local acc = 0
for i = 0, 2999999 do
  v:move(1, -1)
  acc = (acc + v:sum() + i) % 1000000007
end
print(acc, v.x, v.y)
