10
20 PRINT X
30 REM c

REM d
	 40 ' x
50
	X = 1
60 REM
l PRINT
70 : REM z
80 REM"q
DEFINE L = 90
100
l
110 'c
  l X
