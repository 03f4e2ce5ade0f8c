-- Run by check_nvim.sh inside `nvim --headless`: the plugin sets the file type for the extensions
-- it is given, and starts the server with the settings as the server reads them. The LSP client's
-- start and its running clients are replaced by recorders; the server itself is tested elsewhere.
local work = assert(os.getenv('WORK'))
local failures = {}
local function expect(what, got, want)
  if got ~= want then
    table.insert(failures, ('%s: %s, expected %s'):format(what, vim.inspect(got), vim.inspect(want)))
  end
end

-- The settings as they go out (an empty table of defines must be sent as an object).
local function encode(settings)
  return ('defines=%s warnings=%s'):format(vim.json.encode(settings.defines), vim.json.encode(settings.warnings))
end

local started = {}
local function record(config)
  table.insert(started, { cmd = table.concat(config.cmd, ' '), init = encode(config.init_options) })
  return #started
end
vim.lsp.start = vim.lsp.start and function(config)
  return record(config)
end
vim.lsp.start_client = record
vim.lsp.buf_attach_client = function() end
local notified = {}
vim.lsp.get_active_clients = function()
  return {
    {
      name = 'vorpex',
      config = {},
      notify = function(method, params)
        table.insert(notified, method .. ' ' .. encode(params.settings))
      end,
    },
  }
end

local vorpex = require('vorpex')
-- options given to setup, the file opened, its type, the server started for it (or none)
local rows = {
  { nil, 'a.vbas', 'vorpex', 'vorpex-lsp defines={} warnings=true' },
  { nil, 'b.bas', nil, nil },
  {
    { extensions = { 'vbas', 'bas' }, cmd = '/opt/bin/vorpex-lsp', defines = { LEDS = 8 }, warnings = false },
    'c.bas',
    'vorpex',
    '/opt/bin/vorpex-lsp defines={"LEDS":"8"} warnings=false',
  },
}
for _, row in ipairs(rows) do
  local options, file, filetype, server = row[1], row[2], row[3], row[4]
  started = {}
  vorpex.setup(options)
  vim.cmd('edit ' .. vim.fn.fnameescape(work .. '/' .. file))
  if filetype then
    expect(file .. ': file type', vim.bo.filetype, filetype)
    expect(file .. ': comment string', vim.bo.commentstring, "' %s")
  else
    expect(file .. ': file type is not vorpex', vim.bo.filetype ~= 'vorpex', true)
  end
  expect(file .. ': server started', started[1] and (started[1].cmd .. ' ' .. started[1].init), server)
  vim.cmd('bwipeout!')
end

vorpex.configure({ defines = { PAUSE = '250' } })
expect('configure notifies', notified[1], 'workspace/didChangeConfiguration defines={"PAUSE":"250"} warnings=false')

if #failures > 0 then
  io.stderr:write(table.concat(failures, '\n') .. '\n')
  vim.cmd('cquit 1')
end
io.stdout:write(('the Neovim plugin: %d files checked\n'):format(#rows))
vim.cmd('qall!')
