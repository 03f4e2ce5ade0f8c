# Runs nvim_test.lua in a headless Neovim: cmake -DNVIM=... -DSERVER=... -DEXAMPLE=... -DPLUGIN=...
# -DWORK=... -P run_nvim.cmake (PLUGIN: the folder of the Neovim plugin). Without Neovim the test is skipped, and says why.
if(NOT NVIM)
  message("nvim not found (apt-get install neovim): Neovim's client is not tried")
  return()
endif()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(ENV{VORPEX_LSP} "${SERVER}")
set(ENV{VORPEX_EXAMPLE} "${EXAMPLE}")
set(ENV{VORPEX_PLUGIN} "${PLUGIN}")
set(ENV{VORPEX_WORK} "${WORK}")
set(ENV{HOME} "${WORK}")  # no user configuration, no state left behind
set(ENV{XDG_STATE_HOME} "${WORK}/state")
set(ENV{XDG_CACHE_HOME} "${WORK}/cache")
execute_process(COMMAND "${NVIM}" --headless -u NONE -i NONE
                        -c "luafile ${CMAKE_CURRENT_LIST_DIR}/nvim_test.lua"
                RESULT_VARIABLE status TIMEOUT 120)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Neovim's session with vorpex-lsp failed (${status})")
endif()
message("Neovim's session with vorpex-lsp passed")
