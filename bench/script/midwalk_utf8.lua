local s = string.rep("\u{E4}", 50000)
local n = 0
for _, c in utf8.codes(s) do
  if c == 228 then n = n + 1 end
end
