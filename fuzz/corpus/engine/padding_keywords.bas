A
REM
x d
bbbbbbbbbbbbbbbb
PRINT "RE"
             DEF