REM ---- Main menu ----
DEFINE OptQuit = 4
DEFINE show = print

100
  cls
  show "1) New game"
  show "2) Load game"
  show "3) Options"
  show "4) Quit"
  input "Choice"; c
  if c < 1 or c > OPTQUIT then goto 100   ' ask again
  if c = OptQuit then end
  on c gosub 200, 300, 400
  goto 100

200 REM new game
  show "Starting a new game..."
  level = 1
  score = 0
  return

300 REM load the last save
  show "Loading 'slot 1'"
  return

400 ' options
  show "Sound is "; snd; " (0 = off, 1 = on)"
  input "Toggle sound (y/n)"; a$
  if a$ = "y" then snd = 1 - snd
  return
