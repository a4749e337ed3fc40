local function mixed(n)
  local d = {}
  for i = 0, 99 do d["k" .. i] = i * 2 end
  local total = 0
  for i = 1, n do
    total = total + (i % 7) * 3 - i // 5 + 1.5
    local s = "item" .. (i % 10)
    local key = "k" .. (i % 100)
    if d[key] ~= nil then total = total + d[key] end
    if #s > 5 then total = total - 1 end
  end
  return total
end
local r = mixed(1000000)
