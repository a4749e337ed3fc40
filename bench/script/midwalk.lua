local s = string.rep("a", 50000)
local n = 0
for i = 1, #s do
  local c = string.sub(s, i, i)
  if string.byte(c) == 97 then n = n + 1 end
end
