local function add3(a, b, c) return a + b + c end
local t = 0
for i = 1, 2000000 do t = add3(t, i, 1) - i end
