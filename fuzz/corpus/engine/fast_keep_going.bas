10 PRINT X
A = B :C
20 REM after the stop
30 PRINT n ' c
40
	X = 1 REM x
n
