-- vorpex BASIC in Neovim: the file type `vorpex` for the sources, and the vorpex-lsp language
-- server started by Neovim's own LSP client for every buffer of that type.
--
--   require('vorpex').setup({
--     cmd = { 'vorpex-lsp' },          -- the server, on the PATH or a full path
--     extensions = { 'vbas', 'bas' },  -- file extensions that are vorpex sources
--     defines = { LEDS = '8' },        -- constants defined before the first line (vorpex -D)
--     warnings = true,                 -- false reports errors only (vorpex -w)
--     largest_line = 9999,             -- the largest number a renumbering may give (none by default)
--     leave_computed_jumps = false,    -- renumber past GOTO X, leaving it as it is
--   })
--
-- Works with Neovim 0.7 and later (vim.lsp.start where it exists, start_client before it).
local M = {}

M.defaults = {
  cmd = { 'vorpex-lsp' },
  extensions = { 'vbas' },
  defines = {},
  warnings = true,
  largest_line = nil,
  leave_computed_jumps = false,
}

local options = vim.deepcopy(M.defaults)

-- The server's settings, as it reads them from initializationOptions and
-- workspace/didChangeConfiguration: { defines = { NAME = 'VALUE' }, warnings = true,
-- largestLineNumber = N or null }.
function M.settings()
  local defines = vim.empty_dict()
  for name, value in pairs(options.defines or {}) do
    if type(name) == 'string' and (type(value) == 'string' or type(value) == 'number') then
      defines[name] = tostring(value)
    end
  end
  local largest = tonumber(options.largest_line)
  if largest == nil or largest < 1 or largest ~= math.floor(largest) then
    largest = vim.NIL
  end
  return { defines = defines, warnings = options.warnings ~= false, largestLineNumber = largest }
end

-- The folder of the project: the nearest one above the file that holds .git, else the file's own.
local function root_of(file)
  local dir = vim.fn.fnamemodify(file, ':p:h')
  local git = vim.fn.finddir('.git', dir .. ';')
  if git == '' then
    git = vim.fn.findfile('.git', dir .. ';')
  end
  return git ~= '' and vim.fn.fnamemodify(git, ':p:h:h') or dir
end

-- The notes of a diagnostic come as its related information, which Neovim keeps but does not show
-- (its float and virtual text show the message): each is put under the message, with its line.
function M.with_notes(result)
  for _, d in ipairs(type(result) == 'table' and result.diagnostics or {}) do
    local lines = { d.message }
    for _, note in ipairs(d.relatedInformation or {}) do
      local line = note.location and note.location.range and note.location.range.start.line
      table.insert(lines, ('note: %s%s'):format(note.message, line and (' (line %d)'):format(line + 1) or ''))
    end
    d.message = table.concat(lines, '\n')
  end
  return result
end

-- The notes go on to the handler of every client (looked up at each call, so that the user's own
-- handler, or one set later, is kept).
local function publish_diagnostics(err, result, ctx, config)
  return vim.lsp.handlers['textDocument/publishDiagnostics'](err, M.with_notes(result), ctx, config)
end

-- The client started for each project folder, where vim.lsp.start is missing (Neovim 0.7).
local started = {}

-- Starts the server for a buffer, or attaches the buffer to the one already running there.
function M.start(buf)
  buf = (buf == nil or buf == 0) and vim.api.nvim_get_current_buf() or buf
  local settings = M.settings()
  local config = {
    name = 'vorpex',
    cmd = options.cmd,
    root_dir = root_of(vim.api.nvim_buf_get_name(buf)),
    init_options = settings,
    settings = settings,
    handlers = { ['textDocument/publishDiagnostics'] = publish_diagnostics },
  }
  if vim.lsp.start then
    return vim.lsp.start(config, { bufnr = buf })
  end
  for _, client in pairs(vim.lsp.get_active_clients()) do
    if client.name == config.name and client.config.root_dir == config.root_dir then
      vim.lsp.buf_attach_client(buf, client.id)
      return client.id
    end
  end
  -- A client still starting is not among the active ones: the one started for the folder is
  -- joined, rather than a second server started beside it.
  local starting = started[config.root_dir] and vim.lsp.get_client_by_id(started[config.root_dir])
  if starting and not starting.is_stopped() then
    vim.lsp.buf_attach_client(buf, starting.id)
    return starting.id
  end
  local id = vim.lsp.start_client(config)
  if id then
    started[config.root_dir] = id
    vim.lsp.buf_attach_client(buf, id)
  end
  return id
end

-- The converted output of the current buffer, from the server, in a scratch window beside it.
function M.show_output()
  local buf = vim.api.nvim_get_current_buf()
  local params = { textDocument = { uri = vim.uri_from_bufnr(buf) } }
  vim.lsp.buf_request(buf, 'vorpex/output', params, function(err, result)
    if err or type(result) ~= 'table' or type(result.output) ~= 'string' then
      vim.notify('vorpex: no output: ' .. (err and err.message or 'the server sent none'), vim.log.levels.WARN)
      return
    end
    local text = result.output:gsub('\r\n', '\n'):gsub('\n$', '')
    local lines = vim.split(text, '\n', { plain = true })
    vim.cmd('vnew')
    local out = vim.api.nvim_get_current_buf()
    vim.api.nvim_buf_set_lines(out, 0, -1, false, lines)
    vim.bo[out].buftype = 'nofile'
    vim.bo[out].bufhidden = 'wipe'
    vim.bo[out].modifiable = false
    vim.bo[out].filetype = 'vorpex'
  end)
end

-- The argument of the server's vorpex.renumber and vorpex.moveLines for lines `first` to `last`
-- (from 1) of `buf`, or the whole program when `first` is nil: { uri, range, start, step, after,
-- pastComputed }, the numbers left out where not given so that the server's defaults hold.
function M.renumber_argument(buf, first, last, numbers)
  local argument = { uri = vim.uri_from_bufnr(buf) }
  if first then
    local text = vim.api.nvim_buf_get_lines(buf, last - 1, last, false)[1] or ''
    argument.range = {
      start = { line = first - 1, character = 0 },
      ['end'] = { line = last - 1, character = #text },
    }
  end
  for _, key in ipairs({ 'start', 'step', 'after' }) do
    argument[key] = numbers[key]
  end
  if options.leave_computed_jumps then
    argument.pastComputed = true
  end
  return argument
end

-- A whole number from 0 (from 1 for a step) in `text`, or nil and why not.
local function whole_number(text, what, least)
  local value = text and text:match('^%d+$') and tonumber(text)
  if not value or value < least or value > 2 ^ 53 then
    return nil, ('vorpex: %s must be a whole number from %d, not %s'):format(what, least, vim.inspect(text))
  end
  return value
end

-- Sends `command` with `argument` to the buffer's server, which answers with one edit of the
-- buffer (workspace/applyEdit, applied by Neovim's client) or a refusal, shown as an error.
local function send_renumbering(buf, command, argument)
  local params = { command = command, arguments = { argument } }
  vim.lsp.buf_request(buf, 'workspace/executeCommand', params, function(err, result)
    if err then
      vim.notify('vorpex: ' .. (err.message or tostring(err)), vim.log.levels.ERROR)
      return
    end
    for _, warning in ipairs(type(result) == 'table' and result.warnings or {}) do
      local line = warning.range and warning.range.start and warning.range.start.line
      vim.notify(('vorpex: line %s: %s'):format(line and line + 1 or '?', warning.message), vim.log.levels.WARN)
    end
  end)
end

-- :[range]VorpexRenumber [START [STEP]]: the lines of the range (every line without one)
-- renumbered from START by STEP (10 and 10).
function M.renumber(opts)
  local buf = vim.api.nvim_get_current_buf()
  local words = opts.fargs or {}
  if #words > 2 then
    return vim.notify('vorpex: :VorpexRenumber takes at most START and STEP', vim.log.levels.ERROR)
  end
  local numbers = {}
  for i, key in ipairs({ 'start', 'step' }) do
    if words[i] then
      local value, problem = whole_number(words[i], key, key == 'step' and 1 or 0)
      if not value then
        return vim.notify(problem, vim.log.levels.ERROR)
      end
      numbers[key] = value
    end
  end
  local ranged = (opts.range or 0) > 0
  send_renumbering(buf, 'vorpex.renumber', M.renumber_argument(buf, ranged and opts.line1 or nil, opts.line2, numbers))
end

-- :[range]VorpexMoveLines TARGET [STEP]: the lines of the range (the cursor's line without one)
-- moved to stand after line TARGET (0: before the first line).
function M.move_lines(opts)
  local buf = vim.api.nvim_get_current_buf()
  local words = opts.fargs or {}
  if #words < 1 or #words > 2 then
    return vim.notify('vorpex: :VorpexMoveLines takes TARGET, the line to move after, and maybe STEP', vim.log.levels.ERROR)
  end
  local after, problem = whole_number(words[1], 'the target line', 0)
  local step, step_problem = nil, nil
  if words[2] then
    step, step_problem = whole_number(words[2], 'step', 1)
  end
  if not after or (words[2] and not step) then
    return vim.notify(problem or step_problem, vim.log.levels.ERROR)
  end
  send_renumbering(buf, 'vorpex.moveLines', M.renumber_argument(buf, opts.line1, opts.line2, { after = after, step = step }))
end

-- New defines or warnings for the servers that run, and for those started from now on.
function M.configure(opts)
  for _, key in ipairs({ 'defines', 'warnings', 'largest_line', 'leave_computed_jumps' }) do
    if opts[key] ~= nil then
      options[key] = opts[key]
    end
  end
  local settings = M.settings()
  for _, client in pairs(vim.lsp.get_active_clients()) do
    if client.name == 'vorpex' then
      client.config.settings = settings
      client.notify('workspace/didChangeConfiguration', { settings = settings })
    end
  end
end

local function on_vorpex_buffer(buf)
  if vim.bo[buf].buftype ~= '' then
    return -- an output window, or another buffer that is no file
  end
  vim.bo[buf].commentstring = "' %s"
  -- Completion from the server with CTRL-X CTRL-O, unless the buffer completes otherwise.
  if vim.bo[buf].omnifunc == '' then
    vim.bo[buf].omnifunc = 'v:lua.vim.lsp.omnifunc'
  end
  M.start(buf)
end

function M.setup(opts)
  options = vim.tbl_extend('force', vim.deepcopy(M.defaults), opts or {})
  if type(options.cmd) == 'string' then
    options.cmd = { options.cmd }
  end
  local group = vim.api.nvim_create_augroup('vorpex', { clear = true })
  local patterns, extensions = {}, {}
  for _, extension in ipairs(options.extensions) do
    extensions[extension] = 'vorpex'
    table.insert(patterns, '*.' .. extension)
  end
  if vim.filetype and vim.filetype.add then
    vim.filetype.add({ extension = extensions })
  end
  -- Also for Neovim 0.7, whose Lua detection is off by default; `filetype=` rather than
  -- `setfiletype`, so that an extension such as .bas is taken from the type Neovim gives it.
  vim.api.nvim_create_autocmd({ 'BufRead', 'BufNewFile' }, {
    group = group,
    pattern = patterns,
    command = 'set filetype=vorpex',
  })
  vim.api.nvim_create_autocmd('FileType', {
    group = group,
    pattern = 'vorpex',
    callback = function(args)
      on_vorpex_buffer(args.buf)
    end,
  })
  vim.api.nvim_create_user_command('VorpexOutput', M.show_output, { desc = 'vorpex: show the converted output' })
  vim.api.nvim_create_user_command('VorpexRenumber', M.renumber,
    { desc = 'vorpex: renumber the lines of the range', nargs = '*', range = true })
  vim.api.nvim_create_user_command('VorpexMoveLines', M.move_lines,
    { desc = 'vorpex: move the lines of the range after line TARGET', nargs = '+', range = true })
  -- Buffers of the type that were opened before setup.
  for _, buf in ipairs(vim.api.nvim_list_bufs()) do
    if vim.api.nvim_buf_is_loaded(buf) and vim.bo[buf].filetype == 'vorpex' then
      on_vorpex_buffer(buf)
    end
  end
end

return M
