-- Neovim's own LSP client drives vorpex-lsp: run by
--   nvim --headless -u NONE -i NONE -c "luafile nvim_test.lua"
-- with VORPEX_LSP (the server), VORPEX_EXAMPLE (a source to open), VORPEX_PLUGIN (the Neovim
-- plugin, whose renumbering commands are tried) and VORPEX_WORK (a directory for files of its own)
-- in the environment. Exits with status 0 when every check holds.
local server = os.getenv('VORPEX_LSP')
local example = os.getenv('VORPEX_EXAMPLE')
local work = os.getenv('VORPEX_WORK')
local plugin = os.getenv('VORPEX_PLUGIN')
local published = {}

local function check(condition, what)
  if not condition then error('check failed: ' .. what, 2) end
end

local function run()
  vim.lsp.handlers['textDocument/publishDiagnostics'] = function(err, result, ctx, config)
    published[result.uri] = (published[result.uri] or 0) + 1
    return vim.lsp.diagnostic.on_publish_diagnostics(err, result, ctx, config)
  end
  local client = vim.lsp.start_client({
    name = 'vorpex', cmd = { server }, root_dir = work,
    init_options = { defines = { Lives = '3' } },
  })
  check(client ~= nil, 'the server starts')

  -- Opens `path`, attaches the client and waits for the first diagnostics.
  local function open(path)
    vim.cmd('edit ' .. vim.fn.fnameescape(path))
    local buffer = vim.api.nvim_get_current_buf()
    vim.lsp.buf_attach_client(buffer, client)
    local uri = vim.uri_from_bufnr(buffer)
    check(vim.wait(10000, function() return published[uri] ~= nil end, 20), 'diagnostics for ' .. path)
    return buffer, uri
  end
  -- The 0-based place of the first `text` at or after line `from` (0-based).
  local function find(buffer, text, from)
    for line, content in ipairs(vim.api.nvim_buf_get_lines(buffer, from or 0, -1, false)) do
      local column = content:find(text, 1, true)
      if column then return { line = line - 1 + (from or 0), character = column - 1 } end
    end
    error('not found: ' .. text)
  end
  local function request(buffer, method, params)
    local replies = vim.lsp.buf_request_sync(buffer, method, params, 10000)
    check(replies and replies[client], method .. ' answered')
    -- Neovim 0.7 names the error `error`, later ones `err`.
    local failure = replies[client].err or replies[client].error
    check(failure == nil, method .. ': ' .. vim.inspect(failure))
    return replies[client].result
  end

  local buffer, uri = open(example)
  local document = { uri = uri }
  check(#vim.diagnostic.get(buffer) == 0, 'the example has no problem')
  local use = find(buffer, 'OPTQUIT')
  local hover = request(buffer, 'textDocument/hover', { textDocument = document, position = use })
  check(hover.contents.value:find('**OPTQUIT** = `4`', 1, true), 'hover: ' .. hover.contents.value)
  local definition = request(buffer, 'textDocument/definition', { textDocument = document, position = use })
  check(definition.range.start.line == find(buffer, 'DEFINE OptQuit').line, 'definition of a name')
  local references = request(buffer, 'textDocument/references',
    { textDocument = document, position = use, context = { includeDeclaration = true } })
  check(#references == 3, 'references: ' .. #references)
  local jump = find(buffer, 'goto 100')
  jump.character = jump.character + 6
  local target = request(buffer, 'textDocument/definition', { textDocument = document, position = jump })
  check(target.range.start.line == find(buffer, '100').line, 'definition of a line number')

  local edit = request(buffer, 'textDocument/rename',
    { textDocument = document, position = use, newName = 'QuitKey' })
  local before = published[uri]
  vim.lsp.util.apply_workspace_edit(edit, 'utf-16')
  local text = table.concat(vim.api.nvim_buf_get_lines(buffer, 0, -1, false), '\n')
  local _, renamed = text:gsub('QuitKey', '')
  check(renamed == 3 and not text:lower():find('optquit'), 'rename: ' .. renamed)
  check(vim.wait(10000, function() return published[uri] > before end, 20), 'diagnostics after the edit')
  check(#vim.diagnostic.get(buffer) == 0, 'no problem after the rename')
  local refused = vim.lsp.buf_request_sync(buffer, 'textDocument/rename',
    { textDocument = document, position = find(buffer, 'QuitKey'), newName = 'two words' }, 10000)
  local failure = refused[client].err or refused[client].error
  check(failure and failure.message:find('holds a blank', 1, true), 'a rename to two words is refused')

  -- A file of its own with two problems, and a name from the settings.
  local path = work .. '/problems.bas'
  vim.fn.writefile({ '10 PRINT"Hi";LIVES', '20 GOTO 99' }, path)
  local problems = open(path)
  local codes = {}
  for _, d in ipairs(vim.diagnostic.get(problems)) do table.insert(codes, d.code) end
  table.sort(codes)
  check(table.concat(codes, ' ') == 'missing-line-target quote-in-word', 'codes: ' .. table.concat(codes, ' '))
  hover = request(problems, 'textDocument/hover',
    { textDocument = { uri = vim.uri_from_bufnr(problems) }, position = find(problems, 'LIVES') })
  check(hover.contents.value:find('Defined in the settings', 1, true), 'hover on a setting')

  -- The quick fix of the quote inside a word, applied: the warning goes, the other stays.
  local problems_uri = vim.uri_from_bufnr(problems)
  local quote
  for _, d in ipairs(vim.diagnostic.get(problems)) do
    if d.code == 'quote-in-word' then quote = d end
  end
  local quote_range = {
    start = { line = quote.lnum, character = quote.col },
    ['end'] = { line = quote.end_lnum, character = quote.end_col },
  }
  local actions = request(problems, 'textDocument/codeAction', {
    textDocument = { uri = problems_uri },
    range = quote_range,
    context = { diagnostics = { {
      range = quote_range, severity = quote.severity, code = quote.code,
      source = quote.source, message = quote.message,
    } } },
  })
  local fix
  for _, action in ipairs(actions or {}) do
    if action.title == 'Insert a blank before the quote' then fix = action end
  end
  check(fix and fix.kind == 'quickfix' and fix.edit, 'the quick fix is offered: ' .. vim.inspect(actions))
  before = published[problems_uri]
  vim.lsp.util.apply_workspace_edit(fix.edit, 'utf-16')
  check(vim.api.nvim_buf_get_lines(problems, 0, 1, false)[1] == '10 PRINT "Hi";LIVES',
    'the fix inserts the blank: ' .. vim.api.nvim_buf_get_lines(problems, 0, 1, false)[1])
  check(vim.wait(10000, function() return published[problems_uri] > before end, 20), 'diagnostics after the fix')
  codes = {}
  for _, d in ipairs(vim.diagnostic.get(problems)) do table.insert(codes, d.code) end
  check(table.concat(codes, ' ') == 'missing-line-target', 'codes after the fix: ' .. table.concat(codes, ' '))

  -- Completion after a jump offers the lines of the document: each line number, as a reference,
  -- with its line's text. The cursor stands at the end of each of these lines.
  local jumps = { '30 GOSUB ', '40 ON X GOTO 10, ', '50 IF X THEN ', '60 GO TO ' }
  vim.api.nvim_buf_set_lines(problems, -1, -1, false, jumps)
  local lines = vim.api.nvim_buf_get_lines(problems, 0, -1, false)
  for _, text in ipairs(jumps) do
    local at = find(problems, text)
    local result = request(problems, 'textDocument/completion', {
      textDocument = { uri = problems_uri },
      position = { line = at.line, character = #text },
    })
    local items = result and (result.items or result) or {}
    local offered = {}
    for _, item in ipairs(items) do
      if item.kind == 18 then offered[item.label] = item.detail end
    end
    for _, line in ipairs(lines) do
      local number = line:match('^(%d+)')
      check(offered[number] == line, ("after '%s': line %s offered as %s"):format(text, number, vim.inspect(offered[number])))
    end
  end
end

-- The plugin's :VorpexRenumber and :VorpexMoveLines, through the server's commands: the buffer
-- is renumbered with every jump, one undo takes it back, a move takes the lines' text with it,
-- and a refusal leaves the buffer as it was and says why.
local function renumber()
  vim.opt.runtimepath:prepend(plugin)
  local vorpex = require('vorpex')
  vorpex.setup({ cmd = { server } })
  local path = work .. '/renumber.vbas'
  vim.fn.writefile({ '10 PRINT "A"', "' note", '20 GOTO 10', '30 IF X THEN 20 ELSE 10', '40 ON X GOSUB 10, 20, 30' }, path)
  vim.cmd('edit ' .. vim.fn.fnameescape(path))
  local buffer = vim.api.nvim_get_current_buf()
  -- Started by the plugin for the file type, and by hand again: one server for the folder.
  vorpex.start(buffer)
  local uri = vim.uri_from_bufnr(buffer)
  check(vim.wait(10000, function() return published[uri] ~= nil end, 20), 'diagnostics for ' .. path)
  check(vim.bo.filetype == 'vorpex', 'the file type: ' .. vim.bo.filetype)
  check(vim.tbl_count(vim.lsp.buf_get_clients(buffer)) == 1, 'one client: ' .. vim.tbl_count(vim.lsp.buf_get_clients(buffer)))
  local notices = {}
  vim.notify = function(message) table.insert(notices, message) end
  local function lines() return vim.api.nvim_buf_get_lines(buffer, 0, -1, false) end
  local function becomes(command, expected)
    local before = table.concat(lines(), '\n')
    vim.cmd(command)
    local want = table.concat(expected, '\n')
    vim.wait(10000, function() return table.concat(lines(), '\n') ~= before end, 20)
    check(table.concat(lines(), '\n') == want, command .. ': ' .. vim.inspect(lines()))
  end
  local original = lines()
  local renumbered = { '100 PRINT "A"', "' note", '110 GOTO 100', '120 IF X THEN 110 ELSE 100', '130 ON X GOSUB 100, 110, 120' }
  becomes('VorpexRenumber 100', renumbered)
  vim.cmd('undo')
  check(table.concat(lines(), '\n') == table.concat(original, '\n'), 'one undo: ' .. vim.inspect(lines()))
  becomes('VorpexRenumber 100', renumbered)
  becomes('3,4VorpexRenumber 111 2', { '100 PRINT "A"', "' note", '111 GOTO 100', '113 IF X THEN 111 ELSE 100', '130 ON X GOSUB 100, 111, 113' })
  becomes('5VorpexMoveLines 0', { '10 ON X GOSUB 100, 111, 113', '100 PRINT "A"', "' note", '111 GOTO 100', '113 IF X THEN 111 ELSE 100' })
  local before = lines()
  notices = {}
  vim.cmd('2,4VorpexRenumber 5 1')
  check(vim.wait(10000, function() return #notices > 0 end, 20), 'a refusal is said')
  check(notices[1]:find('^vorpex: cannot renumber: ') ~= nil, 'the refusal: ' .. notices[1])
  check(table.concat(lines(), '\n') == table.concat(before, '\n'), 'a refusal changes nothing')
end

local ok, message = pcall(run)
if ok then
  ok, message = pcall(renumber)
end
if ok then
  vim.cmd('qall!')
else
  io.stderr:write(tostring(message) .. '\n')
  vim.cmd('cquit 1')
end
