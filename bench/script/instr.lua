local piece = string.rep("x", 994) .. "needle"
local parts = {}
for p = 1, 1048 do parts[p] = piece end
local s = table.concat(parts)
local n = 0
local p = string.find(s, "needle", 1, true)
while p do
  n = n + 1
  p = string.find(s, "needle", p + 1, true)
end
local r = string.gsub(s, "needle", "pin")
