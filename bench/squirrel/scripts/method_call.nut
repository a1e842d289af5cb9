// Method calls on instances of a class.
class Vec {
  x = 0;
  y = 0;
  constructor(ax, ay) {
    x = ax;
    y = ay;
  }
  function move(dx, dy) {
    x += dx;
    y += dy;
  }
  function sum() {
    return x + y;
  }
}
local v = Vec(1, 2);
local acc = 0;
for (local i = 0; i < 3000000; i++) {
  v.move(1, -1);
  acc = (acc + v.sum() + i) % 1000000007;
}
print(acc + "\t" + v.x + "\t" + v.y + "\n");
