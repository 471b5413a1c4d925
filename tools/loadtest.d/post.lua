-- wrk script: each request posts one link and one unlink of a random employee of vendor 2, in the
-- control's form encoding, so that every request is a real write transaction.
local employees = tonumber(os.getenv("KVE_LOAD_EMPLOYEES") or "1000")

local function encode(text)
    return (text:gsub("[^A-Za-z0-9*%-._ ]", function(c)
        return string.format("%%%02X", string.byte(c))
    end):gsub(" ", "+"))
end

local function insert(vendor, employee)
    return "INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,RecordLastUpdated) " ..
               "VALUES (" .. vendor .. "," .. employee .. ",GETDATE()) "
end

local function delete(vendor, employee)
    return "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=" .. vendor ..
               " AND EmployeeID IN(" .. employee .. ")"
end

wrk.method = "POST"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"

local counter = 0

function init(args)
    math.randomseed(os.time() + tonumber(tostring({}):sub(8), 16) % 100000)
end

function request()
    counter = counter + 1
    local linked = math.random(1, employees)
    local unlinked = math.random(1, employees)
    local body = "SQL=" .. encode(insert(2, linked)) .. "&SQL=" .. encode(delete(2, unlinked)) .. "&"
    return wrk.format(nil, nil, nil, body)
end
