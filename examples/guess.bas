REM Guess the number: a small game loop for the console
REM The player has TRIES guesses at a number from 1 to MaxNum.

DEFINE MaxNum = 100
DEFINE tries = 7

10 ' new game
  cls
  secret = INT(RND(1) * MAXNUM) + 1
  turn = 0
  print "I'm thinking of a number from 1 to "; MaxNum

20 ' ask again
  turn = turn + 1
  IF turn > TRIES THEN GOTO 80
  input "Your guess"; g
  IF g < secret THEN PRINT "Too low!"
  IF g > secret THEN PRINT "Too high!"
  IF g <> secret THEN GOTO 20
  PRINT "Got it in "; turn; " tries."
  GOTO 90

80
  PRINT "Out of tries - it was "; secret; "."

90
  Input "Play again (y/n)"; a$
  If a$ = "y" Or a$ = "Y" Then Goto 10
  End