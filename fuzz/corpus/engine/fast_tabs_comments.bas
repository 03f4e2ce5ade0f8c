	FOR I = 1 TO 10	' count
		PRINT I;	'x "y
	NEXT I REM done
A=1+REM x
PRINT "a"REM
Q	REM	"open
	IF A THEN GOTO 10 ' a 'b' c
E REM e
