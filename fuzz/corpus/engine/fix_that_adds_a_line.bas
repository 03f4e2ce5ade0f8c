100 REM x

110 PRINT"Hi there"
A=1 REM note
B=2
10 PRINT X ' c
20 PRINT Y
DEFINE A = 1
define a = 2
