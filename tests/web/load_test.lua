-- wrk script for load_test.sh: small runs with random parameters. Each thread
-- drives one connection without pipelining, so every response answers the
-- request this thread made last, and the report can be checked against it.

local threads = {}

function setup(thread)
  thread:set("number", #threads + 1)
  table.insert(threads, thread)
end

function init(args)
  math.randomseed(number * 7919 + os.time())
  ok, busy, other, mismatch = 0, 0, 0, 0
end

function request()
  sides = math.random(3, 12)
  trials = 1000 + 100 * math.random(0, 9)
  seed = math.random(1, 1000000)
  return wrk.format("GET", string.format(
    "/api/run?sides=%d&radius=1&trials=%d&seed=%d&classes=0&show=0", sides, trials, seed),
    {["X-Real-IP"] = string.format("10.0.%d.1", number)})
end

local function matches(body)
  local sides_line = string.format(" .Sides,%s%8d    | (sides of polygom)\n", string.rep(" ", 21), sides)
  local trials_part = string.format("| = %d; seed, %d\n", trials, seed)
  return body:find(sides_line, 1, true) ~= nil
     and body:find(trials_part, 1, true) ~= nil
     and body:find(" Mode x, y,", 1, true) ~= nil
     and body:find("\nchart: /runs/%x+/gnu%.png\n$") ~= nil
end

function response(status, headers, body)
  if status == 200 then
    ok = ok + 1
    if not matches(body) then
      mismatch = mismatch + 1
      if mismatch <= 3 then io.stderr:write("mismatch:\n" .. body .. "\n") end
    end
  elseif status == 503 then
    busy = busy + 1
  else
    other = other + 1
    if other <= 3 then io.stderr:write("status " .. status .. ":\n" .. body .. "\n") end
  end
end

function done(summary, latency, requests)
  local totals = {ok = 0, busy = 0, other = 0, mismatch = 0}
  for _, thread in ipairs(threads) do
    for name in pairs(totals) do totals[name] = totals[name] + thread:get(name) end
  end
  local e = summary.errors
  print(string.format("load: answered %d in %.1f s: 200 %d, 503 %d, other %d, mismatched reports %d",
    summary.requests, summary.duration / 1e6, totals.ok, totals.busy, totals.other, totals.mismatch))
  print(string.format("load: socket errors connect %d read %d write %d timeout %d",
    e.connect, e.read, e.write, e.timeout))
  print(string.format("load: runs per second %.1f; latency of all answers: mean %.0f ms, p50 %.0f ms, p99 %.0f ms, max %.0f ms",
    totals.ok / (summary.duration / 1e6), latency.mean / 1000, latency:percentile(50) / 1000,
    latency:percentile(99) / 1000, latency.max / 1000))
end
