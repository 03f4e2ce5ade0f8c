-- Run by check_nvim.sh inside `nvim --headless`: the plugin sets the file type for the extensions
-- it is given, and starts the server with the settings as the server reads them; its syntax file
-- colours the tokens as vorpex reads them; its help page opens with :help vorpex. The LSP client's
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
  local handlers = config.handlers or {}
  table.insert(started, { cmd = table.concat(config.cmd, ' '), init = encode(config.init_options),
    notes = handlers['textDocument/publishDiagnostics'] ~= nil })
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
    expect(file .. ': completion', vim.bo.omnifunc, 'v:lua.vim.lsp.omnifunc')
  else
    expect(file .. ': file type is not vorpex', vim.bo.filetype ~= 'vorpex', true)
  end
  expect(file .. ': server started', started[1] and (started[1].cmd .. ' ' .. started[1].init), server)
  if server then
    expect(file .. ': the notes are shown', started[1] and started[1].notes, true)
  end
  vim.cmd('bwipeout!')
end

-- The notes of a diagnostic, sent as related information, are shown under its message.
local published = vorpex.with_notes({
  uri = 'file:///x.vbas',
  diagnostics = {
    {
      message = 'double quote inside a word',
      relatedInformation = {
        { message = 'the quote meant to close the string opens one', location = { uri = 'file:///x.vbas', range = { start = { line = 4, character = 0 } } } },
      },
    },
    { message = 'no notes' },
  },
})
expect('a note under its message', published.diagnostics[1].message,
  'double quote inside a word\nnote: the quote meant to close the string opens one (line 5)')
expect('a message without notes', published.diagnostics[2].message, 'no notes')

vorpex.configure({ defines = { PAUSE = '250' } })
expect('configure notifies', notified[1], 'workspace/didChangeConfiguration defines={"PAUSE":"250"} warnings=false')

-- :VorpexRenumber and :VorpexMoveLines: the command sent to the buffer's server, with the lines of
-- the range (none: the whole program) and the numbers typed; the server's refusal is shown.
local requests, notices = {}, {}
local answer = nil -- the error the recorded server answers with
vim.lsp.buf_request = function(_, method, params, handler)
  table.insert(requests, vim.inspect({ method, params.command, params.arguments }))
  handler(answer, answer == nil and { edits = 1, warnings = {} } or nil)
end
local notify = vim.notify
vim.notify = function(message)
  table.insert(notices, message)
end
vorpex.setup({ leave_computed_jumps = true, largest_line = 9999 })
expect('the largest line number reaches the server', vorpex.settings().largestLineNumber, 9999)
vim.cmd('edit ' .. vim.fn.fnameescape(work .. '/renumber.vbas'))
vim.api.nvim_buf_set_lines(0, 0, -1, false, { '10 PRINT 1', "' note", '20 GOTO 10', '30 END' })
local uri = vim.uri_from_bufnr(0)
local function range(first, last, length)
  return { start = { line = first, character = 0 }, ['end'] = { line = last, character = length } }
end
local function sent(command, argument)
  argument.uri, argument.pastComputed = uri, true
  return vim.inspect({ 'workspace/executeCommand', command, { argument } })
end
-- the command typed, the request sent (nil: none), the message shown (nil: none)
local command_rows = {
  { 'VorpexRenumber', sent('vorpex.renumber', {}) },
  { 'VorpexRenumber 100 5', sent('vorpex.renumber', { start = 100, step = 5 }) },
  { '2,3VorpexRenumber 1', sent('vorpex.renumber', { range = range(1, 2, 10), start = 1 }) },
  { '3,4VorpexMoveLines 0', sent('vorpex.moveLines', { range = range(2, 3, 6), after = 0 }) },
  { '3VorpexMoveLines 30 1', sent('vorpex.moveLines', { range = range(2, 2, 10), after = 30, step = 1 }) },
  { 'VorpexRenumber 10 0', nil, 'vorpex: step must be a whole number from 1, not "0"' },
  { 'VorpexRenumber ten', nil, 'vorpex: start must be a whole number from 0, not "ten"' },
  { 'VorpexRenumber 1 2 3', nil, 'vorpex: :VorpexRenumber takes at most START and STEP' },
  { 'VorpexMoveLines -1', nil, 'vorpex: the target line must be a whole number from 0, not "-1"' },
}
for _, row in ipairs(command_rows) do
  requests, notices = {}, {}
  vim.cmd(row[1])
  expect(':' .. row[1] .. ' sends', requests[1], row[2])
  expect(':' .. row[1] .. ' says', notices[1], row[3])
end
answer = { code = -32803, message = 'cannot renumber: line 20 is taken by a line outside the range' }
notices = {}
vim.cmd('VorpexRenumber')
expect('a refusal is shown', notices[1], 'vorpex: cannot renumber: line 20 is taken by a line outside the range')
vim.notify = notify
vim.cmd('bwipeout!')

-- Colours without the server: the syntax file's group under every character of a token of the
-- fixture that the VS Code grammar is tested on (line from 1, the token's text, its group).
vim.fn.writefile(vim.fn.readfile(assert(os.getenv('FIXTURE'))), work .. '/tokens.vbas')
vim.cmd('edit ' .. vim.fn.fnameescape(work .. '/tokens.vbas'))
expect('syntax of a .vbas file', vim.b.current_syntax, 'vorpex')
local syntax_rows = {
  { 1, 'REM a whole-line comment', 'vorpexRem' },
  { 2, 'remark', 'vorpexWord' },
  { 3, 'PRINT', 'vorpexStatementWord' },
  { 3, 'REM note', 'vorpexRem' },
  { 4, 'REM"A"', 'vorpexWord' },
  { 4, 'REMX', 'vorpexWord' },
  { 5, "' apostrophe comment", 'vorpexComment' },
  { 6, '"it\'s fine"', 'vorpexString' },
  { 6, "' note", 'vorpexComment' },
  { 7, 'DON', 'vorpexWord' },
  { 7, "'T", 'vorpexComment' },
  { 8, 'print"Hi', 'vorpexWord' },
  { 8, 'there"', 'vorpexWord' },
  { 10, '"abc', 'vorpexString' },
  { 11, 'DEFINE', 'vorpexDefine' },
  { 11, 'MaxSpeed', 'vorpexDefineName' },
  { 11, '=', 'vorpexDefineEquals' },
  { 11, '100', 'vorpexDefineValue' },
  { 11, ' ignored after the value', 'vorpexDefineIgnored' },
  { 12, 'define', 'vorpexDefine' },
  { 12, 'out', 'vorpexDefineName' },
  { 12, 'print', 'vorpexDefineValue' },
  { 13, 'DEFINE', 'vorpexDefine' },
  { 13, 'X', 'vorpexWord' },
  { 13, '5', 'vorpexNumber' },
  { 14, '10', 'vorpexLineNumber' },
  { 15, '20', 'vorpexLineNumber' },
  { 16, 'GOTO', 'vorpexJump' },
  { 16, '10', 'vorpexJumpTarget' },
  { 17, 'ON', 'vorpexControlWord' },
  { 17, 'GOSUB', 'vorpexJump' },
  { 17, '100', 'vorpexJumpTarget' },
  { 17, '200', 'vorpexJumpTarget' },
  { 17, '300', 'vorpexJumpTarget' },
  { 18, '>', 'vorpexSymbol' },
  { 18, '10', 'vorpexNumber' },
  { 18, 'THEN', 'vorpexJump' },
  { 18, '100', 'vorpexJumpTarget' },
  { 18, '200', 'vorpexJumpTarget' },
  { 19, '500', 'vorpexJumpTarget' },
  { 20, '0x1F', 'vorpexNumber' },
  { 20, '1.5', 'vorpexNumber' },
  { 21, 'A$', 'vorpexWord' },
  { 21, 'B.C:', 'vorpexWord' },
  { 22, ':', 'vorpexInvalid' },
  { 23, '*', 'vorpexSymbol' },
  { 24, 'CHR$', 'vorpexFunctionWord' },
  { 24, 'LEFT$', 'vorpexFunctionWord' },
  { 24, 'A$', 'vorpexWord' },
  { 25, 'POKE', 'vorpexStatementWord' },
  { 25, 'PEEKS', 'vorpexWord' },
  { 25, 'INT', 'vorpexFunctionWord' },
  { 25, 'MOD', 'vorpexOperatorWord' },
  { 26, 'randomize', 'vorpexStatementWord' },
  { 26, 'Delay', 'vorpexStatementWord' },
  { 26, 'STR$X', 'vorpexWord' },
  { 27, 'GO SUB', 'vorpexJump' },
  { 27, '640:GOSUB', 'vorpexJumpTarget' },
  { 27, '690', 'vorpexNumber' },
  { 27, '700', 'vorpexNumber' },
}
for _, row in ipairs(syntax_rows) do
  local line, text, group = row[1], row[2], row[3]
  local start = vim.fn.getline(line):find(text, 1, true)
  if not start then
    expect(('line %d: %s'):format(line, text), 'no such text', group)
  else
    for column = start, start + #text - 1 do
      local got = vim.fn.synIDattr(vim.fn.synID(line, column, 1), 'name')
      if got ~= group then
        expect(('line %d, %s, column %d'):format(line, text, column), got, group)
        break
      end
    end
  end
end
vim.cmd('bwipeout!')

-- :help vorpex, with the tags that helptags makes of a copy of the plugin's doc folder, and every
-- link of the page leads somewhere.
local plugin = assert(os.getenv('PLUGIN'))
vim.fn.mkdir(work .. '/help/doc', 'p')
local page = vim.fn.readfile(plugin .. '/doc/vorpex.txt')
vim.fn.writefile(page, work .. '/help/doc/vorpex.txt')
vim.opt.runtimepath:prepend(work .. '/help')
vim.cmd('helptags ' .. vim.fn.fnameescape(work .. '/help/doc'))
vim.cmd('help vorpex')
expect(':help vorpex opens', vim.fn.fnamemodify(vim.api.nvim_buf_get_name(0), ':t'), 'vorpex.txt')
expect(':help vorpex at its tag', vim.fn.getline('.'):find('*vorpex*', 1, true) ~= nil, true)
local links = {}
for _, text in ipairs(page) do
  for link in text:gmatch('|([^|%s]+)|') do
    links[link] = true
  end
end
for link in pairs(links) do
  local ok, err = pcall(vim.cmd, 'help ' .. link)
  expect(':help ' .. link, ok or err, true)
end
vim.cmd('helpclose')

if #failures > 0 then
  io.stderr:write(table.concat(failures, '\n') .. '\n')
  vim.cmd('cquit 1')
end
io.stdout:write(('the Neovim plugin: %d files, %d coloured tokens and the help page checked\n'):format(#rows, #syntax_rows))
vim.cmd('qall!')
