10
PRINT X
10 REM start
PRINT X REM note
PRINT Y
remark
' note
10 ' note
10 GOTO 20 ' note
PRINT "a'b"
DON'T
10